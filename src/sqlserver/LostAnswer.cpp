#include "LostAnswer.h"

#include "ServerConnection.h"
#include "platform/connection/Link.h"
#include "platform/connection/Timeouts.h"
#include "platform/dmo/SQLServer.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/ui/OffUiThread.h"

#include <QDeadlineTimer>

#include <thread>

namespace {

constexpr int kSqlServer2005 = 9;
constexpr std::chrono::seconds kPollEvery{1};

// Whether the login sees other sessions' requests: SQL Server 2000 shows
// every session; later ones need VIEW SERVER STATE.
bool seesOtherSessions(dmo::SQLServer& server, int major) {
    if (major < kSqlServer2005) {
        return true;
    }
    const dmo::QueryResults r =
        server.ExecuteWithResults(QStringLiteral("SELECT HAS_PERMS_BY_NAME(NULL, NULL, "
                                                 "'VIEW SERVER STATE') AS sees_all"));
    return !r.rows.isEmpty() && r.rows.first().value(0).value_or(QString()) == u"1";
}

// Whether the session runs a request now.
bool stillRunning(dmo::SQLServer& server, const LostAnswer& lost) {
    if (lost.major < kSqlServer2005) {
        const dmo::QueryResults r = server.ExecuteWithResults(
            QStringLiteral("SELECT cmd FROM master.dbo.sysprocesses WHERE spid = %1")
                .arg(lost.processId));
        return !r.rows.isEmpty() &&
               r.rows.first().value(0).value_or(QString()).trimmed() != u"AWAITING COMMAND";
    }
    const dmo::QueryResults r = server.ExecuteWithResults(
        QStringLiteral("SELECT command FROM sys.dm_exec_requests WHERE session_id = %1")
            .arg(lost.processId));
    return !r.rows.isEmpty();
}

} // namespace

AfterLostAnswer lookAfterLostAnswer(const LostAnswer& lost,
                                    const std::function<bool(dmo::SQLServer&)>& done,
                                    const std::function<QString(int)>& waiting,
                                    const std::function<void(const QString&)>& status,
                                    const std::function<QString(dmo::SQLServer&)>& afterwards) {
    // A new connection, never the command's shared session, which is gone.
    const connection::SessionShare::Use ownSession(nullptr);
    AfterLostAnswer after;
    try {
        dmo::SQLServer server;
        connectPassingLogin(server, lost.server, lost.login, lost.password);
        const QDeadlineTimer bound(std::chrono::seconds(connection::timeouts().stillRunning));
        const bool sees = seesOtherSessions(server, lost.major);
        after.request = sees ? AfterLostAnswer::Request::Ended : AfterLostAnswer::Request::Unseen;
        for (;;) {
            const bool running = sees ? stillRunning(server, lost) : !done(server);
            if (!running) {
                break;
            }
            if (bound.hasExpired()) {
                if (sees) {
                    after.request = AfterLostAnswer::Request::StillRunning;
                }
                break;
            }
            if (status) {
                const int left = static_cast<int>((bound.remainingTime() + 999) / 1000);
                ui::onUiThread([&] { status(waiting(left)); });
            }
            std::this_thread::sleep_for(kPollEvery);
        }
        after.done = done(server);
        if (afterwards) {
            after.then = afterwards(server);
        }
        server.DisConnect();
    } catch (const rt::RuntimeError& failure) {
        after.done.reset();
        after.why = failure.description();
    }
    return after;
}
