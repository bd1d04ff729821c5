#pragma once
// The server's catalog at run time: the product it claims to be, its logins
// and its databases (the four system databases with ids 1 to 4, the user
// databases from 5 in state-file order).  A drop is written through to the
// state file before it counts.

#include "protocol/Prelogin.h"
#include "state/ServerState.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

namespace engine {

struct Product {
    QString version; // as in the state file, e.g. "10.50.6000.34"
    tds::ProductVersion parts;
    QString name;                // e.g. "Microsoft SQL Server 2008 R2"
    QString versionText;         // @@VERSION
    qint32 microsoftVersion = 0; // @@MICROSOFTVERSION
};

Product describeProduct(const QString& version);

// The name this server goes by in messages and server properties.
QString serverName();

// SERVERPROPERTY's words for an edition: 'Edition' ("Developer Edition
// (64-bit)", "SQL Azure"), 'EngineEdition' (2 Standard and Web, 3
// Enterprise and Developer, 4 Express, 5 Azure SQL Database, 8 managed
// instance) and 'EditionID'.
QString editionText(state::Edition edition);
int engineEdition(state::Edition edition);
qint64 editionId(state::Edition edition);

struct DatabaseEntry {
    QString name;
    int id = 0;
    bool system = false;
    bool inUse = false; // held outside this server, from the state file
    bool singleUser = false;
};

// ALTER DATABASE ... SET SINGLE_USER | RESTRICTED_USER | MULTI_USER.
enum class UserAccess { Single, Restricted, Multi };

// A statement of a client session that is running now and takes time (a
// DROP DATABASE of a database that says so, a BACKUP): sys.dm_exec_requests
// and sysprocesses show it while it runs.
struct LiveRequest {
    int spid = 0;
    int databaseId = 0;
    QString login;
    QString command;
    double percent = 0;
    QDateTime started;  // none: when startRequest() is called
    int durationMs = 0; // how long it is expected to run
    // A BACKUP holds its database as a session in it does: no other
    // session may drop it meanwhile.
    bool holdsDatabase = false;
};

// The server's clock as its dates show it: the local time, kept without a
// zone as SQL Server's datetime is (the UTC tag stands for "no zone").
QDateTime serverNow();

// When the system databases were made, as sys.databases tells it.
QDateTime systemDatabaseCreated();

class Catalog {
public:
    Catalog(state::ServerState s, QString statePath);

    const Product& product() const { return product_; }
    const state::ServerState& state() const { return state_; }
    // In id order.
    const QList<DatabaseEntry>& databases() const { return entries_; }
    // Database names compare as the server's collation says.
    const DatabaseEntry* find(const QString& name) const;
    bool sameDatabase(const QString& a, const QString& b) const;
    const state::Collation& collation() const { return state_.collation; }
    const DatabaseEntry* findById(int id) const;
    // The state file's entry of a database of databases(); none for a
    // system one.  Constant time, for the listings of many databases.
    const state::Database* details(const DatabaseEntry& e) const;
    // The database's files: the state's, or for a system database those
    // SQL Server gives it (master/mastlog, ..., MSDBData/MSDBLog).
    QList<state::DatabaseFile> files(const DatabaseEntry& e) const;
    const state::Login* login(const QString& name) const;
    // The state file's entry of a user database; none for a system one.
    const state::Database* userDatabase(const QString& name) const;
    bool isSystemName(const QString& name) const;

    // Removes a user database and saves the state; on a failed save nothing
    // changes and `error` says why.
    bool drop(const QString& name, QString& error);
    // Sets a user database's access and saves the state; endHolders also
    // ends the staged sessions and the running request that hold it, and
    // takeSlot lets its slot taker in.  On a failed save nothing changes and
    // `error` says why.
    bool setUserAccess(const QString& name, UserAccess access, bool endHolders, bool takeSlot,
                       QString& error);

    // The long statements running now, one per session at most.
    const QList<LiveRequest>& liveRequests() const { return live_; }
    void startRequest(LiveRequest request);
    void setRequestPercent(int spid, double percent);
    void endRequest(int spid);
    // When the server started: the staged requests began then.
    const QDateTime& started() const { return started_; }

    // msdb's rows of a backup just made, saved with the state: kept with
    // the database's entry, or in the history when it has none (a system
    // database).  The backup gets the next backup_set_id.  On a failed
    // save nothing changes and `error` says why.
    bool recordBackup(const QString& database, state::Backup backup, QString& error);
    // Brings a restored database in, in place of the one of its name if
    // there is one (whose msdb history stays), and saves the state.
    bool restore(const state::Database& restored, QString& error);
    // A backup device being written: no second backup may open it.  False
    // when it is taken already.
    bool claimDevice(const QString& path);
    void releaseDevice(const QString& path);

private:
    // A database leaves (dropped, restored over): msdb keeps its backups.
    static void keepHistory(state::ServerState& s, const state::Database& leaving);

    state::ServerState state_;
    QString path_;
    Product product_;
    QList<DatabaseEntry> entries_;
    QList<LiveRequest> live_;
    int nextSetId_ = 1;
    QSet<QString> devices_;
    QDateTime started_ = serverNow();
};

// Logins and identifiers other than database names: without regard to case.
bool sameName(const QString& a, const QString& b);

} // namespace engine
