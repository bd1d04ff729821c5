#pragma once
// How Databases.Item finds a name: the exact name first, else the one name
// equal to it without regard to case.  Several such names are an error, as
// none is: guessing between them could remove the wrong database.

#include <QString>
#include <QStringList>

namespace dmo {

// The name to use; throws a RuntimeError when there is none or no single one.
QString matchingName(const QStringList& names, const QString& wanted);

} // namespace dmo
