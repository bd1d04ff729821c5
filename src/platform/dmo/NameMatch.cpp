#include "NameMatch.h"

#include "Failure.h"

#include "platform/runtime/RegionalSettings.h"

namespace dmo {

QString matchingName(const QStringList& names, const QString& wanted) {
    if (names.contains(wanted)) {
        return wanted;
    }
    const QLocale locale = rt::regionalLocale();
    const QString upperWanted = locale.toUpper(wanted);
    QStringList sameButCase;
    for (const QString& name : names) {
        if (locale.toUpper(name) == upperWanted) {
            sameButCase << name;
        }
    }
    if (sameButCase.size() == 1) {
        return sameButCase.front();
    }
    if (sameButCase.isEmpty()) {
        throw rt::RuntimeError(
            kNoServerMessage,
            QStringLiteral("[SQL-DMO]No se encuentra '%1' en la colección Databases.").arg(wanted));
    }
    throw rt::RuntimeError(
        kNoServerMessage,
        QStringLiteral("[SQL-DMO]'%1' puede ser cualquiera de estas bases de datos: %2.")
            .arg(wanted, sameButCase.join(QStringLiteral(", "))));
}

} // namespace dmo
