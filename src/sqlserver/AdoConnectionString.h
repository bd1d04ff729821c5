#pragma once
// The connection string conectaDSN opens: provider, server, the MASTER
// database, data type compatibility 80, login and password, in that order
// and with a closing ";".  A value that needs no quoting stands as typed;
// one holding ";", "=", a quote or blanks at either end is quoted by the
// OLE DB rules, so it reaches the server intact and adds no keys of its own.

#include <QString>

QString adoConnectionString(const QString& sProvider, const QString& sServidor,
                            const QString& sUsuario, const QString& sPassword);
