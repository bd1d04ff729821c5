#pragma once
// The test server's state file: product version, logins, user databases
// and faults.  parseState() validates a file strictly (a typo is an error,
// never a silent default); saveState() rewrites it atomically (temporary
// file, fsync, rename, fsync of the folder) so a crash leaves either the old
// or the new state on disk.

#include "Collation.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace state {

struct Login {
    QString name;
    QString password;
    bool sysadmin = false;
    QStringList deny; // catalog views whose SELECT is denied
    // Where a session starts when the login packet names no database.
    std::optional<QString> defaultDatabase;
    // Without it, listings show master, tempdb and the login's own databases.
    bool viewAnyDatabase = true;
};

struct Database {
    QString name;
    bool inUse = false;           // held by a session outside this server
    std::optional<QString> owner; // a login, which may see and drop it
};

// Where a fault acts: on accepting, on PRELOGIN, on LOGIN7, on every SQL
// batch, or inside a result with more than `after` rows.
enum class FaultStage { Connect, Prelogin, Login, Query, Rows };
enum class FaultAction { Refuse, Close, Delay, Garbage, Stall };

// The names the state file and the request log use.
QString faultStageName(FaultStage stage);
QString faultActionName(FaultAction action);

struct Fault {
    FaultStage stage = FaultStage::Query;
    FaultAction action = FaultAction::Close;
    int ms = 0;
    int after = 0;
    std::optional<QString> login;     // only this login's connections
    std::optional<QString> statement; // query stage: only batches that begin so
};

struct ServerState {
    QString version;
    Collation collation;
    QString instance; // empty: the default instance, no Browser
    QList<Login> logins;
    QList<Database> databases;
    QList<Fault> faults;
};

constexpr int MaxNameLength = 128;

// The system databases, which always exist with ids 1 to 4.
const QStringList& systemDatabases();

std::optional<ServerState> parseState(const QByteArray& json, QString& error);
QByteArray serializeState(const ServerState& s);

std::optional<ServerState> loadState(const QString& path, QString& error);
bool saveState(const QString& path, const ServerState& s, QString& error);

} // namespace state
