#include "Varios.h"

#include "AdoConnectionString.h"
#include "errors/zuErrores_Sencillo.h"
#include "platform/ado/Recordset.h"
#include "platform/dmo/Failure.h"
#include "platform/dmo/SQLServer.h"
#include "platform/runtime/CurrentError.h"
#include "platform/runtime/RegionalSettings.h"
#include "platform/ui/Services.h"

namespace {

const QString kExistenceQuery = QStringLiteral("SELECT DB_NAME(dbid) AS DB_NAME FROM sysdatabases");

// The connection rule shared by dimeTipoSQL and BorraDBSQL: a SQL Server
// login passed to Connect, or the integrated login for an empty one.
void connectPassingLogin(dmo::SQLServer& server, const QString& sServidor, const QString& sUsuario,
                         const QString& sPassword) {
    if (!sUsuario.isEmpty()) {
        server.Connect(sServidor, sUsuario, sPassword);
    } else {
        server.setLoginSecure(true);
        server.Connect(sServidor);
    }
}

// Connects, reads the major version and releases the server object
// without DisConnect.
int probedClientType(const QString& sServidor, const QString& sUsuario, const QString& sPassword) {
    constexpr int kMajorWithOwnProvider = 10;
    dmo::SQLServer server;
    connectPassingLogin(server, sServidor, sUsuario, sPassword);
    return server.VersionMajor() == kMajorWithOwnProvider ? 2 : 1;
}

// The server refuses to drop a database that sessions use.
constexpr std::int32_t kDatabaseInUse = 3702;
constexpr qsizetype kSessionsShown = 15;

QString sessionLine(const dmo::UsingSession& session) {
    QString line = QStringLiteral("- ") + session.login;
    if (!session.host.isEmpty()) {
        line += QStringLiteral(" en ") + session.host;
    }
    if (!session.program.isEmpty()) {
        line += QStringLiteral(" (") + session.program + u')';
    }
    return line;
}

// Whether the user asks to close the sessions that hold the database.
bool closeSessionsConfirmed(const QString& sBaseDatos, const QList<dmo::UsingSession>& sessions) {
    QString text = QStringLiteral("La base de datos '") + sBaseDatos +
                   QStringLiteral("' está en uso por estas sesiones:");
    for (qsizetype i = 0; i < sessions.size() && i < kSessionsShown; ++i) {
        text += QStringLiteral("\r\n") + sessionLine(sessions[i]);
    }
    if (sessions.size() > kSessionsShown) {
        text += QStringLiteral("\r\n- y %1 más").arg(sessions.size() - kSessionsShown);
    }
    if (sessions.isEmpty()) {
        text += QStringLiteral("\r\n- (el servidor no ha dicho cuáles)");
    }
    text += QStringLiteral("\r\n¿Desea cerrar esas sesiones, que perderán su trabajo sin "
                           "confirmar, y eliminar la base de datos?");
    return ui::MsgBox(text, ui::style::YesNoWarningDefaultNo) == ui::answer::Yes;
}

// After the server refused the drop because the database is in use: on the
// user's Yes, the database is set to single-user access, which ends the
// other sessions, and dropped on the same connection; a drop that still
// fails gives the database back to everyone.  Whatever does not happen
// raises, and the caller's failure path explains it.
void removeClosingSessions(dmo::Database& database, const rt::RuntimeError& refusal) {
    QList<dmo::UsingSession> sessions;
    try {
        sessions = database.UsingSessions();
    } catch (const rt::RuntimeError&) {
        throw refusal; // the offer needs the list; the refusal stands
    }
    if (!closeSessionsConfirmed(database.Name(), sessions)) {
        throw refusal;
    }
    database.SetSingleUserClosingSessions();
    try {
        database.Remove();
    } catch (const rt::RuntimeError& dropFailure) {
        try {
            database.SetMultiUser();
        } catch (const rt::RuntimeError& restoreFailure) {
            throw rt::RuntimeError(
                dropFailure.number(),
                dropFailure.description() +
                    QStringLiteral("\r\nLa base de datos ha quedado con acceso de un solo "
                                   "usuario: ") +
                    restoreFailure.description());
        }
        throw;
    }
}

bool sameName(const rt::Variant& value, const QString& sBaseDatos) {
    return value.kind() == rt::Variant::Kind::Text &&
           rt::upperCase(value.as<QString>()) == rt::upperCase(sBaseDatos);
}

} // namespace

int dimeTipoSQL(const QString& sServidor, const QString& sUsuario, const QString& sPassword,
                bool bSilencioso) {
    int nTipo = 0;
    rt::withFailurePath(
        [&] {
            ui::setMousePointer(ui::pointer::Hourglass);
            nTipo = probedClientType(sServidor, sUsuario, sPassword);
            ui::setMousePointer(ui::pointer::Arrow);
        },
        [&] {
            ui::setMousePointer(ui::pointer::Arrow);
            if (!bSilencioso) {
                reportError(QStringLiteral("zuConexionUtil.dimeTipoSQL"));
            }
        });
    return nTipo;
}

QString dimeProviderSQL(int nTipo) {
    QString sProvider;
    rt::withFailurePath(
        [&] {
            if (nTipo == 2) {
                sProvider = QStringLiteral("SQLNCLI10");
            } else if (nTipo == 1) {
                sProvider = QStringLiteral("SQLNCLI");
            }
        },
        [] { reportError(QStringLiteral("zuConexionUtil.dimeProviderSQL")); });
    return sProvider;
}

bool conectaDSN(const QString& sServidor, ado::Connection& cn, const QString& sUsuario,
                const QString& sPassword) {
    bool bProbado = true;
    const bool bCompleto = rt::withFailurePath(
        [&] {
            const int nTipo = dimeTipoSQL(sServidor, sUsuario, sPassword, false);
            if (nTipo == 0) {
                // The probe could not connect and has said why; the same
                // server and login would only fail again, under a false name.
                bProbado = false;
                return;
            }
            cn.setConnectionString(
                adoConnectionString(dimeProviderSQL(nTipo), sServidor, sUsuario, sPassword));
            cn.setIsolationLevel(ado::isolation::ReadUncommitted);
            cn.setCursorLocation(ado::cursor::UseServer);
            cn.Open(QString(), QString(), QString(), ado::kOptionUnspecified);
        },
        [] {
            ui::MsgBox(QStringLiteral("conectaDSN: ") + rt::currentError().description,
                       ui::style::Ok);
        });
    return bCompleto && bProbado;
}

void CargaBBDD(ListaBBDD& cmb, const QString& sServidor, const QString& sUsuario,
               const QString& sPassword) {
    if (sServidor.isEmpty()) {
        return;
    }
    rt::withFailurePath(
        [&] {
            cmb.Clear();
            dmo::SQLServer server;
            if (!sUsuario.isEmpty()) {
                server.setLoginSecure(false);
                server.setLogin(sUsuario);
                server.setPassword(sPassword);
            } else {
                server.setLoginSecure(true);
            }
            server.Connect(sServidor);
            for (const dmo::Database& database : server.Databases()) {
                cmb.AddItem(database.Name());
            }
            server.DisConnect();
        },
        [] {
            ui::MsgBox(QStringLiteral("CargaBBDD: ") + rt::currentError().description,
                       ui::style::Ok);
        });
}

namespace {

enum class Existencia { Existe, NoExiste, SinConexion };

// The existence check, telling a connection that failed (and has been
// explained to the user) from a database that is not there.  A failure of
// the query itself counts as not there.
Existencia existencia(const QString& sServidor, const QString& sBaseDatos, const QString& sUsuario,
                      const QString& sPassword) {
    Existencia resultado = Existencia::NoExiste;
    rt::withFailurePath(
        [&] {
            ado::Connection cn;
            if (!conectaDSN(sServidor, cn, sUsuario, sPassword)) {
                resultado = Existencia::SinConexion;
                return;
            }
            ado::Recordset rs;
            rs.Open(kExistenceQuery, cn, ado::cursorType::ForwardOnly, ado::lockType::Optimistic,
                    -1);
            while (!rs.Eof()) {
                if (sameName(rs.Fields(QStringLiteral("DB_NAME")).Value(), sBaseDatos)) {
                    // rs and cn are released, and thereby closed, on the way out.
                    resultado = Existencia::Existe;
                    return;
                }
                rs.MoveNext();
            }
            rs.Close();
            cn.Close();
        },
        [] {});
    return resultado;
}

} // namespace

bool bExisteDBSQL(const QString& sServidor, const QString& sBaseDatos, const QString& sUsuario,
                  const QString& sPassword) {
    return existencia(sServidor, sBaseDatos, sUsuario, sPassword) == Existencia::Existe;
}

bool BorraDBSQL(const QString& sServidor, const QString& sBaseDatos, const QString& sUsuario,
                const QString& sPassword) {
    bool bBorrada = false;
    rt::withFailurePath(
        [&] {
            const Existencia e = existencia(sServidor, sBaseDatos, sUsuario, sPassword);
            if (e == Existencia::SinConexion) {
                return; // the user has read why
            }
            if (e == Existencia::NoExiste) {
                ui::MsgBox(QStringLiteral("La Base de Datos a borrar no existe."),
                           ui::style::Critical);
                return;
            }
            dmo::SQLServer server;
            connectPassingLogin(server, sServidor, sUsuario, sPassword);
            dmo::Database database = server.Databases().Item(sBaseDatos);
            try {
                database.Remove();
            } catch (const rt::RuntimeError& refusal) {
                if (refusal.number() != dmo::foldedNumber(kDatabaseInUse)) {
                    throw;
                }
                removeClosingSessions(database, refusal);
            }
            server.DisConnect();
            bBorrada = true;
        },
        [] {
            ui::MsgBox(QStringLiteral("BorraDBSQL: Error borrando la Base de Datos (SQL Server).") +
                           QStringLiteral("\r\n") + rt::currentError().description,
                       ui::style::Ok);
        });
    return bBorrada;
}
