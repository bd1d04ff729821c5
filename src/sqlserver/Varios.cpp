#include "Varios.h"

#include "AdoConnectionString.h"
#include "ExistenceCheck.h"
#include "Removal.h"
#include "ServerConnection.h"
#include "errors/zuErrores_Sencillo.h"
#include "platform/dmo/SQLServer.h"
#include "platform/runtime/CurrentError.h"
#include "platform/ui/Services.h"

namespace {

// Connects, reads the major version and releases the server object
// without DisConnect.
int probedClientType(const QString& sServidor, const QString& sUsuario, const QString& sPassword) {
    constexpr int kMajorWithOwnProvider = 10;
    dmo::SQLServer server;
    connectPassingLogin(server, sServidor, sUsuario, sPassword);
    return server.VersionMajor() == kMajorWithOwnProvider ? 2 : 1;
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

bool bExisteDBSQL(const QString& sServidor, const QString& sBaseDatos, const QString& sUsuario,
                  const QString& sPassword) {
    return existencia(sServidor, sBaseDatos, sUsuario, sPassword) == Existencia::Existe;
}

bool BorraDBSQL(const QString& sServidor, const QString& sBaseDatos, const QString& sUsuario,
                const QString& sPassword) {
    Removal removal(sServidor, sBaseDatos, sUsuario, sPassword);
    return removal.prepare() == Removal::Outcome::Ready && removal.drop();
}
