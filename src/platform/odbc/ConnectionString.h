#pragma once
// ODBC connection strings for the FreeTDS driver: KEY=value pairs, each
// ended by ";".  A value that holds ";", "{", "}" or "=" is enclosed in
// braces.  FreeTDS ends a braced value at the first "};" and knows no
// doubling of "}", so braces hold any text but one containing "};"; such a
// value is refused with a clear message rather than sent cut short.  Every
// pair ends with ";" because FreeTDS reads a braced value at the very end
// of the string with its closing brace.

#include <QString>

namespace odbc {

// The value as it must stand after "KEY=".  Throws a RuntimeError for a
// value holding "};".
QString quoteValue(const QString& value);

class ConnectionStringBuilder {
public:
    ConnectionStringBuilder& add(const QString& key, const QString& value);
    const QString& text() const { return text_; }

private:
    QString text_;
};

} // namespace odbc
