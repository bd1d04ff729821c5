#pragma once
// OLE DB connection strings: "key=value" pairs separated by ";", keys
// without regard to case, values optionally enclosed in '"' or "'" (the
// enclosing quote doubled inside).  The usual synonyms name one property:
// Server / Data Source / Address, User ID / UID, Password / PWD,
// Database / Initial Catalog.

#include <QString>

#include <map>

namespace ado {

struct ConnectionProperties {
    QString provider;
    QString server;
    QString database;
    QString userId;
    QString password;
};

// Every pair, keyed by the upper-cased key with synonyms folded to PROVIDER,
// SERVER, DATABASE, USER ID and PASSWORD; the last of repeated keys wins.
// Throws a RuntimeError when the text is not a connection string.
std::map<QString, QString> parseConnectionString(const QString& text);
ConnectionProperties connectionProperties(const QString& text);

// The value as it must stand after "key=": unchanged when it needs no
// quoting, else quoted so that it reads back exactly.  A value needs
// quoting when it holds ";", "=", a quote, or blanks at either end.
QString quoteValue(const QString& value);

} // namespace ado
