#pragma once
// The test server's state file: product version, logins, user databases
// and faults.  parseState() validates a file strictly (a typo is an error,
// never a silent default); saveState() rewrites it atomically (temporary
// file, fsync, rename, fsync of the folder) so a crash leaves either the old
// or the new state on disk.

#include "Collation.h"

#include <QDateTime>
#include <QJsonObject>
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
    // A Windows login (DOMINIO\\alicia), taken with a Kerberos ticket of
    // the matching principal (alicia@REALM); it has no password.
    bool integrated = false;
    // Server permissions granted ("ALTER ANY DATABASE", "VIEW SERVER STATE",
    // "CREATE ANY DATABASE"), in upper case, and fixed server roles besides
    // sysadmin ("dbcreator").
    QStringList permissions;
    QStringList roles;
};

// What the server needs to accept Kerberos logins: its keytab, and the
// realm its Windows logins belong to.
struct Kerberos {
    QString keytab;
    QString realm;
};

// A client session, staged in the state file, that has a database in use.
struct HoldingSession {
    QString login;
    QString host;
    QString program;
    friend bool operator==(const HoldingSession&, const HoldingSession&) = default;
};

// sys.databases' state_desc.
enum class DatabaseStatus {
    Online,
    Offline,
    Restoring,
    Recovering,
    RecoveryPending,
    Suspect,
    Emergency
};
// "ONLINE", "RECOVERY_PENDING", ... as the state file and state_desc write it.
QString databaseStatusName(DatabaseStatus status);

// An Always On availability group the database is joined to, and the role
// of this server's replica in it.
struct AvailabilityGroup {
    QString name;
    bool primary = true;
    friend bool operator==(const AvailabilityGroup&, const AvailabilityGroup&) = default;
};

enum class LogShipping { None, Primary, Secondary };

// One file of the database, as sys.master_files lists it.
struct DatabaseFile {
    QString name;
    QString physical;
    bool online = true;
    int size = 0; // 8 KB pages
    friend bool operator==(const DatabaseFile&, const DatabaseFile&) = default;
};

// One row of msdb's backup history for the database.
struct Backup {
    QDateTime finished; // UTC stands for "no zone": SQL Server keeps local times bare
    char type = 'D';    // D full, I differential, L log
    QString device;
    // When the database backed up was made; none: the database it is kept
    // with.  Another date is the history of an earlier database of that name.
    std::optional<QDateTime> databaseCreated;
    // backupset's other columns; a staged backup may leave them out (see
    // backupStarted() and the README for what stands in for them).
    std::optional<QString> name;
    std::optional<QString> description;
    std::optional<int> position;
    std::optional<QDateTime> started;
    std::optional<qint64> size; // bytes
    std::optional<qint64> compressedSize;
    bool checksums = false;
    bool copyOnly = false;
    bool damaged = false;
    // backup_set_id and media_set_id: given by the catalog when it loads the
    // state and as backups are made; never written to the file.
    int setId = 0;
    friend bool operator==(const Backup&, const Backup&) = default;
};

// When a backup began: as staged, or a second before it finished.
QDateTime backupStarted(const Backup& b);
// Its size in bytes: as staged, or 8 MB.
qint64 backupSize(const Backup& b);

// msdb's history of a database the server no longer has (dropped).
struct HistoricBackup {
    QString database;
    Backup backup; // its databaseCreated always set
    friend bool operator==(const HistoricBackup&, const HistoricBackup&) = default;
};

// A backup of the database fails as a real one would: the device refused
// (3201, access denied), the disk full at `atPercent` (3202), a damaged
// page found at `atPercent` when the backup checks pages (3043), or
// COMPRESSION refused (1844) whatever the edition says, as by a server
// whose edition a client reads wrongly.
struct BackupFault {
    enum class Kind { AccessDenied, DiskFull, DamagedPage, CompressionRefused };
    Kind kind = Kind::AccessDenied;
    int atPercent = 0;
    friend bool operator==(const BackupFault&, const BackupFault&) = default;
};

// A request (BACKUP DATABASE, RESTORE DATABASE, ...) running on the database.
struct RunningRequest {
    QString command;
    double percent = 0;
    friend bool operator==(const RunningRequest&, const RunningRequest&) = default;
};

struct Database {
    QString name;
    bool inUse = false;             // held by a session outside this server
    QList<HoldingSession> sessions; // held by these sessions, which sysprocesses lists
    std::optional<QString> owner;   // a login, which may see and drop it
    bool singleUser = false;        // ALTER DATABASE ... SET SINGLE_USER
    bool restrictedUser = false;    // ALTER DATABASE ... SET RESTRICTED_USER
    bool replicated = false;        // published for replication: DROP refuses it
    DatabaseStatus status = DatabaseStatus::Online;
    std::optional<QString> snapshotOf; // a database snapshot of that database
    bool mirrored = false;
    std::optional<AvailabilityGroup> availabilityGroup;
    LogShipping logShipping = LogShipping::None;
    std::optional<QList<DatabaseFile>> files; // none: databaseFiles() makes the usual two
    QList<Backup> backups;
    std::optional<QDateTime> created;      // none: databaseCreated() says when
    std::optional<RunningRequest> running; // holds the database as a session does
    // Enters the database the moment it becomes single-user, taking the slot.
    std::optional<HoldingSession> slotTaker;
    // Logins in the database's db_owner role, besides its owner.
    QStringList dbOwners;
    // How long a DROP DATABASE of it runs, in ms: sys.dm_exec_requests and
    // sysprocesses show the dropping session's request meanwhile.
    int dropTakesMs = 0;
    // Logins in its db_backupoperator role: they may back it up.
    QStringList backupOperators;
    // How long a BACKUP DATABASE of it runs, in ms; none: a short while.
    std::optional<int> backupTakesMs;
    std::optional<BackupFault> backupFault;
    bool encrypted = false; // transparent data encryption: sys.databases.is_encrypted
};

// The database's entry as a backup set keeps it: what a restore brings
// back.  What belongs to the server around it rather than to the database
// (sessions and requests, staged faults and timings, msdb's history,
// replication, mirroring, availability groups, log shipping, its state) is
// left out.
QJsonObject backupImage(const Database& d);
// Reads such an entry back; none, with `error`, when it is not one.
std::optional<Database> databaseFromImage(const QJsonObject& image, QString& error);

// When the database was made: the state file's date, or one fixed date.
QDateTime databaseCreated(const Database& d);

// The database's files: those of the state file, or a data and a log file
// named after it (offline with the database).
QList<DatabaseFile> databaseFiles(const Database& d);

// Where a fault acts: on accepting, on PRELOGIN, on LOGIN7, on every SQL
// batch, or inside a result with more than `after` rows.
enum class FaultStage { Connect, Prelogin, Login, Query, Rows };
// LoseAnswer (query stage): the batch runs in full, then the connection is
// closed before any of its answer is sent.  LoseLink (query stage): the
// connection is closed `ms` after the batch arrived, while the batch goes on
// to its end.
enum class FaultAction { Refuse, Close, Delay, Garbage, Stall, Trickle, LoseAnswer, LoseLink };

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

// TLS as SQL Server offers it.  "off": a certificate is there, the login
// packet is always encrypted and the whole session when the client asks;
// "required" (Force Encryption): the whole session always; "unsupported":
// no certificate, no TLS; "strict" (TDS 8.0 forced): TLS before any TDS
// byte, a PRELOGIN in clear is refused; "strict-capable" (SQL Server 2022
// and later without forcing): TDS 8.0 for a client that starts with TLS,
// as "off" for one that starts with PRELOGIN.  Without PEM paths the server
// makes a self-signed certificate at start.
enum class EncryptionMode { Off, Required, Unsupported, Strict, StrictCapable };

struct Encryption {
    EncryptionMode mode = EncryptionMode::Off;
    QString certificate;
    QString key;
    // TDS 7.x handshakes may agree on TLS 1.3 too, as no SQL Server does:
    // for a client that must see the certificate in clear.
    bool tls13 = false;
};

// Where a login is sent on, as Azure SQL's redirect policy sends a client:
// an ENVCHANGE of type 20 after the login's acknowledgement.
struct Routing {
    QString host;
    int port = 0;
};

// The system databases' own names, which they have with ids 1 to 4 unless
// the state gives them others.
const QStringList& systemDatabases();

// What the server says it is (SERVERPROPERTY('Edition'), 'EngineEdition',
// 'EditionID'), and so what it allows: no BACKUP at all on Azure SQL
// Database, none to disk on a managed instance, no compression on Express
// and Web.
enum class Edition {
    Developer,
    Enterprise,
    Standard,
    Web,
    Express,
    AzureSqlDatabase,
    AzureManagedInstance
};
// "Developer", "Azure SQL Database", ... as the state file writes it.
QString editionName(Edition edition);

// Where a backup to a bare file name goes, as SQL Server on Linux has it.
inline constexpr const char* DefaultBackupFolder = "/var/opt/mssql/data/";

struct ServerState {
    QString version;
    Collation collation;
    // The four system databases (ids 1 to 4), by the names SQL Server gives
    // them unless the state says otherwise.
    QStringList systemNames = systemDatabases();
    QString instance; // empty: the default instance, no Browser
    QList<Login> logins;
    QList<Database> databases;
    QList<Fault> faults;
    Encryption encryption;
    std::optional<Kerberos> kerberos;
    std::optional<Routing> routing;
    Edition edition = Edition::Developer;
    QString backupFolder = QString::fromLatin1(DefaultBackupFolder);
    // msdb's history of databases dropped since.
    QList<HistoricBackup> backupHistory;
};

constexpr int MaxNameLength = 128;

std::optional<ServerState> parseState(const QByteArray& json, QString& error);
QByteArray serializeState(const ServerState& s);

std::optional<ServerState> loadState(const QString& path, QString& error);
bool saveState(const QString& path, const ServerState& s, QString& error);

} // namespace state
