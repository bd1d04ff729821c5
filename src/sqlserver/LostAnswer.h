#pragma once
// When the answer to a long statement that changes the server is lost (its
// link went down or timed out after it was sent), what is true is learnt on
// a new connection.  While the session that sent it still has a request
// running (sys.dm_exec_requests; sysprocesses on SQL Server 2000), the look
// waits, within a bound the status line counts down; then it asks what the
// statement left.  A login that may not see other sessions' requests (no
// VIEW SERVER STATE) waits instead, within the same bound, for the
// statement's work to show.  Any long statement serves: a drop, a backup.

#include <QString>

#include <functional>
#include <optional>

namespace dmo {
class SQLServer;
}

struct LostAnswer {
    QString server; // as typed
    QString login;  // empty: the integrated login
    QString password;
    int major = 0;     // the server's major version
    int processId = 0; // the session that sent the statement
};

struct AfterLostAnswer {
    enum class Request { Ended, StillRunning, Unseen };
    Request request = Request::Ended;
    // Whether the statement's work shows on the server; none when the look
    // got no answer, and `why` says what kept it.
    std::optional<bool> done;
    QString why;
    QString then; // what `afterwards` said
};

// `done` asks the new connection whether the work shows (the database gone,
// the backup listed); `waiting` words the status line with the seconds
// left, and `status` shows it.  `afterwards`, when given, runs on the same
// connection once the look is over (to put back what the statement's
// session had changed), and its line is kept in `then`.
AfterLostAnswer lookAfterLostAnswer(const LostAnswer& lost,
                                    const std::function<bool(dmo::SQLServer&)>& done,
                                    const std::function<QString(int)>& waiting,
                                    const std::function<void(const QString&)>& status,
                                    const std::function<QString(dmo::SQLServer&)>& afterwards = {});
