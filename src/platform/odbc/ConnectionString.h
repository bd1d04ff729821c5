#pragma once
// ODBC connection strings for the FreeTDS driver: KEY=value pairs joined by
// ";".  A value that holds ";", "{", "}" or "=" (or blanks at either end,
// which the driver would trim) is enclosed in braces with "}" doubled, so
// any password a user can type reaches the driver intact.

#include <QString>

namespace odbc {

// The value as it must stand after "KEY=".
QString quoteValue(const QString& value);

class ConnectionStringBuilder {
public:
    ConnectionStringBuilder& add(const QString& key, const QString& value);
    const QString& text() const { return text_; }

private:
    QString text_;
};

} // namespace odbc
