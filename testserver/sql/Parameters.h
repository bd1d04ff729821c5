#pragma once
// The statement of an sp_executesql call with its parameters put in as
// literals, so that the statement recogniser sees what a batch would send.
// Parameters are found outside strings, quoted names and comments; their
// names compare without regard to case, as T-SQL variables do.

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace sql {

// Name (with "@") and literal of each parameter.
using ParameterLiterals = QList<std::pair<QString, QString>>;

QString withParameters(const QString& statement, const ParameterLiterals& literals);

// The parameter names an sp_executesql declaration list ("@a int, @b
// nvarchar(10) OUTPUT") declares, in order.
QStringList declaredParameters(const QString& declarations);

// A text as a Unicode string literal: N'...' with quotes doubled.
QString textLiteral(const QString& text);

} // namespace sql
