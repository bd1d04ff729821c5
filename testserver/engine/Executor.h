#pragma once
// Runs a recognised batch for one session against the catalog and writes
// SQL Server's answer as tokens: result sets, ENVCHANGE and INFO for USE
// and SET LANGUAGE, ERROR messages with SQL Server's numbers and texts, and
// one DONE per statement (the last one final).

#include "Catalog.h"
#include "protocol/TokenWriter.h"
#include "sql/Statements.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace engine {

struct SessionState {
    int spid = 0;
    QString login;
    bool sysadmin = false;
    QStringList deny;
    bool viewAnyDatabase = true; // else: master, tempdb and its own databases
    QStringList permissions;     // server permissions granted, upper case
    QStringList roles;           // fixed server roles besides sysadmin
    QString database = QStringLiteral("master");
    QString isolationLevel = QStringLiteral("READ COMMITTED");
    QString language = QStringLiteral("us_english");
    bool noCount = false;
};

// Whether any session, this one included, or a holder outside the server
// has the database in use.
using InUse = std::function<bool(const DatabaseEntry&)>;

// A statement that takes time on the server (a DROP DATABASE of a database
// whose state says so, a BACKUP DATABASE): the batch stops at it.  After
// durationMs, resume() ends it and runs the rest of the batch, writing
// their tokens; a batch given up instead (an attention) leaves the
// statement undone, or, for a backup, its set incomplete.
struct Pending {
    int durationMs = 0;
    LiveRequest request; // what sys.dm_exec_requests shows meanwhile
    std::function<std::optional<Pending>(tds::TokenWriter&)> resume;
    // Told how far the statement is (0 to 100) as it runs, at least every
    // 100 ms, and once with 100 before resume(): it writes what the
    // statement says meanwhile (a backup's STATS messages), to be sent at
    // once.  False: the statement stops there (a fault), and resume() at
    // once tells why.  None for a statement that says nothing meanwhile.
    std::function<bool(double percent, tds::TokenWriter&)> progress;
    // The batch is given up: what the statement leaves behind.
    std::function<void()> abandon;
};

std::optional<Pending> runBatch(std::shared_ptr<const sql::Batch> batch, SessionState& session,
                                Catalog& catalog, const InUse& inUse, tds::TokenWriter& out);

// The session's rights, as the statements check them.
// Its owner, or a member of its db_owner role (sysadmin aside).
bool isDbOwner(const Catalog& catalog, const SessionState& session, const DatabaseEntry& db);
// A server permission ("CREATE ANY DATABASE", ...): sysadmin has them all,
// dbcreator CREATE ANY DATABASE.
bool hasServerPermission(const SessionState& session, const QString& permission);

// A message as this server sends it (its name, state 1, line 1).
tds::ServerMessage serverMessage(int number, int severity, const QString& text, int state = 1);

} // namespace engine
