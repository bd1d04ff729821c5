#pragma once
// What the server knows of a database that is about to be dropped: what
// stands in the drop's way, what the drop would leave on the server's disk
// and what the user is about to lose.  Read on an open data-access
// connection in one round trip: one batch in which each fact is read on its
// own (sp_executesql inside TRY...CATCH), so that a view the server lacks or
// a right the login lacks leaves the other facts whole; such a fact is
// listed as unread, never a failure.  SQL Server 2000, which has no
// TRY...CATCH, gets its sysdatabases and sysaltfiles in statements of
// their own.

#include "platform/ado/Connection.h"
#include "platform/ado/Recordset.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct DatabaseFile {
    QString physicalName;
    bool offline = false;
    qint64 pages = 0; // of 8 KB
};

struct LastFullBackup {
    QDateTime finished; // the server's own clock, as msdb holds it
    QString device;     // empty when msdb does not say
    QDateTime started;
    qint64 bytes = 0;
};

// What the server is, for where and whether it can write a backup.
struct ServerFacts {
    int engineEdition = 0; // SERVERPROPERTY('EngineEdition')
    qint64 editionId = 0;  // SERVERPROPERTY('EditionID')
    // Its default backup folder; empty when it does not say (before SQL
    // Server 2019).
    QString defaultBackupPath;
    bool amazonRds = false;
    QDateTime now; // its clock
};

struct HoldingSession {
    QString login;
    QString host;
    QString program;
};

// A BACKUP or RESTORE that runs on the database now.
struct RunningRequest {
    QString command;
    double percentComplete = 0;
};

struct AvailabilityGroup {
    QString name; // empty when the group could not be read
    QString role; // PRIMARY, SECONDARY, or empty when unknown
};

// The facts a login may be unable to read, in the order the confirmation
// names them.
enum class Fact {
    State,
    Replication,
    Rights,
    Snapshots,
    Mirroring,
    AvailabilityGroup,
    Files,
    LogShipping,
    RunningRequests,
    LastBackup,
    Sessions,
    Server,
};

struct DatabaseFacts {
    QString name;  // as the server spells it
    int major = 0; // the server's major version
    QString state = QStringLiteral("ONLINE");
    QString userAccess = QStringLiteral("MULTI_USER");
    QStringList snapshots;  // database snapshots of it
    bool snapshot = false;  // it is itself a snapshot of another database
    bool encrypted = false; // transparent data encryption
    bool published = false; // replication
    bool mirrored = false;
    std::optional<AvailabilityGroup> group;
    bool logShippingPrimary = false;
    bool logShippingSecondary = false;
    QList<DatabaseFile> files;
    std::optional<LastFullBackup> lastFullBackup; // none: never backed up
    // msdb's full backups of that name are all of an earlier database (one
    // dropped or restored over since): none of them restores this one.
    bool backupsOfAnEarlierDatabase = false;
    QList<HoldingSession> sessions;
    QList<RunningRequest> backupsAndRestores;
    std::optional<int> databaseId;
    // Whether the login may drop it: CONTROL on it (its owner and db_owner
    // have it) or ALTER ANY DATABASE; on SQL Server 2000 its owner, sysadmin
    // or dbcreator.  None when that could not be read.
    std::optional<bool> mayDrop;
    QString loginName; // the login as the server names it
    // Whether the login sees other sessions' requests (VIEW SERVER STATE).
    bool seesOtherSessions = false;
    std::optional<ServerFacts> server; // none when unread
    // The facts the login could not read, in the order of Fact.
    QList<Fact> unread;

    bool isUnread(Fact fact) const { return unread.contains(fact); }
    bool online() const { return state == QLatin1String("ONLINE"); }
    // master, tempdb, model or msdb, by name or by their ids 1 to 4.
    bool systemDatabase() const;
    // The drop cannot succeed while any of these holds.
    bool blocked() const {
        return systemDatabase() || mayDrop == false || !snapshots.isEmpty() || published ||
               mirrored || group;
    }
    // The files a drop leaves on the server's disk: all of an offline
    // database's, or the offline ones of an online database.
    QStringList filesLeftOnDisk() const;
};

// The batch that reads the facts of the database `name` in one round trip,
// to go after another statement in that statement's batch; empty for a
// server without TRY...CATCH (SQL Server 2000).
QString factsBatch(const ado::Connection& cn, const QString& name);

// Reads the facts of the database `name` (the server's spelling) on `cn`:
// from the results that follow the current one of `sent`, when factsBatch()
// for that name went with its statement, else with statements of its own.
// Never raises: a query that fails leaves its facts unread.
DatabaseFacts readDatabaseFacts(ado::Connection& cn, const QString& name,
                                ado::Recordset* sent = nullptr);
