#include "Varios.h"

#include "AdoConnectionString.h"
#include "errors/zuErrores_Sencillo.h"
#include "platform/ado/Recordset.h"
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
            server.Databases().Item(sBaseDatos).Remove();
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
