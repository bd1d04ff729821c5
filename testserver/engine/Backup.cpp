#include "Backup.h"

#include <QJsonArray>

#include <cerrno>
#include <cmath>

namespace engine {

namespace {

using Type = tds::Column::Type;

// How long a backup runs when the database does not say.
constexpr int kDefaultBackupMs = 50;
// The longest device name SQL Server takes.
constexpr int kMaxDevicePath = 259;
constexpr qint64 kPageBytes = 8192;

// The Windows error SQL Server names for what the operating system said.
QString osErrorText(int osError) {
    switch (osError) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("2(The system cannot find the file specified.)");
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return QStringLiteral("5(Access is denied.)");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("112(There is not enough space on the disk.)");
    default:
        return QStringLiteral(
            "1117(The request could not be performed because of an I/O device error.)");
    }
}

const QString kDeviceInUse = QStringLiteral(
    "32(The process cannot access the file because it is being used by another process.)");

// The cause, then 3013 naming the statement that ends.
[[noreturn]] void refuse(const QString& statement, const StatementError& cause) {
    throw StatementErrors{{cause, StatementError{3013, 16, {statement}}}};
}

// A relative device name goes into the server's backup folder, as SQL
// Server puts it there; msdb then records the whole path.
QString devicePath(const QString& given, const QString& folder) {
    if (given.startsWith(u'/')) {
        return given;
    }
    QString base = folder;
    while (base.endsWith(u'/')) {
        base.chop(1);
    }
    return base + u'/' + given;
}

struct FilePages {
    QString name;
    qint64 pages = 0;
};

// The pages a backup of these files reads: a data file whole, of a log
// file (.ldf) the little that is active.
QList<FilePages> pagesOf(const QList<state::DatabaseFile>& files) {
    QList<FilePages> out;
    for (const state::DatabaseFile& f : files) {
        const bool log = f.physical.endsWith(QLatin1String(".ldf"), Qt::CaseInsensitive);
        out.append({f.name, log ? std::min<qint64>(f.size, 2) : f.size});
    }
    return out;
}

qint64 totalPages(const QList<FilePages>& files) {
    qint64 n = 0;
    for (const FilePages& f : files) {
        n += f.pages;
    }
    return n;
}

// "0.286": thousandths, as 3014 writes seconds and MB/sec.
QString thousandths(qint64 n) {
    return QStringLiteral("%1.%2").arg(n / 1000).arg(n % 1000, 3, 10, QLatin1Char('0'));
}

// 4035 for each file, then 3014.
QList<StatementError> processed(const QString& statement, const QString& database,
                                const QList<FilePages>& files, int position, qint64 ms) {
    QList<StatementError> out;
    for (const FilePages& f : files) {
        out.append(
            {4035, 10, {QString::number(f.pages), database, f.name, QString::number(position)}});
    }
    const qint64 pages = totalPages(files);
    const qint64 elapsed = std::max<qint64>(ms, 1);
    const double mbPerSecond =
        static_cast<double>(pages * kPageBytes) / 1048576.0 / (static_cast<double>(elapsed) / 1000);
    out.append({3014,
                10,
                {statement, QString::number(pages), thousandths(elapsed),
                 thousandths(std::llround(mbPerSecond * 1000))}});
    return out;
}

// The STATS percentages after `from` up to `to` (100 always closes them).
QList<int> statsSteps(int from, int to, qint64 stats) {
    QList<int> steps;
    for (int p = from;;) {
        p = p + stats < 100 ? static_cast<int>(p + stats) : 100;
        if (p > to || p <= from) {
            return steps;
        }
        steps.append(p);
        from = p;
    }
}

QList<StatementError> statsMessages(const QList<int>& steps) {
    QList<StatementError> out;
    for (const int p : steps) {
        out.append({3211, 10, {QString::number(p)}});
    }
    return out;
}

// STATS and FILE take 1 to 100 and a position from 1 (3250 otherwise).
void checkRanges(const QString& statement, std::optional<qint64> stats,
                 std::optional<qint64> file) {
    if (stats && (*stats < 1 || *stats > 100)) {
        refuse(statement, {3250, 16, {QString::number(*stats), QStringLiteral("STATS")}});
    }
    if (file && (*file < 1 || *file > 32767)) {
        refuse(statement, {3250, 16, {QString::number(*file), QStringLiteral("FILE")}});
    }
}

void checkConflicts(const QString& statement, const QStringList& conflicting) {
    if (!conflicting.isEmpty()) {
        refuse(statement, {3031, 16, {conflicting.first(), conflicting.last()}});
    }
}

// Azure SQL Database takes no BACKUP or RESTORE; a managed instance none
// to or from disk (it only backs up to URLs).
void checkEdition(const Catalog& catalog, const QString& statement) {
    const state::Edition e = catalog.state().edition;
    if (e == state::Edition::AzureSqlDatabase || e == state::Edition::AzureManagedInstance) {
        throw StatementErrors{{StatementError{40510, 16, {statement}}}};
    }
}

// Why a database cannot be opened for a backup, when it is not online.
std::optional<StatementError> notOnline(const state::Database& d) {
    using S = state::DatabaseStatus;
    switch (d.status) {
    case S::Offline:
        return StatementError{942, 14, {d.name}};
    case S::Restoring:
        return StatementError{927, 14, {d.name}};
    case S::Recovering:
        return StatementError{922, 14, {d.name}};
    case S::RecoveryPending:
        return StatementError{945, 14, {d.name}};
    case S::Suspect:
        return StatementError{926, 14, {d.name}};
    case S::Emergency:
        return StatementError{3033, 16};
    case S::Online:
        break;
    }
    return std::nullopt;
}

bool mayBackUp(const Catalog& catalog, const SessionState& session, const DatabaseEntry& db) {
    const state::Database* d = catalog.details(db);
    return session.sysadmin || isDbOwner(catalog, session, db) ||
           (d && std::any_of(d->backupOperators.begin(), d->backupOperators.end(),
                             [&](const QString& o) { return sameName(o, session.login); }));
}

// The device's sets, for a statement that reads them: 3201 when it cannot
// be opened, 3254 when empty, 3241 when it holds no backup of this server.
BackupMedia readDevice(const QString& statement, const QString& path) {
    const MediaRead read = readMedia(path);
    switch (read.outcome) {
    case MediaRead::Outcome::Read:
        break;
    case MediaRead::Outcome::Empty:
        refuse(statement, {3254, 16, {path}});
    case MediaRead::Outcome::NotMedia:
        refuse(statement, {3241, 16, {path}});
    case MediaRead::Outcome::Missing:
    case MediaRead::Outcome::Failed:
        refuse(statement, {3201, 16, {path, osErrorText(read.osError)}});
    }
    return read.media;
}

// The set at FILE = n (1 without it): 4038 when there is none, 3256 when
// it was never finished.
BackupSet setAt(const QString& statement, const QString& path, const BackupMedia& media,
                std::optional<qint64> file) {
    const int position = static_cast<int>(file.value_or(1));
    const BackupSet* set = media.at(position);
    if (!set) {
        refuse(statement, {4038, 16, {QString::number(position), path}});
    }
    if (!set->complete) {
        refuse(statement, {3256, 16, {path}});
    }
    return *set;
}

// VERIFYONLY and HEADERONLY read a backup with the right to create a
// database (262 without it), as SQL Server asks.
void checkReadRight(const QString& statement, const SessionState& session) {
    if (!hasServerPermission(session, QStringLiteral("CREATE ANY DATABASE"))) {
        refuse(statement, {262, 14, {QStringLiteral("CREATE DATABASE"), QStringLiteral("master")}});
    }
}

QString restoreStatement(sql::Restore::Kind kind) {
    switch (kind) {
    case sql::Restore::Kind::VerifyOnly:
        return QStringLiteral("RESTORE VERIFYONLY");
    case sql::Restore::Kind::HeaderOnly:
        return QStringLiteral("RESTORE HEADERONLY");
    case sql::Restore::Kind::Database:
        break;
    }
    return QStringLiteral("RESTORE DATABASE");
}

// 3013's words for the statement that ends: VERIFYONLY ends as "VERIFY
// DATABASE", as SQL Server words it.
QString endingName(sql::Restore::Kind kind) {
    return kind == sql::Restore::Kind::VerifyOnly ? QStringLiteral("VERIFY DATABASE")
                                                  : restoreStatement(kind);
}

// The device of a RESTORE, read, and the set it names.
BackupSet setOf(const sql::Restore& r, const SessionState& session, const Catalog& catalog,
                QString& path) {
    checkEdition(catalog, restoreStatement(r.kind));
    const QString ending = endingName(r.kind);
    checkConflicts(ending, r.conflicting);
    checkRanges(ending, r.stats, r.file);
    if (r.kind != sql::Restore::Kind::Database) {
        checkReadRight(ending, session);
    }
    path = devicePath(r.device, catalog.state().backupFolder);
    return setAt(ending, path, readDevice(ending, path), r.file);
}

} // namespace

struct BackupRun::Plan {
    QString database; // as the server spells it
    int databaseId = 0;
    int spid = 0;
    QString login;
    QString device;
    BackupMedia media; // as written: this set, incomplete, last
    qsizetype setIndex = 0;
    QList<FilePages> files;
    QString dataFile; // the first file's physical name, which 3043 names
    std::optional<qint64> stats;
    std::optional<state::BackupFault> fault; // one that stops this backup
    int durationMs = kDefaultBackupMs;
    state::Backup record; // msdb's row, finished at the end
};

BackupRun::BackupRun(Plan plan) : plan_(std::make_unique<Plan>(std::move(plan))) {}

BackupRun::~BackupRun() = default;

int BackupRun::durationMs() const { return plan_->durationMs; }

LiveRequest BackupRun::request() const {
    LiveRequest r;
    r.spid = plan_->spid;
    r.databaseId = plan_->databaseId;
    r.login = plan_->login;
    r.command = QStringLiteral("BACKUP DATABASE");
    r.started = plan_->media.sets[plan_->setIndex].started;
    r.durationMs = plan_->durationMs;
    r.holdsDatabase = true;
    return r;
}

QList<StatementError> BackupRun::advance(double percent) {
    if (stopped_) {
        return {};
    }
    int reach = static_cast<int>(std::floor(std::clamp(percent, 0.0, 100.0)));
    if (plan_->fault && reach >= plan_->fault->atPercent) {
        // It stops there: what it reached before is all it tells.
        reach = plan_->fault->atPercent - 1;
        stopped_ = true;
    }
    if (!plan_->stats) {
        return {};
    }
    const QList<int> steps = statsSteps(reported_, reach, *plan_->stats);
    if (!steps.isEmpty()) {
        reported_ = steps.last();
    }
    return statsMessages(steps);
}

void BackupRun::release(Catalog& catalog) {
    if (!ended_) {
        ended_ = true;
        catalog.releaseDevice(plan_->device);
    }
}

void BackupRun::abandon(Catalog& catalog) { release(catalog); }

Outcome BackupRun::finish(Catalog& catalog) {
    release(catalog);
    Plan& p = *plan_;
    const QString statement = QStringLiteral("BACKUP DATABASE");
    auto failed = [&](const StatementError& cause) {
        return Outcome{{cause, StatementError{3013, 16, {statement}}}, true};
    };
    if (stopped_) {
        if (p.fault->kind == state::BackupFault::Kind::DiskFull) {
            return failed({3202, 16, {p.device, osErrorText(ENOSPC)}});
        }
        return failed({3043, 16, {p.database, QStringLiteral("1:153"), p.dataFile}});
    }
    BackupSet& set = p.media.sets[p.setIndex];
    set.finished = serverNow();
    set.complete = true;
    int osError = 0;
    if (!writeMedia(p.device, p.media, osError)) {
        return failed({3202, 16, {p.device, osErrorText(osError)}});
    }
    Outcome done;
    if (p.stats) {
        done.messages = statsMessages(statsSteps(reported_, 100, *p.stats));
    }
    const qint64 ms = set.started.msecsTo(set.finished);
    QList<StatementError> said = processed(statement, p.database, p.files, set.position, ms);
    p.record.finished = set.finished;
    QString why;
    if (!catalog.recordBackup(p.database, p.record, why)) {
        // The backup is there; only msdb's history of it is not.
        said.insert(said.size() - 1, StatementError{3009, 16});
        done.failed = true;
    }
    done.messages += said;
    return done;
}

std::shared_ptr<BackupRun> startBackup(const sql::BackupDatabase& b, const SessionState& session,
                                       Catalog& catalog) {
    const QString statement = QStringLiteral("BACKUP DATABASE");
    checkEdition(catalog, statement);
    checkConflicts(statement, b.conflicting);
    checkRanges(statement, b.stats, std::nullopt);
    const DatabaseEntry* db = catalog.find(b.database);
    if (!db) {
        refuse(statement, {911, 16, {b.database}});
    }
    constexpr int kTempdb = 2;
    if (db->id == kTempdb) {
        refuse(statement, {3147, 16});
    }
    const state::Database* d = catalog.details(*db);
    if (d && d->snapshotOf) {
        refuse(statement, {3002, 16});
    }
    if (const auto why = d ? notOnline(*d) : std::nullopt) {
        refuse(statement, *why);
    }
    if (!mayBackUp(catalog, session, *db)) {
        refuse(statement, {262, 14, {statement, db->name}});
    }
    const state::Edition edition = catalog.state().edition;
    const bool compressionRefused =
        edition == state::Edition::Express || edition == state::Edition::Web ||
        (d && d->backupFault &&
         d->backupFault->kind == state::BackupFault::Kind::CompressionRefused);
    if (b.compression.value_or(false) && compressionRefused) {
        refuse(
            statement,
            {1844, 16, {QStringLiteral("BACKUP DATABASE WITH COMPRESSION"), editionText(edition)}});
    }
    if (b.device.isEmpty()) {
        refuse(statement, {3044, 16});
    }
    const QString path = devicePath(b.device, catalog.state().backupFolder);
    if (path.size() > kMaxDevicePath) {
        refuse(statement, {3057, 16, {QString::number(kMaxDevicePath)}});
    }
    if (d && d->backupFault && d->backupFault->kind == state::BackupFault::Kind::AccessDenied) {
        refuse(statement, {3201, 16, {path, osErrorText(EACCES)}});
    }
    if (!catalog.claimDevice(path)) {
        refuse(statement, {3201, 16, {path, kDeviceInUse}});
    }
    try {
        BackupRun::Plan plan;
        plan.database = db->name;
        plan.databaseId = db->id;
        plan.spid = session.spid;
        plan.login = session.login;
        plan.device = path;
        plan.stats = b.stats;
        const QList<state::DatabaseFile> files = catalog.files(*db);
        plan.files = pagesOf(files);
        plan.dataFile = files.value(0).physical;
        if (d) {
            plan.durationMs = d->backupTakesMs.value_or(kDefaultBackupMs);
            // A damaged page stops only a backup that checks pages.
            if (d->backupFault &&
                (d->backupFault->kind == state::BackupFault::Kind::DiskFull ||
                 (d->backupFault->kind == state::BackupFault::Kind::DamagedPage && b.checksum))) {
                plan.fault = d->backupFault;
            }
        }
        // NOINIT appends a set to what the device holds; INIT replaces its
        // sets.  What is not a backup is never written over.
        const MediaRead read = readMedia(path);
        if (read.outcome == MediaRead::Outcome::NotMedia) {
            refuse(statement, {3241, 16, {path}});
        }
        if (read.outcome == MediaRead::Outcome::Failed) {
            refuse(statement, {3201, 16, {path, osErrorText(read.osError)}});
        }
        if (!b.init) {
            plan.media = read.media;
        }
        BackupSet set;
        for (const BackupSet& s : plan.media.sets) {
            set.position = std::max(set.position, s.position + 1);
        }
        const QDateTime created = d ? state::databaseCreated(*d) : systemDatabaseCreated();
        // The files go with it by name, so that a restore puts them back
        // where they were.
        state::Database image;
        if (d) {
            image = *d;
        } else {
            image.name = db->name;
        }
        image.files = files;
        const qint64 bytes = totalPages(plan.files) * kPageBytes;
        const bool compressed = b.compression.value_or(false);
        set.name = b.name;
        set.description = b.description;
        set.databaseName = db->name;
        set.databaseCreated = created;
        set.started = serverNow();
        set.copyOnly = b.copyOnly;
        set.checksums = b.checksum;
        set.compressed = compressed;
        set.singleUser = db->singleUser;
        set.size = bytes;
        set.compressedSize = compressed ? bytes / 4 : bytes;
        set.softwareVersion = catalog.product().version;
        set.userName = session.login;
        set.database = state::backupImage(image);
        plan.media.sets.append(set);
        plan.setIndex = plan.media.sets.size() - 1;
        int osError = 0;
        if (!writeMedia(path, plan.media, osError)) {
            refuse(statement, {3201, 16, {path, osErrorText(osError)}});
        }
        plan.record.type = 'D';
        plan.record.device = path;
        plan.record.databaseCreated = created;
        plan.record.name = b.name;
        plan.record.description = b.description;
        plan.record.position = set.position;
        plan.record.started = set.started;
        plan.record.size = set.size;
        plan.record.compressedSize = set.compressedSize;
        plan.record.checksums = b.checksum;
        plan.record.copyOnly = b.copyOnly;
        return std::make_shared<BackupRun>(std::move(plan));
    } catch (const StatementErrors&) {
        catalog.releaseDevice(path);
        throw;
    }
}

Outcome verifyBackup(const sql::Restore& r, const SessionState& session, const Catalog& catalog) {
    QString path;
    const BackupSet set = setOf(r, session, catalog, path);
    if (r.checksum && !set.checksums) {
        refuse(endingName(r.kind), {3187, 16});
    }
    return Outcome{{StatementError{3262, 10, {QString::number(set.position)}}}, false};
}

namespace {

int versionPart(const QString& version, int part) {
    return version.section(u'.', part, part).toInt();
}

tds::Value textValue(const std::optional<QString>& s) {
    return s ? tds::Value{s->toStdU16String()} : tds::Value{};
}

tds::Value dateValue(const QDateTime& t) {
    static const QDate epoch(1900, 1, 1);
    const int ms = t.time().msecsSinceStartOfDay();
    return tds::Value{tds::DateTime{static_cast<std::int32_t>(epoch.daysTo(t.date())),
                                    static_cast<std::uint32_t>((ms * 3 + 5) / 10)}};
}

std::vector<tds::Value> headerRow(const BackupSet& s) {
    auto number = [](qint64 n) { return tds::Value{static_cast<std::int32_t>(n)}; };
    return {textValue(s.name),
            textValue(s.description),
            number(1), // BackupType: database
            tds::Value{},
            number(s.compressed ? 1 : 0),
            number(s.position),
            number(2), // DeviceType: disk
            textValue(s.userName),
            textValue(serverName()),
            textValue(s.databaseName),
            dateValue(s.databaseCreated),
            tds::Value{static_cast<std::int64_t>(s.size)},
            dateValue(s.started),
            dateValue(s.finished),
            number(versionPart(s.softwareVersion, 0)),
            number(versionPart(s.softwareVersion, 1)),
            number(versionPart(s.softwareVersion, 2)),
            textValue(serverName()),
            tds::Value{false},
            tds::Value{s.singleUser},
            tds::Value{s.checksums},
            tds::Value{false},
            tds::Value{s.copyOnly},
            textValue(QStringLiteral("Database")),
            tds::Value{static_cast<std::int64_t>(s.compressedSize)}};
}

} // namespace

Table backupHeaders(const sql::Restore& r, const SessionState& session, const Catalog& catalog) {
    Table t;
    // SQL Server's columns in its order, those of a full database backup.
    t.columns = {{u"BackupName", Type::NVarChar, 128, true},
                 {u"BackupDescription", Type::NVarChar, 255, true},
                 {u"BackupType", Type::SmallInt, 0, false},
                 {u"ExpirationDate", Type::DateTime, 0, true},
                 {u"Compressed", Type::TinyInt, 0, true},
                 {u"Position", Type::SmallInt, 0, false},
                 {u"DeviceType", Type::TinyInt, 0, true},
                 {u"UserName", Type::NVarChar, 128, true},
                 {u"ServerName", Type::NVarChar, 128, true},
                 {u"DatabaseName", Type::NVarChar, 128, true},
                 {u"DatabaseCreationDate", Type::DateTime, 0, true},
                 {u"BackupSize", Type::Numeric, 0, true},
                 {u"BackupStartDate", Type::DateTime, 0, true},
                 {u"BackupFinishDate", Type::DateTime, 0, true},
                 {u"SoftwareVersionMajor", Type::Int, 0, true},
                 {u"SoftwareVersionMinor", Type::Int, 0, true},
                 {u"SoftwareVersionBuild", Type::Int, 0, true},
                 {u"MachineName", Type::NVarChar, 128, true},
                 {u"IsReadOnly", Type::Bit, 0, true},
                 {u"IsSingleUser", Type::Bit, 0, true},
                 {u"HasBackupChecksums", Type::Bit, 0, true},
                 {u"IsDamaged", Type::Bit, 0, true},
                 {u"IsCopyOnly", Type::Bit, 0, true},
                 {u"BackupTypeDescription", Type::NVarChar, 60, true},
                 {u"CompressedBackupSize", Type::BigInt, 0, true}};
    if (r.file) {
        QString path;
        t.rows.push_back(headerRow(setOf(r, session, catalog, path)));
        return t;
    }
    // Without FILE: every set the device holds whole.
    checkEdition(catalog, restoreStatement(r.kind));
    checkReadRight(endingName(r.kind), session);
    const QString path = devicePath(r.device, catalog.state().backupFolder);
    for (const BackupSet& s : readDevice(endingName(r.kind), path).sets) {
        if (s.complete) {
            t.rows.push_back(headerRow(s));
        }
    }
    return t;
}

namespace {

// RESTORE DATABASE's right: sysadmin, dbcreator, the right to create a
// database for a new one, its owners for an existing one.
bool mayRestore(const Catalog& catalog, const SessionState& session, const DatabaseEntry* db) {
    if (hasServerPermission(session, QStringLiteral("CREATE ANY DATABASE"))) {
        return true;
    }
    return db && isDbOwner(catalog, session, *db);
}

// Logins the set names that this server does not have are left out.
void keepKnownLogins(state::Database& d, const Catalog& catalog) {
    if (d.owner && !catalog.login(*d.owner)) {
        d.owner.reset();
    }
    for (QStringList* members : {&d.dbOwners, &d.backupOperators}) {
        members->removeIf([&](const QString& l) { return catalog.login(l) == nullptr; });
    }
}

} // namespace

Outcome restoreDatabase(const sql::Restore& r, const SessionState& session, Catalog& catalog,
                        const InUse& inUse) {
    const QString statement = QStringLiteral("RESTORE DATABASE");
    checkEdition(catalog, statement);
    checkConflicts(statement, r.conflicting);
    checkRanges(statement, r.stats, r.file);
    const DatabaseEntry* existing = catalog.find(r.database);
    if (!mayRestore(catalog, session, existing)) {
        refuse(statement, {3110, 14, {r.database}});
    }
    if (existing && existing->system) {
        constexpr int kMaster = 1, kTempdb = 2;
        if (existing->id == kMaster) {
            refuse(statement, {3108, 16});
        }
        refuse(statement,
               existing->id == kTempdb ? StatementError{3147, 16} : StatementError{3101, 16});
    }
    QString path;
    const BackupSet set = setOf(r, session, catalog, path);
    QString why;
    std::optional<state::Database> restored = state::databaseFromImage(set.database, why);
    if (!restored) {
        refuse(statement, {3241, 16, {path}});
    }
    if (existing) {
        const state::Database* d = catalog.details(*existing);
        const bool same = catalog.sameDatabase(set.databaseName, existing->name) && d &&
                          state::databaseCreated(*d) == set.databaseCreated;
        if (!r.replace) {
            refuse(statement, same ? StatementError{3159, 16, {existing->name}}
                                   : StatementError{3154, 16, {existing->name}});
        }
        if (inUse(*existing)) {
            refuse(statement, {3101, 16});
        }
    }
    restored->name = existing ? existing->name : r.database;
    // Files the set holds as the state names them by default stay unnamed.
    state::Database unnamed = *restored;
    unnamed.files.reset();
    if (restored->files && *restored->files == state::databaseFiles(unnamed)) {
        restored->files.reset();
    }
    // The set's files go back where they were: not over another database's.
    QList<StatementError> clashes;
    for (const state::DatabaseFile& f : state::databaseFiles(*restored)) {
        for (const DatabaseEntry& other : catalog.databases()) {
            if (&other == existing) {
                continue;
            }
            for (const state::DatabaseFile& theirs : catalog.files(other)) {
                if (theirs.physical == f.physical) {
                    clashes.append({1834, 16, {f.physical, other.name}});
                    clashes.append({3156, 16, {f.name, f.physical}});
                }
            }
        }
    }
    if (!clashes.isEmpty()) {
        clashes.append({3119, 16});
        clashes.append({3013, 16, {statement}});
        throw StatementErrors{clashes};
    }
    keepKnownLogins(*restored, catalog);
    if (!r.recovery) {
        restored->status = state::DatabaseStatus::Restoring;
    }
    const QDateTime started = serverNow();
    if (!catalog.restore(*restored, why)) {
        throw StatementErrors{{StatementError{3013, 16, {statement, why}, "state file"}}};
    }
    Outcome done;
    if (r.stats) {
        done.messages = statsMessages(statsSteps(0, 100, *r.stats));
    }
    done.messages += processed(statement, restored->name, pagesOf(state::databaseFiles(*restored)),
                               set.position, started.msecsTo(serverNow()));
    return done;
}

} // namespace engine
