#pragma once
// Lets gtest print QStrings in failure output.
#include <QString>

#include <ostream>

QT_BEGIN_NAMESPACE
void PrintTo(const QString& s, std::ostream* os);
QT_END_NAMESPACE
