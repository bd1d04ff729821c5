#include "Removal.h"

#include "BackupTexts.h"
#include "ExistenceCheck.h"
#include "LostAnswer.h"
#include "RemovalTexts.h"
#include "ServerConnection.h"
#include "platform/connection/Link.h"
#include "platform/dmo/Failure.h"
#include "platform/dmo/NameMatch.h"
#include "platform/dmo/Quoting.h"
#include "platform/dmo/SQLServer.h"
#include "platform/runtime/CurrentError.h"
#include "platform/ui/Services.h"
#include "text/VisibleName.h"

namespace {

const QString kRemovalFailure =
    QStringLiteral("BorraDBSQL: Error borrando la Base de Datos (SQL Server).");

// The server refuses to drop a database that sessions use.
constexpr std::int32_t kDatabaseInUse = 3702;
// The login may not alter the database.
constexpr std::int32_t kNoAlterRight = 5011;
constexpr qsizetype kSessionsShown = 15;
const QString kNeedsAlter = QStringLiteral(
    "Para cerrar las sesiones, el inicio de sesión necesita el permiso ALTER sobre la base de "
    "datos.");

QString lineOf(const QString& text) {
    return text.isEmpty() ? QString() : QStringLiteral("\r\n") + text;
}

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

// Single-user access with ROLLBACK IMMEDIATE, which ends the other
// sessions; a login without ALTER on the database reads that it needs it.
void closeSessions(dmo::Database& database) {
    try {
        database.SetSingleUserClosingSessions();
    } catch (const rt::RuntimeError& failure) {
        if (!isServerMessage(failure, kNoAlterRight)) {
            throw;
        }
        throw rt::RuntimeError(failure.number(),
                               failure.description() + QStringLiteral("\r\n") + kNeedsAlter);
    }
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
    closeSessions(database);
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

void tellFilesLeft(const DatabaseFacts& facts) {
    if (!facts.filesLeftOnDisk().isEmpty()) {
        ui::MsgBox(filesLeftMessage(facts), ui::style::Information);
    }
}

// After a final backup every other session was kept out; one that came in
// all the same may have written what the backup lacks, so the drop does
// not close it.
void dropAfterBackup(dmo::Database& database) {
    try {
        database.Remove();
    } catch (const rt::RuntimeError& refusal) {
        if (!isServerMessage(refusal, kDatabaseInUse)) {
            throw;
        }
        throw rt::RuntimeError(
            refusal.number(),
            QStringLiteral("Otra sesión ha entrado en la base de datos después de la copia de "
                           "seguridad final, y la base de datos no se ha eliminado: la copia "
                           "podría no tener lo que esa sesión haya escrito."));
    }
}

bool databaseListed(dmo::SQLServer& server, const QString& name) {
    for (const dmo::Database& database : server.Databases()) {
        if (database.Name() == name) {
            return true;
        }
    }
    return false;
}

} // namespace

Removal::Removal(QString sServidor, QString sBaseDatos, QString sUsuario, QString sPassword)
    : sServidor_(std::move(sServidor)), sBaseDatos_(std::move(sBaseDatos)),
      sUsuario_(std::move(sUsuario)), sPassword_(std::move(sPassword)),
      sessions_(std::make_shared<connection::SessionShare>()) {}

Removal::~Removal() = default;

Removal::Outcome Removal::prepare() {
    const connection::SessionShare::Use shared(sessions_);
    std::optional<QString> ambiguity;
    // The facts go in the existence check's batch, under the name typed;
    // they serve when the server spells the name so, and are read again
    // under its own spelling otherwise.
    const AlongTheCheck facts{
        [&](const ado::Connection& cn) { return factsBatch(cn, sBaseDatos_); },
        [&](ado::Connection& cn, ado::Recordset& rs, const QStringList& matches) {
            QString name;
            try {
                name = dmo::matchingName(matches, sBaseDatos_);
            } catch (const rt::RuntimeError& failure) {
                ambiguity = failure.description(); // nothing is guessed
                return;
            }
            if (name == sBaseDatos_) {
                facts_ = readDatabaseFacts(cn, name, &rs);
                return;
            }
            while (rs.NextRecordset()) {
            }
            facts_ = readDatabaseFacts(cn, name);
        }};
    const Existencia e = existencia(sServidor_, sBaseDatos_, sUsuario_, sPassword_, &facts);
    if (e == Existencia::SinConexion) {
        return Outcome::Failed; // the user has read why
    }
    if (ambiguity) {
        ui::MsgBox(kRemovalFailure + QStringLiteral("\r\n") + *ambiguity, ui::style::Ok);
        return Outcome::Failed;
    }
    if (e == Existencia::NoExiste) {
        ui::MsgBox(QStringLiteral("La Base de Datos a borrar no existe."), ui::style::Critical);
        return Outcome::Failed;
    }
    if (facts_.blocked()) {
        ui::MsgBox(obstacleMessage(facts_, sServidor_), ui::style::Critical);
        return Outcome::Blocked;
    }
    offer_ = ::backupOffer(facts_);
    return Outcome::Ready;
}

bool Removal::drop(const StatusLine& status, bool finalBackup) {
    const connection::SessionShare::Use shared(sessions_);
    bool bBorrada = false;
    rt::withFailurePath(
        [&] {
            dmo::SQLServer server;
            connectPassingLogin(server, sServidor_, sUsuario_, sPassword_);
            dmo::Database database = server.Databases().Item(facts_.name);
            // Known before any statement that changes the server is sent:
            // the server may go on with it when its answer is lost.
            const std::int32_t processId = server.ProcessID();
            if (finalBackup && offer_.possible) {
                if (!keepOthersOutOrGiveBack(database)) {
                    return;
                }
                const BackupOutcome outcome = makeFinalBackup(
                    server, {facts_,
                             offer_,
                             {sServidor_, sUsuario_, sPassword_, facts_.major, processId},
                             [this](dmo::SQLServer& on) { return giveBackAccess(on); },
                             status});
                if (outcome.end != BackupOutcome::End::Proven) {
                    const bool chosen = outcome.end == BackupOutcome::End::Cancelled ||
                                        outcome.end == BackupOutcome::End::Declined;
                    ui::MsgBox(outcome.told, chosen ? ui::style::Information : ui::style::Ok);
                    return;
                }
                backedUp_ = outcome.file;
            }
            try {
                if (backedUp_) {
                    dropAfterBackup(database);
                } else {
                    dropDatabase(database, facts_);
                }
            } catch (const rt::RuntimeError& failure) {
                if (const auto told = obstacleRefusal(failure, facts_, sServidor_)) {
                    ui::MsgBox(*told + lineOf(backedUp_ ? giveBackAccess(server) : QString()),
                               ui::style::Critical);
                    return;
                }
                if (failure.number() == dmo::kNoServerMessage) {
                    bBorrada = outcomeOfALostAnswer(failure, processId, status);
                    return;
                }
                if (backedUp_) {
                    throw rt::RuntimeError(failure.number(),
                                           failure.description() + lineOf(giveBackAccess(server)));
                }
                throw;
            }
            server.DisConnect();
            bBorrada = true;
            tellWhatStays();
        },
        [] {
            ui::MsgBox(kRemovalFailure + QStringLiteral("\r\n") + rt::currentError().description,
                       ui::style::Ok);
        });
    return bBorrada;
}

// Keeps every other session out of the database from the backup to the
// drop: single-user access, at once when no other session uses it, else on
// the user's Yes to the in-use question, closing them.  False when the user
// keeps them (and has read that nothing was done).
bool Removal::keepOthersOut(dmo::Database& database) const {
    if (database.SetSingleUserIfAlone()) {
        return true;
    }
    QList<dmo::UsingSession> sessions;
    try {
        sessions = database.UsingSessions();
    } catch (const rt::RuntimeError&) {
        // The question names the sessions it can; the list is a help.
    }
    if (!closeSessionsConfirmed(facts_, sessions)) {
        ui::MsgBox(QStringLiteral("La base de datos '") + text::visibleName(facts_.name) +
                       QStringLiteral("' sigue en uso: no se ha hecho la copia de seguridad final "
                                      "ni se ha eliminado."),
                   ui::style::Information);
        return false;
    }
    closeSessions(database);
    return true;
}

// The single-user step, and when its answer is lost, whatever the server
// did, the earlier access given back on a new connection.
bool Removal::keepOthersOutOrGiveBack(dmo::Database& database) const {
    try {
        return keepOthersOut(database);
    } catch (const rt::RuntimeError& failure) {
        if (failure.number() != dmo::kNoServerMessage) {
            throw;
        }
        QString givenBack;
        try {
            const connection::SessionShare::Use ownSession(nullptr);
            dmo::SQLServer server;
            connectPassingLogin(server, sServidor_, sUsuario_, sPassword_);
            givenBack = giveBackAccess(server);
        } catch (const rt::RuntimeError& again) {
            givenBack = again.description();
        }
        throw rt::RuntimeError(failure.number(), failure.description() + lineOf(givenBack));
    }
}

// The line that tells how the database got back the access it had before
// the final backup; empty when it had single-user access already.
QString Removal::giveBackAccess(dmo::SQLServer& server) const {
    const QString access = earlierAccess(facts_);
    if (access == QLatin1String("SINGLE_USER")) {
        return {};
    }
    try {
        dmo::Database database = server.Databases().Item(facts_.name);
        const QString notRestored = restoreAccess(database, access);
        return notRestored.isEmpty() ? QStringLiteral("Se le ha devuelto el acceso que tenía (") +
                                           access + QStringLiteral(").")
                                     : stuckInSingleUser(database, access, notRestored).mid(2);
    } catch (const rt::RuntimeError& failure) {
        return QStringLiteral("No se ha podido devolverle el acceso que tenía (") + access +
               QStringLiteral("): ") + failure.description();
    }
}

// What stays after the drop: the final backup, and the files it left.
void Removal::tellWhatStays() const {
    if (backedUp_) {
        const QString access = earlierAccess(facts_);
        ui::MsgBox(
            backup_texts::afterDrop(sServidor_, facts_, *backedUp_,
                                    access == QLatin1String("SINGLE_USER") ? QString() : access),
            ui::style::Information);
    }
    tellFilesLeft(facts_);
}

// The drop (or the single-user step before it) was sent and its answer
// lost: what the server holds once it no longer runs the statement is the
// outcome.  True when the database is gone.
bool Removal::outcomeOfALostAnswer(const rt::RuntimeError& failure, int processId,
                                   const StatusLine& status) const {
    const QString failed = kRemovalFailure + QStringLiteral("\r\n") + failure.description();
    if (status) {
        ui::onUiThread([&] { status(lostAnswerStatus()); });
    }
    const AfterLostAnswer after = lookAfterLostAnswer(
        {sServidor_, sUsuario_, sPassword_, facts_.major, processId},
        [&](dmo::SQLServer& server) { return !databaseListed(server, facts_.name); },
        stillRemovingStatus, status);
    if (after.done == true) {
        ui::MsgBox(QStringLiteral("Se ha perdido la respuesta del servidor a la eliminación, pero "
                                  "la base de datos '") +
                       text::visibleName(facts_.name) +
                       QStringLiteral("' ya no está en el servidor: se ha eliminado."),
                   ui::style::Information);
        tellWhatStays();
        return true;
    }
    if (!after.done) {
        ui::MsgBox(failed +
                       QStringLiteral("\r\nNo se ha podido comprobar si la base de datos se ha "
                                      "eliminado: ") +
                       after.why,
                   ui::style::Ok);
        return false;
    }
    ui::MsgBox(failed + QStringLiteral("\r\n") + stillThereLine(after.request), ui::style::Ok);
    return false;
}
