#include "Varios.h"

#include "AdoConnectionString.h"
#include "RemovalTexts.h"
#include "errors/zuErrores_Sencillo.h"
#include "platform/ado/Recordset.h"
#include "platform/connection/Link.h"
#include "platform/dmo/Failure.h"
#include "platform/dmo/NameMatch.h"
#include "platform/dmo/Quoting.h"
#include "platform/dmo/SQLServer.h"
#include "platform/runtime/CurrentError.h"
#include "platform/runtime/RegionalSettings.h"
#include "platform/ui/Services.h"
#include "text/VisibleName.h"

#include <functional>

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

// A reading that rides on the existence check: its statements go in the
// check's own batch, after the existence query, and once the database is
// found it reads their results, on the check's open connection and
// recordset, with every name of the server equal to the one wanted without
// regard to case.
struct AlongTheCheck {
    std::function<QString(const ado::Connection&)> statements;
    std::function<void(ado::Connection&, ado::Recordset&, const QStringList&)> found;
};

// The existence check, telling a connection that failed (and has been
// explained to the user) from a database that is not there.  A failure of
// the query itself counts as not there.  With a reading `along`, the check
// reads every name, so that the one the management objects' Item will pick
// is known.
Existencia existencia(const QString& sServidor, const QString& sBaseDatos, const QString& sUsuario,
                      const QString& sPassword, const AlongTheCheck* along = nullptr) {
    Existencia resultado = Existencia::NoExiste;
    rt::withFailurePath(
        [&] {
            ado::Connection cn;
            if (!conectaDSN(sServidor, cn, sUsuario, sPassword)) {
                resultado = Existencia::SinConexion;
                return;
            }
            const QString more = along ? along->statements(cn) : QString();
            QStringList matches;
            ado::Recordset rs;
            rs.Open(more.isEmpty() ? kExistenceQuery : kExistenceQuery + u'\n' + more, cn,
                    ado::cursorType::ForwardOnly, ado::lockType::Optimistic, -1);
            while (!rs.Eof()) {
                const rt::Variant value = rs.Fields(QStringLiteral("DB_NAME")).Value();
                if (sameName(value, sBaseDatos)) {
                    if (!along) {
                        // rs and cn are released, and thereby closed, on the way out.
                        resultado = Existencia::Existe;
                        return;
                    }
                    matches << value.as<QString>();
                }
                rs.MoveNext();
            }
            if (matches.isEmpty()) {
                rs.Close();
                cn.Close();
                return;
            }
            resultado = Existencia::Existe;
            along->found(cn, rs, matches);
        },
        [] {});
    return resultado;
}

const QString kRemovalFailure =
    QStringLiteral("BorraDBSQL: Error borrando la Base de Datos (SQL Server).");

// The server refuses to drop a database that sessions use.
constexpr std::int32_t kDatabaseInUse = 3702;
// The login may not alter the database.
constexpr std::int32_t kNoAlterRight = 5011;
constexpr qsizetype kSessionsShown = 15;

bool isServerMessage(const rt::RuntimeError& failure, std::int32_t number) {
    return failure.number() == dmo::foldedNumber(number);
}

// The refusals of the obstacles that the facts tell before the confirmation.
std::optional<QString> obstacleRefusal(const rt::RuntimeError& failure, const DatabaseFacts& facts,
                                       const QString& sServidor) {
    for (const std::int32_t number : {3709, 3724, 3743, 3752}) {
        if (isServerMessage(failure, number)) {
            return refusalMessage(number, facts, sServidor);
        }
    }
    return std::nullopt;
}

// Whether the user asks to close the sessions that hold the database.
bool closeSessionsConfirmed(const DatabaseFacts& facts, const QList<dmo::UsingSession>& sessions) {
    QString text = QStringLiteral("La base de datos '") + text::visibleName(facts.name) +
                   QStringLiteral("' está en uso por estas sesiones:");
    for (qsizetype i = 0; i < sessions.size() && i < kSessionsShown; ++i) {
        text += QStringLiteral("\r\n") +
                sessionLine({sessions[i].login, sessions[i].host, sessions[i].program});
    }
    if (sessions.size() > kSessionsShown) {
        text += QStringLiteral("\r\n- y %1 más").arg(sessions.size() - kSessionsShown);
    }
    if (sessions.isEmpty()) {
        text += QStringLiteral("\r\n- (el servidor no ha dicho cuáles)");
    }
    for (const RunningRequest& request : facts.backupsAndRestores) {
        text +=
            QStringLiteral("\r\nSobre ella se está ejecutando ") + requestProgress(request) + u'.';
    }
    text += QStringLiteral("\r\n¿Desea cerrar esas sesiones, que perderán su trabajo sin "
                           "confirmar, y eliminar la base de datos?");
    return ui::MsgBox(text, ui::style::YesNoWarningDefaultNo) == ui::answer::Yes;
}

// The access the database had before the single-user step.
QString earlierAccess(const DatabaseFacts& facts) {
    return facts.userAccess.isEmpty() ? QStringLiteral("MULTI_USER") : facts.userAccess;
}

// Gives the database back its earlier access; the empty text when done,
// else why not.
QString restoreAccess(dmo::Database& database, const QString& access) {
    try {
        if (access == QLatin1String("RESTRICTED_USER")) {
            database.SetRestrictedUser();
        } else if (access != QLatin1String("SINGLE_USER")) {
            database.SetMultiUser();
        }
        return {};
    } catch (const rt::RuntimeError& failure) {
        return failure.description();
    }
}

// The database kept single-user access: who holds it now, and the
// statement that gives it back its access once that session is gone.
QString stuckInSingleUser(dmo::Database& database, const QString& access,
                          const QString& notRestored) {
    QString text = QStringLiteral("\r\nLa base de datos ha quedado con acceso de un solo usuario; "
                                  "no se le ha podido devolver el que tenía (") +
                   access + QStringLiteral("): ") + notRestored;
    try {
        for (const dmo::UsingSession& holder : database.UsingSessions()) {
            text += QStringLiteral("\r\nLa tiene ahora: ") +
                    sessionLine({holder.login, holder.host, holder.program}).mid(2);
        }
    } catch (const rt::RuntimeError&) {
        // Who holds it is a help, not a condition.
    }
    return text + QStringLiteral("\r\nCuando esa sesión termine, ejecute ") +
           text::visibleName(QStringLiteral("ALTER DATABASE ") +
                             dmo::bracketQuoted(database.Name()) + QStringLiteral(" SET ") +
                             access + u';');
}

// After the server refused the drop because the database is in use: on the
// user's Yes, the database is set to single-user access, which ends the
// other sessions, and dropped on the same connection; a drop that still
// fails gives the database back its earlier access.  Only an online
// database can be set so.  Whatever does not happen raises, and the
// caller explains it.
void removeClosingSessions(dmo::Database& database, const rt::RuntimeError& refusal,
                           const DatabaseFacts& facts) {
    if (!facts.online()) {
        throw rt::RuntimeError(
            refusal.number(),
            refusal.description() + QStringLiteral("\r\nLa base de datos no está en línea (") +
                text::visibleName(facts.state) +
                QStringLiteral("), así que no se le puede poner acceso de un solo usuario para "
                               "cerrar esas sesiones: ciérrelas en el servidor y vuelva a "
                               "intentarlo."));
    }
    QList<dmo::UsingSession> sessions;
    try {
        sessions = database.UsingSessions();
    } catch (const rt::RuntimeError&) {
        throw refusal; // the offer needs the list; the refusal stands
    }
    if (!closeSessionsConfirmed(facts, sessions)) {
        throw refusal;
    }
    try {
        database.SetSingleUserClosingSessions();
    } catch (const rt::RuntimeError& failure) {
        if (!isServerMessage(failure, kNoAlterRight)) {
            throw;
        }
        throw rt::RuntimeError(failure.number(),
                               failure.description() +
                                   QStringLiteral("\r\nPara cerrar las sesiones, el inicio de "
                                                  "sesión necesita el permiso ALTER sobre la "
                                                  "base de datos."));
    }
    try {
        database.Remove();
    } catch (const rt::RuntimeError& dropFailure) {
        if (dropFailure.number() == dmo::kNoServerMessage) {
            throw; // the link is gone: nothing more can be asked on it
        }
        const QString access = earlierAccess(facts);
        const QString notRestored = restoreAccess(database, access);
        QString text = isServerMessage(dropFailure, kDatabaseInUse)
                           ? QStringLiteral("Otra sesión ha entrado en la base de datos en cuanto "
                                            "ha quedado con acceso de un solo usuario, antes que "
                                            "Tarvelo, y la base de datos no se ha eliminado.")
                           : dropFailure.description();
        text += notRestored.isEmpty()
                    ? QStringLiteral("\r\nSe le ha devuelto el acceso que tenía (") + access +
                          QStringLiteral(").")
                    : stuckInSingleUser(database, access, notRestored);
        throw rt::RuntimeError(dropFailure.number(), text);
    }
}

void dropDatabase(dmo::Database& database, const DatabaseFacts& facts) {
    try {
        database.Remove();
    } catch (const rt::RuntimeError& refusal) {
        if (!isServerMessage(refusal, kDatabaseInUse)) {
            throw;
        }
        removeClosingSessions(database, refusal, facts);
    }
}

enum class StillThere { Yes, No, Unknown };

// Looks for the database again, on a new connection within the usual
// bounds; `why` says what kept the look from an answer.
StillThere lookAgain(const QString& sServidor, const QString& sUsuario, const QString& sPassword,
                     const QString& name, QString& why) {
    const connection::SessionShare::Use ownSession(nullptr);
    try {
        dmo::SQLServer server;
        connectPassingLogin(server, sServidor, sUsuario, sPassword);
        for (const dmo::Database& database : server.Databases()) {
            if (database.Name() == name) {
                return StillThere::Yes;
            }
        }
        server.DisConnect();
        return StillThere::No;
    } catch (const rt::RuntimeError& failure) {
        why = failure.description();
        return StillThere::Unknown;
    }
}

void tellFilesLeft(const DatabaseFacts& facts) {
    if (!facts.filesLeftOnDisk().isEmpty()) {
        ui::MsgBox(filesLeftMessage(facts), ui::style::Information);
    }
}

// The drop was sent and its answer lost: what the server holds now is the
// outcome.  True when the database is gone.
bool outcomeOfALostAnswer(const rt::RuntimeError& failure, const QString& sServidor,
                          const QString& sUsuario, const QString& sPassword,
                          const DatabaseFacts& facts) {
    const QString failed = kRemovalFailure + QStringLiteral("\r\n") + failure.description();
    QString why;
    switch (lookAgain(sServidor, sUsuario, sPassword, facts.name, why)) {
    case StillThere::No:
        ui::MsgBox(QStringLiteral("Se ha perdido la respuesta del servidor a la eliminación, pero "
                                  "la base de datos '") +
                       text::visibleName(facts.name) +
                       QStringLiteral("' ya no está en el servidor: se ha eliminado."),
                   ui::style::Information);
        tellFilesLeft(facts);
        return true;
    case StillThere::Yes:
        ui::MsgBox(failed + QStringLiteral("\r\nLa base de datos sigue en el servidor."),
                   ui::style::Ok);
        return false;
    case StillThere::Unknown:
        break;
    }
    ui::MsgBox(failed +
                   QStringLiteral("\r\nNo se ha podido comprobar si la base de datos se ha "
                                  "eliminado: ") +
                   why,
               ui::style::Ok);
    return false;
}

} // namespace

bool bExisteDBSQL(const QString& sServidor, const QString& sBaseDatos, const QString& sUsuario,
                  const QString& sPassword) {
    return existencia(sServidor, sBaseDatos, sUsuario, sPassword) == Existencia::Existe;
}

RemovalPlan prepareRemoval(const QString& sServidor, const QString& sBaseDatos,
                           const QString& sUsuario, const QString& sPassword) {
    RemovalPlan plan;
    plan.sessions = std::make_shared<connection::SessionShare>();
    const connection::SessionShare::Use shared(plan.sessions);
    std::optional<QString> ambiguity;
    // The facts go in the existence check's batch, under the name typed;
    // they serve when the server spells the name so, and are read again
    // under its own spelling otherwise.
    const AlongTheCheck facts{
        [&](const ado::Connection& cn) { return factsBatch(cn, sBaseDatos); },
        [&](ado::Connection& cn, ado::Recordset& rs, const QStringList& matches) {
            QString name;
            try {
                name = dmo::matchingName(matches, sBaseDatos);
            } catch (const rt::RuntimeError& failure) {
                ambiguity = failure.description(); // nothing is guessed
                return;
            }
            if (name == sBaseDatos) {
                plan.facts = readDatabaseFacts(cn, name, &rs);
                return;
            }
            while (rs.NextRecordset()) {
            }
            plan.facts = readDatabaseFacts(cn, name);
        }};
    const Existencia e = existencia(sServidor, sBaseDatos, sUsuario, sPassword, &facts);
    if (e == Existencia::SinConexion) {
        return plan; // the user has read why
    }
    if (ambiguity) {
        ui::MsgBox(kRemovalFailure + QStringLiteral("\r\n") + *ambiguity, ui::style::Ok);
        return plan;
    }
    if (e == Existencia::NoExiste) {
        ui::MsgBox(QStringLiteral("La Base de Datos a borrar no existe."), ui::style::Critical);
        return plan;
    }
    if (plan.facts.blocked()) {
        ui::MsgBox(obstacleMessage(plan.facts, sServidor), ui::style::Critical);
        plan.outcome = RemovalPlan::Outcome::Blocked;
        return plan;
    }
    plan.outcome = RemovalPlan::Outcome::Ready;
    return plan;
}

bool BorraDBSQL(const QString& sServidor, const QString& sBaseDatos, const QString& sUsuario,
                const QString& sPassword) {
    const RemovalPlan plan = prepareRemoval(sServidor, sBaseDatos, sUsuario, sPassword);
    return plan.outcome == RemovalPlan::Outcome::Ready &&
           BorraDBSQL(sServidor, sUsuario, sPassword, plan);
}

bool BorraDBSQL(const QString& sServidor, const QString& sUsuario, const QString& sPassword,
                const RemovalPlan& plan) {
    const DatabaseFacts& facts = plan.facts;
    const connection::SessionShare::Use shared(plan.sessions);
    bool bBorrada = false;
    rt::withFailurePath(
        [&] {
            dmo::SQLServer server;
            connectPassingLogin(server, sServidor, sUsuario, sPassword);
            dmo::Database database = server.Databases().Item(facts.name);
            try {
                dropDatabase(database, facts);
            } catch (const rt::RuntimeError& failure) {
                if (const auto told = obstacleRefusal(failure, facts, sServidor)) {
                    ui::MsgBox(*told, ui::style::Critical);
                    return;
                }
                if (failure.number() != dmo::kNoServerMessage) {
                    throw;
                }
                bBorrada = outcomeOfALostAnswer(failure, sServidor, sUsuario, sPassword, facts);
                return;
            }
            server.DisConnect();
            bBorrada = true;
            tellFilesLeft(facts);
        },
        [] {
            ui::MsgBox(kRemovalFailure + QStringLiteral("\r\n") + rt::currentError().description,
                       ui::style::Ok);
        });
    return bBorrada;
}
