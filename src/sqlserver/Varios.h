#pragma once
// The SQL Server procedures of the module Varios: the provider choice and the
// data-access connection, the database list, the existence check and the
// removal of a database (whose steps live in Removal.h).
// Each one handles its own failures (a message, then its neutral result) and
// creates and releases its library objects within the call.

#include "platform/ado/Connection.h"

#include <QString>

// What CargaBBDD fills: a QComboBox adapter (window/) and a test list both satisfy it.
class ListaBBDD {
public:
    virtual ~ListaBBDD() = default;
    virtual void Clear() = 0; // removes every entry and empties the text field
    virtual void AddItem(const QString& sNombre) = 0; // at the end of the list
    virtual int ListCount() const = 0;
};

// The client type of a server: 2 for major version 10, 1 for any other,
// 0 when the probe failed (reported unless bSilencioso).
int dimeTipoSQL(const QString& sServidor, const QString& sUsuario, const QString& sPassword,
                bool bSilencioso);
// "SQLNCLI10" for type 2, "SQLNCLI" for 1, the empty text for any other.
QString dimeProviderSQL(int nTipo);
// Opens cn on the server's MASTER database; false after a message on failure.
// When the probe of dimeTipoSQL fails, its message is the only one: the
// connection is not attempted.
bool conectaDSN(const QString& sServidor, ado::Connection& cn, const QString& sUsuario,
                const QString& sPassword);
// Clears cmb and adds every database name of the server, in the server's order.
void CargaBBDD(ListaBBDD& cmb, const QString& sServidor, const QString& sUsuario,
               const QString& sPassword);
// Whether the server has a database of that name, ignoring case; silent.
bool bExisteDBSQL(const QString& sServidor, const QString& sBaseDatos, const QString& sUsuario,
                  const QString& sPassword);

// Drops the database without asking: the removal of Removal.h, prepared
// and carried out at once.  Every false result has been explained to the
// user, once: a server that cannot be reached is not said to lack the
// database.
bool BorraDBSQL(const QString& sServidor, const QString& sBaseDatos, const QString& sUsuario,
                const QString& sPassword);
