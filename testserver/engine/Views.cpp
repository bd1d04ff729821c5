#include "Views.h"

#include "Messages.h"

#include <QHash>
#include <QTimeZone>
#include <QUuid>

#include <array>
#include <memory>

namespace engine {

namespace {

using tds::Column;
using tds::Value;
using Type = tds::Column::Type;

Value text(const QString& s) { return Value{s.toStdU16String()}; }

// nchar columns: SQL Server pads them with blanks to their length.
Value padded(const QString& s, int length) { return text(s.leftJustified(length, u' ')); }

Value guid(const QUuid& u) {
    tds::Guid g;
    const QByteArray bytes = u.toRfc4122();
    std::copy(bytes.begin(), bytes.end(), g.bytes.begin());
    return Value{g};
}

// A GUID that stays the same for the same words, start after start.
QUuid stableGuid(const QString& words) {
    static const QUuid space(QStringLiteral("{6d1f0c52-7e1a-4c3b-9a57-3e1b8a2f7c10}"));
    return QUuid::createUuidV5(space, words.toCaseFolded());
}

Value dateTime(const QDateTime& t) {
    static const QDate epoch(1900, 1, 1);
    const int ms = t.time().msecsSinceStartOfDay();
    return Value{tds::DateTime{static_cast<std::int32_t>(epoch.daysTo(t.date())),
                               static_cast<std::uint32_t>((ms * 3 + 5) / 10)}};
}

// The rows of a view, shared by its columns' value functions.
template <typename Row> class Builder {
public:
    Builder(QString name, QList<Row> rows)
        : rows_(std::make_shared<const QList<Row>>(std::move(rows))) {
        view_.name = std::move(name);
        view_.rows = rows_->size();
    }
    Builder& column(const char16_t* name, Type type, int maxChars, bool nullable,
                    std::function<Value(const Row&)> f) {
        view_.columns.append(
            {Column{name, type, maxChars, nullable},
             [rows = rows_, f = std::move(f)](qsizetype i) { return f((*rows)[i]); }});
        return *this;
    }
    View done(QStringList star, bool sortable = true) {
        view_.star = std::move(star);
        view_.sortable = sortable;
        return std::move(view_);
    }

private:
    std::shared_ptr<const QList<Row>> rows_;
    View view_;
};

struct DbRow {
    const DatabaseEntry* entry;
    const state::Database* details; // null for a system database
};

QString stateDesc(const DbRow& r) {
    return state::databaseStatusName(r.details ? r.details->status : state::DatabaseStatus::Online);
}

QString userAccessDesc(const DbRow& r) {
    if (r.entry->singleUser) {
        return QStringLiteral("SINGLE_USER");
    }
    return r.details && r.details->restrictedUser ? QStringLiteral("RESTRICTED_USER")
                                                  : QStringLiteral("MULTI_USER");
}

// sysdatabases.status, with SQL Server 2000's bits.
std::int32_t statusBits(const DbRow& r) {
    if (!r.details) {
        return r.entry->singleUser ? 4096 : 0;
    }
    using S = state::DatabaseStatus;
    static const QHash<S, std::int32_t> bits = {
        {S::Online, 0},    {S::Restoring, 32}, {S::RecoveryPending, 64}, {S::Recovering, 128},
        {S::Suspect, 256}, {S::Offline, 512},  {S::Emergency, 32768}};
    const state::Database& d = *r.details;
    return bits.value(d.status) | (d.snapshotOf ? 1024 : 0) | (d.restrictedUser ? 2048 : 0) |
           (r.entry->singleUser ? 4096 : 0);
}

// A session with a database in use, or a request running: this one, one of
// another client of this server running a long statement, or one staged in
// the state.
struct Process {
    int spid = 0;
    int dbid = 0;
    QString login;
    QString host;
    QString program;
    QString cmd;                                  // sysprocesses' cmd
    std::optional<state::RunningRequest> running; // a request running now
    QDateTime started;                            // when it began
    qint64 remainingMs = 0;                       // what it expects still to take
};

// A login sees every session with VIEW SERVER STATE (on SQL Server 2000,
// always), else its own alone.
bool seesEverySession(const Catalog& catalog, const SessionState& session) {
    return session.sysadmin || session.permissions.contains(QStringLiteral("VIEW SERVER STATE")) ||
           catalog.product().parts.major < 9;
}

QList<Process> processes(const Catalog& catalog, const SessionState& session) {
    const DatabaseEntry* own = catalog.find(session.database);
    QList<Process> rows{{session.spid,
                         own ? own->id : 1,
                         session.login,
                         {},
                         {},
                         QStringLiteral("SELECT"),
                         {},
                         {},
                         0}};
    if (!seesEverySession(catalog, session)) {
        return rows;
    }
    const QDateTime now = serverNow();
    for (const LiveRequest& r : catalog.liveRequests()) {
        if (r.spid != session.spid) {
            const qint64 remaining = std::max<qint64>(0, r.durationMs - r.started.msecsTo(now));
            rows.append({r.spid,
                         r.databaseId,
                         r.login,
                         {},
                         {},
                         r.command,
                         state::RunningRequest{r.command, r.percent},
                         r.started,
                         remaining});
        }
    }
    const QString idle = QStringLiteral("AWAITING COMMAND");
    int spid = 1000; // above this server's own session numbers
    for (const DatabaseEntry& e : catalog.databases()) {
        const state::Database* d = catalog.details(e);
        if (d == nullptr) {
            continue;
        }
        if (d->inUse) {
            rows.append({spid++, e.id, QStringLiteral("sa"), {}, {}, idle, {}, {}, 0});
        }
        for (const state::HoldingSession& h : d->sessions) {
            rows.append({spid++, e.id, h.login, h.host, h.program, idle, {}, {}, 0});
        }
        if (d->running) {
            rows.append({spid++,
                         e.id,
                         QStringLiteral("sa"),
                         {},
                         QStringLiteral("SQLCMD"),
                         d->running->command,
                         d->running,
                         catalog.started(),
                         0});
        }
    }
    return rows;
}

class Opener {
public:
    Opener(const Catalog& c, const SessionState& s) : catalog_(c), session_(s) {}

    View open(const sql::ObjectName& n) {
        const qsizetype k = n.parts.size();
        object_ = n.parts[k - 1];
        schema_ = k >= 2 ? n.parts[k - 2] : QString();
        database_ = k >= 3 ? n.parts[k - 3] : QString();
        const bool remote = k == 4 && !n.parts[0].isEmpty();
        if (!database_.isEmpty() && !catalog_.find(database_)) {
            throw StatementError{911, 16, {database_}};
        }
        const bool inMsdb =
            sameName(database_.isEmpty() ? session_.database : database_, QStringLiteral("msdb"));
        if (inMsdb && denied(QStringLiteral("msdb"))) {
            throw StatementError{916, 14, {session_.login}};
        }
        std::optional<View> v;
        if (!remote) {
            v = inMsdb && (schema_.isEmpty() || is(schema_, "dbo")) ? msdbTable() : std::nullopt;
            if (!v) {
                v = systemView();
            }
        }
        if (!v) {
            throw StatementError{208, 16, {n.written}};
        }
        const bool msdbObject = v->name.startsWith(u"backup") || v->name.startsWith(u"log_");
        const QString db =
            msdbObject ? QStringLiteral("msdb") : QStringLiteral("mssqlsystemresource");
        const QString schema = msdbObject ? QStringLiteral("dbo") : QStringLiteral("sys");
        if (denied(v->name) || denied(schema + u'.' + v->name) ||
            denied(db + u'.' + schema + u'.' + v->name)) {
            throw StatementError{229, 14, {v->name, db, schema}};
        }
        return std::move(*v);
    }

private:
    static bool is(const QString& a, const char* b) { return sameName(a, QLatin1String(b)); }
    int major() const { return catalog_.product().parts.major; }
    bool denied(const QString& what) const {
        return std::any_of(session_.deny.begin(), session_.deny.end(),
                           [&](const QString& d) { return sameName(d, what); });
    }
    // sysdatabases and its kind: no schema, dbo or sys.
    bool compatibilityView(const char* name) const {
        return is(object_, name) && (schema_.isEmpty() || is(schema_, "dbo") || is(schema_, "sys"));
    }
    bool sysView(const char* name, int sinceMajor) const {
        return is(object_, name) && is(schema_, "sys") && major() >= sinceMajor;
    }

    std::optional<View> systemView() {
        if (compatibilityView("sysdatabases")) {
            return sysdatabases();
        }
        if (compatibilityView("sysprocesses")) {
            return sysprocesses();
        }
        if (compatibilityView("sysaltfiles")) {
            return sysaltfiles();
        }
        if (sysView("databases", 9)) {
            return databases();
        }
        if (sysView("master_files", 9)) {
            return masterFiles();
        }
        if (sysView("database_mirroring", 9)) {
            return mirroring();
        }
        if (sysView("dm_exec_requests", 9)) {
            return requests();
        }
        if (sysView("dm_hadr_availability_replica_states", 11)) {
            return replicaStates();
        }
        if (sysView("availability_groups", 11)) {
            return availabilityGroups();
        }
        return std::nullopt;
    }

    std::optional<View> msdbTable() {
        if (is(object_, "backupset")) {
            return backupset();
        }
        if (is(object_, "backupmediafamily")) {
            return mediaFamily();
        }
        if (is(object_, "log_shipping_primary_databases")) {
            return logShipping(state::LogShipping::Primary);
        }
        if (is(object_, "log_shipping_secondary_databases")) {
            return logShipping(state::LogShipping::Secondary);
        }
        return std::nullopt;
    }

    bool owns(const DbRow& r) const {
        return r.details && r.details->owner && sameName(*r.details->owner, session_.login);
    }

    // A login without VIEW ANY DATABASE sees master, tempdb and what it owns;
    // SQL Server leaves the others out of the listings without an error.
    QList<DbRow> databaseRows(bool onlyVisible) const {
        QList<DbRow> rows;
        rows.reserve(catalog_.databases().size());
        const bool all = !onlyVisible || session_.viewAnyDatabase || session_.sysadmin;
        for (const DatabaseEntry& e : catalog_.databases()) {
            const DbRow r{&e, catalog_.details(e)};
            constexpr int kMaster = 1, kTempdb = 2;
            if (all || e.id == kMaster || e.id == kTempdb || owns(r)) {
                rows.append(r);
            }
        }
        return rows;
    }

    View sysdatabases() const {
        return Builder<DbRow>(QStringLiteral("sysdatabases"), databaseRows(true))
            .column(u"name", Type::NVarChar, 128, false,
                    [](const DbRow& r) { return text(r.entry->name); })
            .column(u"dbid", Type::SmallInt, 0, false,
                    [](const DbRow& r) { return Value{std::int32_t(r.entry->id)}; })
            .column(u"status", Type::Int, 0, true,
                    [](const DbRow& r) { return Value{statusBits(r)}; })
            .column(u"category", Type::Int, 0, true,
                    [](const DbRow& r) {
                        return Value{std::int32_t(r.details && r.details->replicated ? 1 : 0)};
                    })
            // The owner's login in place of its security id: SUSER_SNAME(sid)
            // gives it back.
            .column(u"sid", Type::NVarChar, 128, true,
                    [](const DbRow& r) {
                        return text(r.details && r.details->owner ? *r.details->owner
                                                                  : QStringLiteral("sa"));
                    })
            .done({"name", "dbid"});
    }

    View databases() const {
        const Catalog& catalog = catalog_;
        Builder<DbRow> b(QStringLiteral("databases"), databaseRows(true));
        b.column(u"name", Type::NVarChar, 128, false,
                 [](const DbRow& r) { return text(r.entry->name); })
            .column(u"database_id", Type::Int, 0, false,
                    [](const DbRow& r) { return Value{std::int32_t(r.entry->id)}; })
            .column(u"source_database_id", Type::Int, 0, true,
                    [&catalog](const DbRow& r) {
                        const DatabaseEntry* source = r.details && r.details->snapshotOf
                                                          ? catalog.find(*r.details->snapshotOf)
                                                          : nullptr;
                        return source ? Value{std::int32_t(source->id)} : Value{};
                    })
            .column(u"create_date", Type::DateTime, 0, false,
                    [](const DbRow& r) {
                        return dateTime(r.details ? state::databaseCreated(*r.details)
                                                  : QDateTime(QDate(2003, 4, 8), QTime(9, 13, 36),
                                                              QTimeZone::utc()));
                    })
            .column(u"state_desc", Type::NVarChar, 60, true,
                    [](const DbRow& r) { return text(stateDesc(r)); })
            .column(u"user_access_desc", Type::NVarChar, 60, true,
                    [](const DbRow& r) { return text(userAccessDesc(r)); })
            .column(u"is_read_only", Type::Bit, 0, true,
                    [](const DbRow& r) { return Value{r.details && r.details->snapshotOf}; })
            .column(u"is_published", Type::Bit, 0, false,
                    [](const DbRow& r) { return Value{r.details && r.details->replicated}; })
            .column(u"is_merge_published", Type::Bit, 0, false,
                    [](const DbRow&) { return Value{false}; });
        if (major() >= 10) {
            b.column(u"is_encrypted", Type::Bit, 0, true,
                     [](const DbRow& r) { return Value{r.details && r.details->encrypted}; });
        }
        if (major() >= 11) {
            // An availability database: its replica and its place in the group.
            auto group = [](const DbRow& r) {
                return r.details ? r.details->availabilityGroup : std::nullopt;
            };
            b.column(u"replica_id", Type::UniqueIdentifier, 0, true,
                     [group](const DbRow& r) {
                         const auto g = group(r);
                         return g ? guid(replicaId(*g, g->primary)) : Value{};
                     })
                .column(u"group_database_id", Type::UniqueIdentifier, 0, true,
                        [group](const DbRow& r) {
                            const auto g = group(r);
                            return g ? guid(stableGuid(QStringLiteral("database:%1:%2")
                                                           .arg(g->name, r.entry->name)))
                                     : Value{};
                        });
        }
        return b.done({"name", "database_id"});
    }

    static QUuid replicaId(const state::AvailabilityGroup& g, bool primary) {
        return stableGuid(
            QStringLiteral("replica:%1:%2")
                .arg(g.name, primary ? QStringLiteral("PRIMARY") : QStringLiteral("SECONDARY")));
    }
    static QUuid groupId(const state::AvailabilityGroup& g) {
        return stableGuid(QStringLiteral("group:") + g.name);
    }

    // One per group, in the order the state names them first.
    QList<state::AvailabilityGroup> groups() const {
        QList<state::AvailabilityGroup> out;
        for (const state::Database& d : catalog_.state().databases) {
            if (d.availabilityGroup &&
                std::none_of(out.begin(), out.end(), [&](const state::AvailabilityGroup& g) {
                    return sameName(g.name, d.availabilityGroup->name);
                })) {
                out.append(*d.availabilityGroup);
            }
        }
        return out;
    }

    View sysprocesses() const {
        return Builder<Process>(QStringLiteral("sysprocesses"), processes(catalog_, session_))
            .column(u"spid", Type::SmallInt, 0, false,
                    [](const Process& p) { return Value{std::int32_t(p.spid)}; })
            .column(u"dbid", Type::SmallInt, 0, false,
                    [](const Process& p) { return Value{std::int32_t(p.dbid)}; })
            .column(u"loginame", Type::NVarChar, 128, false,
                    [](const Process& p) { return padded(p.login, 128); })
            .column(u"hostname", Type::NVarChar, 128, false,
                    [](const Process& p) { return padded(p.host, 128); })
            .column(u"program_name", Type::NVarChar, 128, false,
                    [](const Process& p) { return padded(p.program, 128); })
            .column(u"cmd", Type::NVarChar, 16, false,
                    [](const Process& p) { return padded(p.cmd, 16); })
            .done({"spid", "dbid", "loginame", "hostname", "program_name"}, false);
    }

    View requests() const {
        QList<Process> running = processes(catalog_, session_);
        running.removeIf([](const Process& p) { return !p.running; });
        return Builder<Process>(QStringLiteral("dm_exec_requests"), running)
            .column(u"session_id", Type::SmallInt, 0, false,
                    [](const Process& p) { return Value{std::int32_t(p.spid)}; })
            .column(u"database_id", Type::SmallInt, 0, false,
                    [](const Process& p) { return Value{std::int32_t(p.dbid)}; })
            .column(u"command", Type::NVarChar, 32, false,
                    [](const Process& p) { return text(p.running->command); })
            .column(u"percent_complete", Type::Real, 0, false,
                    [](const Process& p) { return Value{static_cast<float>(p.running->percent)}; })
            .column(u"start_time", Type::DateTime, 0, false,
                    [](const Process& p) { return dateTime(p.started); })
            // In ms: SQL Server calls it internal, and yet tools read it.
            .column(u"estimated_completion_time", Type::BigInt, 0, true,
                    [](const Process& p) { return Value{std::int64_t(p.remainingMs)}; })
            .done({"session_id", "database_id", "command", "percent_complete"});
    }

    struct FileRow {
        int dbid;
        state::DatabaseFile file;
    };
    QList<FileRow> fileRows() const {
        QList<FileRow> rows;
        for (const DbRow& r : databaseRows(false)) {
            for (const state::DatabaseFile& f : catalog_.files(*r.entry)) {
                rows.append({r.entry->id, f});
            }
        }
        return rows;
    }

    View masterFiles() const {
        return Builder<FileRow>(QStringLiteral("master_files"), fileRows())
            .column(u"database_id", Type::Int, 0, false,
                    [](const FileRow& f) { return Value{std::int32_t(f.dbid)}; })
            .column(u"name", Type::NVarChar, 128, false,
                    [](const FileRow& f) { return text(f.file.name); })
            .column(u"physical_name", Type::NVarChar, 260, false,
                    [](const FileRow& f) { return text(f.file.physical); })
            .column(u"state_desc", Type::NVarChar, 60, true,
                    [](const FileRow& f) {
                        return text(f.file.online ? QStringLiteral("ONLINE")
                                                  : QStringLiteral("OFFLINE"));
                    })
            .column(u"size", Type::Int, 0, false,
                    [](const FileRow& f) { return Value{std::int32_t(f.file.size)}; })
            .done({"database_id", "name", "physical_name", "state_desc", "size"});
    }

    View sysaltfiles() const {
        return Builder<FileRow>(QStringLiteral("sysaltfiles"), fileRows())
            .column(u"dbid", Type::SmallInt, 0, false,
                    [](const FileRow& f) { return Value{std::int32_t(f.dbid)}; })
            .column(u"name", Type::NVarChar, 128, false,
                    [](const FileRow& f) { return padded(f.file.name, 128); })
            .column(u"filename", Type::NVarChar, 260, false,
                    [](const FileRow& f) { return padded(f.file.physical, 260); })
            .column(u"size", Type::Int, 0, false,
                    [](const FileRow& f) { return Value{std::int32_t(f.file.size)}; })
            .done({"dbid", "name", "filename", "size"});
    }

    View mirroring() const {
        return Builder<DbRow>(QStringLiteral("database_mirroring"), databaseRows(false))
            .column(u"database_id", Type::Int, 0, false,
                    [](const DbRow& r) { return Value{std::int32_t(r.entry->id)}; })
            .column(u"mirroring_guid", Type::UniqueIdentifier, 0, true,
                    [](const DbRow& r) {
                        return r.details && r.details->mirrored
                                   ? guid(stableGuid(QStringLiteral("mirroring:") + r.entry->name))
                                   : Value{};
                    })
            .done({"database_id", "mirroring_guid"});
    }

    // This replica in each group, and for a primary the secondary it sends to.
    struct ReplicaRow {
        state::AvailabilityGroup group;
        bool primary;
        bool local;
    };
    View replicaStates() const {
        QList<ReplicaRow> rows;
        for (const state::AvailabilityGroup& g : groups()) {
            rows.append({g, g.primary, true});
            if (g.primary) {
                rows.append({g, false, false});
            }
        }
        return Builder<ReplicaRow>(QStringLiteral("dm_hadr_availability_replica_states"), rows)
            .column(u"replica_id", Type::UniqueIdentifier, 0, false,
                    [](const ReplicaRow& r) { return guid(replicaId(r.group, r.primary)); })
            .column(u"group_id", Type::UniqueIdentifier, 0, false,
                    [](const ReplicaRow& r) { return guid(groupId(r.group)); })
            .column(u"is_local", Type::Bit, 0, false,
                    [](const ReplicaRow& r) { return Value{r.local}; })
            .column(u"role_desc", Type::NVarChar, 60, true,
                    [](const ReplicaRow& r) {
                        return text(r.primary ? QStringLiteral("PRIMARY")
                                              : QStringLiteral("SECONDARY"));
                    })
            .done({"replica_id", "group_id", "is_local", "role_desc"});
    }

    View availabilityGroups() const {
        return Builder<state::AvailabilityGroup>(QStringLiteral("availability_groups"), groups())
            .column(u"group_id", Type::UniqueIdentifier, 0, false,
                    [](const state::AvailabilityGroup& g) { return guid(groupId(g)); })
            .column(u"name", Type::NVarChar, 128, true,
                    [](const state::AvailabilityGroup& g) { return text(g.name); })
            .done({"group_id", "name"});
    }

    struct BackupRow {
        QString database;
        state::Backup backup;
        QDateTime databaseCreated;
    };
    // msdb's history: of the databases gone (dropped, system ones), then of
    // each database the server has, in backup_set_id order.
    QList<BackupRow> backupRows() const {
        QList<BackupRow> rows;
        for (const state::HistoricBackup& h : catalog_.state().backupHistory) {
            rows.append({h.database, h.backup, h.backup.databaseCreated.value_or(QDateTime())});
        }
        for (const DbRow& r : databaseRows(false)) {
            if (!r.details) {
                continue;
            }
            for (const state::Backup& b : r.details->backups) {
                rows.append({r.entry->name, b,
                             b.databaseCreated.value_or(state::databaseCreated(*r.details))});
            }
        }
        return rows;
    }

    static Value optionalText(const std::optional<QString>& s) { return s ? text(*s) : Value{}; }

    View backupset() const {
        return Builder<BackupRow>(QStringLiteral("backupset"), backupRows())
            .column(u"backup_set_id", Type::Int, 0, false,
                    [](const BackupRow& b) { return Value{std::int32_t(b.backup.setId)}; })
            .column(u"media_set_id", Type::Int, 0, false,
                    [](const BackupRow& b) { return Value{std::int32_t(b.backup.setId)}; })
            .column(u"name", Type::NVarChar, 128, true,
                    [](const BackupRow& b) { return optionalText(b.backup.name); })
            .column(u"description", Type::NVarChar, 255, true,
                    [](const BackupRow& b) { return optionalText(b.backup.description); })
            .column(u"position", Type::Int, 0, true,
                    [](const BackupRow& b) {
                        return Value{std::int32_t(b.backup.position.value_or(1))};
                    })
            .column(u"database_name", Type::NVarChar, 128, true,
                    [](const BackupRow& b) { return text(b.database); })
            .column(
                u"type", Type::NVarChar, 1, true,
                [](const BackupRow& b) { return text(QString(QChar::fromLatin1(b.backup.type))); })
            .column(u"backup_start_date", Type::DateTime, 0, true,
                    [](const BackupRow& b) { return dateTime(state::backupStarted(b.backup)); })
            .column(u"backup_finish_date", Type::DateTime, 0, true,
                    [](const BackupRow& b) { return dateTime(b.backup.finished); })
            .column(u"database_creation_date", Type::DateTime, 0, true,
                    [](const BackupRow& b) { return dateTime(b.databaseCreated); })
            .column(
                u"backup_size", Type::Numeric, 0, true,
                [](const BackupRow& b) { return Value{std::int64_t(state::backupSize(b.backup))}; })
            .column(u"compressed_backup_size", Type::Numeric, 0, true,
                    [](const BackupRow& b) {
                        return Value{std::int64_t(
                            b.backup.compressedSize.value_or(state::backupSize(b.backup)))};
                    })
            .column(u"has_backup_checksums", Type::Bit, 0, true,
                    [](const BackupRow& b) { return Value{b.backup.checksums}; })
            .column(u"is_copy_only", Type::Bit, 0, true,
                    [](const BackupRow& b) { return Value{b.backup.copyOnly}; })
            .column(u"is_damaged", Type::Bit, 0, true,
                    [](const BackupRow& b) { return Value{b.backup.damaged}; })
            .done({"media_set_id", "database_name", "type", "backup_finish_date",
                   "database_creation_date"});
    }

    View mediaFamily() const {
        return Builder<BackupRow>(QStringLiteral("backupmediafamily"), backupRows())
            .column(u"media_set_id", Type::Int, 0, false,
                    [](const BackupRow& b) { return Value{std::int32_t(b.backup.setId)}; })
            .column(u"physical_device_name", Type::NVarChar, 260, true,
                    [](const BackupRow& b) { return text(b.backup.device); })
            // 2: a disk file.
            .column(u"device_type", Type::TinyInt, 0, true,
                    [](const BackupRow&) { return Value{std::int32_t(2)}; })
            .done({"media_set_id", "physical_device_name"});
    }

    View logShipping(state::LogShipping role) const {
        QList<QString> names;
        for (const state::Database& d : catalog_.state().databases) {
            if (d.logShipping == role) {
                names.append(d.name);
            }
        }
        const bool primary = role == state::LogShipping::Primary;
        return Builder<QString>(primary ? QStringLiteral("log_shipping_primary_databases")
                                        : QStringLiteral("log_shipping_secondary_databases"),
                                names)
            .column(primary ? u"primary_database" : u"secondary_database", Type::NVarChar, 128,
                    false, [](const QString& n) { return text(n); })
            .done({primary ? QStringLiteral("primary_database")
                           : QStringLiteral("secondary_database")});
    }

    const Catalog& catalog_;
    const SessionState& session_;
    QString object_;
    QString schema_;
    QString database_;
};

} // namespace

const ViewColumn* View::column(const QString& wanted) const {
    for (const ViewColumn& c : columns) {
        if (sameName(QString::fromStdU16String(c.meta.name), wanted)) {
            return &c;
        }
    }
    return nullptr;
}

View openView(const sql::ObjectName& name, const Catalog& catalog, const SessionState& session) {
    return Opener(catalog, session).open(name);
}

} // namespace engine
