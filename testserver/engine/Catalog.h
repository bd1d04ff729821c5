#pragma once
// The server's catalog at run time: the product it claims to be, its logins
// and its databases (the four system databases with ids 1 to 4, the user
// databases from 5 in state-file order).  A drop is written through to the
// state file before it counts.

#include "protocol/Prelogin.h"
#include "state/ServerState.h"

#include <QList>
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

struct DatabaseEntry {
    QString name;
    int id = 0;
    bool system = false;
    bool inUse = false; // held outside this server, from the state file
    bool singleUser = false;
    // msdb's media_set_id of its first backup: numbered once, at start, so
    // that a drop does not renumber the others.
    int firstMediaSet = 1;
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
};

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
    void startRequest(const LiveRequest& request);
    void setRequestPercent(int spid, double percent);
    void endRequest(int spid);

private:
    state::ServerState state_;
    QString path_;
    Product product_;
    QList<DatabaseEntry> entries_;
    QList<LiveRequest> live_;
};

// Logins and identifiers other than database names: without regard to case.
bool sameName(const QString& a, const QString& b);

} // namespace engine
