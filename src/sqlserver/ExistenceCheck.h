#pragma once
// The existence check of bExisteDBSQL: the names of MASTER read on a
// data-access connection that conectaDSN opens, compared with the one wanted
// without regard to case.  It tells a connection that failed (and has been
// explained to the user) from a database that is not there; a failure of
// the query itself counts as not there.

#include "platform/ado/Connection.h"
#include "platform/ado/Recordset.h"

#include <QString>
#include <QStringList>

#include <functional>

enum class Existencia { Existe, NoExiste, SinConexion };

// A reading that rides on the existence check: its statements go in the
// check's own batch, after the existence query, and once the database is
// found it reads their results, on the check's open connection and
// recordset, with every name of the server equal to the one wanted without
// regard to case.
struct AlongTheCheck {
    std::function<QString(const ado::Connection&)> statements;
    std::function<void(ado::Connection&, ado::Recordset&, const QStringList&)> found;
};

// With a reading `along`, the check reads every name, so that the one the
// management objects' Item will pick is known.
Existencia existencia(const QString& sServidor, const QString& sBaseDatos, const QString& sUsuario,
                      const QString& sPassword, const AlongTheCheck* along = nullptr);
