#pragma once
// BACKUP DATABASE to a disk file and RESTORE DATABASE, VERIFYONLY and
// HEADERONLY from one, with SQL Server's checks, numbers and texts.  A
// backup takes time (the database's "backupTakes"): it starts here, tells
// its STATS percentages as it goes and ends later; the restores run at
// once.  What they say comes back as messages for the executor to send,
// so that a TRY block sees them as SQL Server's do.

#include "BackupMedia.h"
#include "Catalog.h"
#include "Executor.h"
#include "Messages.h"
#include "protocol/TokenWriter.h"
#include "sql/Statements.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace engine {

// Errors that end a statement together, the last one the summary (3013).
// Inside a TRY block the CATCH hears the last, as on SQL Server.
struct StatementErrors {
    QList<StatementError> errors;
};

// What a statement said, and whether it failed.
struct Outcome {
    QList<StatementError> messages;
    bool failed = false;
};

// A BACKUP DATABASE whose checks passed and whose device holds its set,
// marked incomplete, until it ends.
class BackupRun {
public:
    struct Plan; // what the checks found, for the run
    explicit BackupRun(Plan plan);
    ~BackupRun();
    BackupRun(const BackupRun&) = delete;
    BackupRun& operator=(const BackupRun&) = delete;

    int durationMs() const;
    // What sys.dm_exec_requests shows while it runs.
    LiveRequest request() const;
    // The STATS messages (3211) of the percentages passed up to `percent`;
    // a fault staged at a percentage stops the backup there.
    QList<StatementError> advance(double percent);
    bool stopped() const { return stopped_; }
    // Ends the backup: the set marked complete, msdb's rows and the
    // state saved, 4035 per file and 3014; or, when a fault stopped it,
    // the set left incomplete and the fault's error with 3013.
    Outcome finish(Catalog& catalog);
    // The batch was given up: the set stays incomplete on the device.
    void abandon(Catalog& catalog);

private:
    void release(Catalog& catalog);

    std::unique_ptr<Plan> plan_;
    int reported_ = 0; // the last STATS percentage told
    bool stopped_ = false;
    bool ended_ = false;
};

// Checks a BACKUP DATABASE and, when it may go on, writes its set to the
// device marked incomplete.  Throws StatementErrors (the cause, then
// 3013) when it may not; the device is left as it was.
std::shared_ptr<BackupRun> startBackup(const sql::BackupDatabase& b, const SessionState& session,
                                       Catalog& catalog);

// RESTORE VERIFYONLY: 3262 for a complete, readable set.  Throws
// StatementErrors.
Outcome verifyBackup(const sql::Restore& r, const SessionState& session, const Catalog& catalog);

// A result set, as RESTORE HEADERONLY answers.
struct Table {
    std::vector<tds::Column> columns;
    std::vector<std::vector<tds::Value>> rows;
};

// RESTORE HEADERONLY: one row per complete set (or the one asked for).
// Throws StatementErrors.
Table backupHeaders(const sql::Restore& r, const SessionState& session, const Catalog& catalog);

// RESTORE DATABASE: the database as the set holds it, saved in the state,
// then 4035 per file and 3014.  Throws StatementErrors.
Outcome restoreDatabase(const sql::Restore& r, const SessionState& session, Catalog& catalog,
                        const InUse& inUse);

} // namespace engine
