#include "DatabaseFacts.h"

#include "platform/ado/Recordset.h"
#include "platform/dmo/Quoting.h"
#include "platform/runtime/RuntimeError.h"

#include <QHash>

#include <algorithm>
#include <functional>

namespace {

QString textOf(const rt::Variant& value) {
    return value.kind() == rt::Variant::Kind::Text ? value.as<QString>() : QString();
}

// sysprocesses and sysaltfiles pad their nchar columns with blanks.
QString unpadded(const rt::Variant& value) {
    QString text = textOf(value);
    while (text.endsWith(u' ')) {
        text.chop(1);
    }
    return text;
}

std::optional<qint64> numberOf(const rt::Variant& value) {
    switch (value.kind()) {
    case rt::Variant::Kind::Boolean:
        return value.as<bool>() ? 1 : 0;
    case rt::Variant::Kind::Integer:
        return value.as<std::int16_t>();
    case rt::Variant::Kind::Long:
        return value.as<std::int32_t>();
    case rt::Variant::Kind::LongLong:
        return value.as<std::int64_t>();
    case rt::Variant::Kind::Single:
        return static_cast<qint64>(value.as<float>());
    case rt::Variant::Kind::Double:
        return static_cast<qint64>(value.as<double>());
    case rt::Variant::Kind::Text: {
        bool ok = false;
        const qint64 n = value.as<QString>().trimmed().toLongLong(&ok);
        return ok ? std::optional(n) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

bool flagOf(const rt::Variant& value) { return numberOf(value).value_or(0) != 0; }

// A datetime as the driver writes it, to the second; the server's clock
// has no zone, and none is given.
QDateTime serverTime(const rt::Variant& value) {
    return QDateTime::fromString(textOf(value).left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// sys.databases' columns before is_encrypted, which SQL Server 2008 added.
constexpr int kStateColumnsBefore2008 = 7;

double realOf(const rt::Variant& value) {
    switch (value.kind()) {
    case rt::Variant::Kind::Single:
        return value.as<float>();
    case rt::Variant::Kind::Double:
        return value.as<double>();
    default:
        return static_cast<double>(numberOf(value).value_or(0));
    }
}

rt::Variant field(const ado::Recordset& rs, const char* name) {
    return rs.Fields(QString::fromLatin1(name)).Value();
}

// Hands every row of the recordset's current result to `row`.
template <typename Row> void eachRow(ado::Recordset& rs, Row&& row) {
    while (!rs.Eof()) {
        row(rs);
        rs.MoveNext();
    }
}

// Runs one read-only statement and hands each row to `row`; false when it
// failed (no right to read it).
template <typename Row> bool eachRow(ado::Connection& cn, const QString& query, Row&& row) {
    try {
        ado::Recordset rs;
        rs.Open(query, cn, ado::cursorType::ForwardOnly, ado::lockType::ReadOnly, -1);
        eachRow(rs, row);
        rs.Close();
        return true;
    } catch (const rt::RuntimeError&) {
        return false;
    }
}

// The server's major version, as its login acknowledgement gave it.
int majorVersion(const ado::Connection& cn) {
    try {
        return cn.DbmsVersion().section(u'.', 0, 0).toInt();
    } catch (const rt::RuntimeError&) {
        return 0;
    }
}

// One fact of the batch: the facts it tells, and its query, which names
// the database as @db and whose first column tells its result from the
// others.
struct FactQuery {
    QList<Fact> facts;
    QString query;
};

const QString kLastBackupQuery = QStringLiteral(
    "SELECT TOP 1 bs.backup_finish_date, bs.database_creation_date, mf.physical_device_name, "
    "bs.backup_start_date, bs.backup_size "
    "FROM msdb.dbo.backupset AS bs LEFT JOIN msdb.dbo.backupmediafamily AS mf ON "
    "mf.media_set_id = bs.media_set_id WHERE bs.database_name = @db AND bs.type = 'D' ORDER BY "
    "bs.backup_finish_date DESC");

const QString kSessionsQuery = QStringLiteral(
    "SELECT loginame, hostname, program_name FROM master.dbo.sysprocesses WHERE dbid = "
    "DB_ID(@db)");

// SQL Server 2005 and later; the availability group's views from 2012.
QList<FactQuery> factQueries(int major) {
    constexpr int kSqlServer2008 = 10;
    QList<FactQuery> queries{
        {{Fact::State, Fact::Replication},
         QStringLiteral("SELECT state_desc, user_access_desc, is_published, is_merge_published, "
                        "create_date, database_id, source_database_id") +
             (major >= kSqlServer2008 ? QStringLiteral(", is_encrypted") : QString()) +
             QStringLiteral(" FROM sys.databases WHERE database_id = DB_ID(@db)")},
        {{Fact::Rights},
         QStringLiteral("SELECT HAS_PERMS_BY_NAME(@db, 'DATABASE', 'CONTROL') AS may_control, "
                        "HAS_PERMS_BY_NAME(NULL, NULL, 'ALTER ANY DATABASE') AS "
                        "may_alter_any_database, SUSER_SNAME() AS login_name, "
                        "HAS_PERMS_BY_NAME(NULL, NULL, 'VIEW SERVER STATE') AS "
                        "may_view_server_state")},
        // The first login (sid 0x01) is sa, which Amazon RDS renames rdsa.
        {{Fact::Server},
         QStringLiteral("SELECT SERVERPROPERTY('EngineEdition') AS engine_edition, "
                        "SERVERPROPERTY('EditionID') AS edition_id, "
                        "SERVERPROPERTY('InstanceDefaultBackupPath') AS default_backup_path, "
                        "DB_ID(N'rdsadmin') AS rdsadmin_id, SUSER_SNAME(0x01) AS first_login, "
                        "GETDATE() AS server_now")},
        {{Fact::Snapshots},
         QStringLiteral("SELECT name AS snapshot_name FROM sys.databases WHERE "
                        "source_database_id = DB_ID(@db)")},
        {{Fact::Mirroring},
         QStringLiteral("SELECT mirroring_guid FROM sys.database_mirroring WHERE database_id = "
                        "DB_ID(@db)")}};
    if (major >= 11) {
        queries.append(
            {{Fact::AvailabilityGroup},
             QStringLiteral(
                 "SELECT d.group_database_id, rs.role_desc, ag.name AS group_name FROM "
                 "sys.databases AS d LEFT JOIN sys.dm_hadr_availability_replica_states AS rs ON "
                 "rs.replica_id = d.replica_id AND rs.is_local = 1 LEFT JOIN "
                 "sys.availability_groups AS ag ON ag.group_id = rs.group_id WHERE d.database_id "
                 "= DB_ID(@db)")});
    }
    queries << FactQuery{{Fact::Files},
                         QStringLiteral("SELECT physical_name, state_desc, size FROM "
                                        "sys.master_files WHERE database_id = DB_ID(@db)")}
            << FactQuery{{Fact::LogShipping},
                         QStringLiteral("SELECT primary_database FROM "
                                        "msdb.dbo.log_shipping_primary_databases WHERE "
                                        "primary_database = @db")}
            << FactQuery{{Fact::LogShipping},
                         QStringLiteral("SELECT secondary_database FROM "
                                        "msdb.dbo.log_shipping_secondary_databases WHERE "
                                        "secondary_database = @db")}
            << FactQuery{{Fact::RunningRequests},
                         QStringLiteral("SELECT command, percent_complete FROM "
                                        "sys.dm_exec_requests WHERE database_id = DB_ID(@db)")}
            << FactQuery{{Fact::LastBackup}, kLastBackupQuery}
            << FactQuery{{Fact::Sessions}, kSessionsQuery};
    return queries;
}

const QString kUnreadColumn = QStringLiteral("unread_");

// Each query on its own: a failure (a view the server lacks, a right the
// login lacks) is taken by the CATCH, whose one column names the query.
QString factBatch(const QList<FactQuery>& queries, const QString& name) {
    QString batch;
    for (qsizetype i = 0; i < queries.size(); ++i) {
        batch += QStringLiteral("BEGIN TRY EXEC sp_executesql ") +
                 dmo::quotedText(queries[i].query) +
                 QStringLiteral(", N'@db nvarchar(128)', @db = ") + dmo::quotedText(name) +
                 QStringLiteral(" END TRY BEGIN CATCH SELECT ERROR_NUMBER() AS ") + kUnreadColumn +
                 QString::number(i) + QStringLiteral(" END CATCH\n");
    }
    return batch;
}

class Reader {
public:
    Reader(ado::Connection& cn, const QString& name) : cn_(cn), name_(name) { facts_.name = name; }

    // `sent`: the facts batch went with the statement whose recordset this
    // is, and its results follow the current one.
    DatabaseFacts read(ado::Recordset* sent) {
        const int major = majorVersion(cn_);
        facts_.major = major;
        if (major >= 9) {
            readBatch(factQueries(major), sent);
        } else {
            readSysdatabases();
            readOne({Fact::LastBackup}, kLastBackupQuery);
            readOne({Fact::Sessions}, kSessionsQuery);
        }
        std::sort(facts_.unread.begin(), facts_.unread.end());
        return facts_;
    }

private:
    void unread(const QList<Fact>& facts) {
        for (const Fact fact : facts) {
            if (!facts_.unread.contains(fact)) {
                facts_.unread.append(fact);
            }
        }
    }

    // The result of one query, by its first column.
    using Handler = std::function<void(ado::Recordset&)>;
    Handler handlerFor(const QString& firstColumn) {
        const QHash<QString, Handler> handlers = {
            {QStringLiteral("state_desc"), [this](ado::Recordset& rs) { takeState(rs); }},
            {QStringLiteral("may_control"),
             [this](ado::Recordset& rs) {
                 facts_.mayDrop = flagOf(field(rs, "may_control")) ||
                                  flagOf(field(rs, "may_alter_any_database"));
                 facts_.loginName = textOf(field(rs, "login_name"));
                 facts_.seesOtherSessions = flagOf(field(rs, "may_view_server_state"));
             }},
            {QStringLiteral("engine_edition"), [this](ado::Recordset& rs) { takeServer(rs); }},
            {QStringLiteral("snapshot_name"),
             [this](ado::Recordset& rs) {
                 facts_.snapshots.append(textOf(field(rs, "snapshot_name")));
             }},
            {QStringLiteral("mirroring_guid"),
             [this](ado::Recordset& rs) {
                 facts_.mirrored = !field(rs, "mirroring_guid").isNull();
             }},
            {QStringLiteral("group_database_id"), [this](ado::Recordset& rs) { takeGroup(rs); }},
            {QStringLiteral("physical_name"),
             [this](ado::Recordset& rs) {
                 facts_.files.append({textOf(field(rs, "physical_name")),
                                      textOf(field(rs, "state_desc")) == QLatin1String("OFFLINE"),
                                      numberOf(field(rs, "size")).value_or(0)});
             }},
            {QStringLiteral("primary_database"),
             [this](ado::Recordset&) { facts_.logShippingPrimary = true; }},
            {QStringLiteral("secondary_database"),
             [this](ado::Recordset&) { facts_.logShippingSecondary = true; }},
            {QStringLiteral("command"), [this](ado::Recordset& rs) { takeRequest(rs); }},
            {QStringLiteral("backup_finish_date"), [this](ado::Recordset& rs) { takeBackup(rs); }},
            {QStringLiteral("loginame"), [this](ado::Recordset& rs) { takeSession(rs); }},
        };
        return handlers.value(firstColumn.toLower());
    }

    // Every fact in one round trip, each result told by its first column.
    void readBatch(const QList<FactQuery>& queries, ado::Recordset* sent) {
        try {
            ado::Recordset own;
            if (!sent) {
                own.Open(factBatch(queries, name_), cn_, ado::cursorType::ForwardOnly,
                         ado::lockType::ReadOnly, -1);
            } else if (!sent->NextRecordset()) {
                throw rt::RuntimeError(0, QString()); // the batch gave no facts
            }
            ado::Recordset& rs = sent ? *sent : own;
            do {
                if (rs.FieldCount() == 0) {
                    continue;
                }
                const QString first = rs.FieldName(0);
                if (first.startsWith(kUnreadColumn)) {
                    unread(queries.value(first.mid(kUnreadColumn.size()).toInt()).facts);
                } else if (const Handler handler = handlerFor(first)) {
                    eachRow(rs, handler);
                }
            } while (rs.NextRecordset());
        } catch (const rt::RuntimeError&) {
            // The batch as a whole failed: nothing of it can be trusted.
            for (const FactQuery& q : queries) {
                unread(q.facts);
            }
        }
    }

    // One query on its own, the name put in as a literal.
    void readOne(const QList<Fact>& facts, const QString& query) {
        const QString statement = QString(query).replace(QStringLiteral("@db"), quotedName());
        bool any = false;
        Handler handler;
        const bool read = eachRow(cn_, statement, [&](ado::Recordset& rs) {
            if (!any) {
                handler = handlerFor(rs.FieldName(0));
                any = true;
            }
            handler(rs);
        });
        if (!read) {
            unread(facts);
        }
    }

    QString quotedName() const { return dmo::quotedText(name_); }

    void takeState(ado::Recordset& rs) {
        created_ = textOf(field(rs, "create_date"));
        facts_.state = textOf(field(rs, "state_desc"));
        facts_.userAccess = textOf(field(rs, "user_access_desc"));
        if (facts_.state.isEmpty()) {
            unread({Fact::State});
        }
        facts_.published =
            flagOf(field(rs, "is_published")) || flagOf(field(rs, "is_merge_published"));
        facts_.databaseId = numberOf(field(rs, "database_id"));
        facts_.snapshot = !field(rs, "source_database_id").isNull();
        if (rs.FieldCount() > kStateColumnsBefore2008) {
            facts_.encrypted = flagOf(field(rs, "is_encrypted"));
        }
    }

    void takeServer(ado::Recordset& rs) {
        ServerFacts server;
        server.engineEdition = static_cast<int>(numberOf(field(rs, "engine_edition")).value_or(0));
        server.editionId = numberOf(field(rs, "edition_id")).value_or(0);
        server.defaultBackupPath = textOf(field(rs, "default_backup_path"));
        server.amazonRds = !field(rs, "rdsadmin_id").isNull() &&
                           textOf(field(rs, "first_login")) == QLatin1String("rdsa");
        server.now = serverTime(field(rs, "server_now"));
        facts_.server = server;
    }

    void takeGroup(ado::Recordset& rs) {
        if (!field(rs, "group_database_id").isNull()) {
            facts_.group =
                AvailabilityGroup{textOf(field(rs, "group_name")), textOf(field(rs, "role_desc"))};
        }
    }

    void takeRequest(ado::Recordset& rs) {
        const QString command = textOf(field(rs, "command")).trimmed();
        if (command.startsWith(QLatin1String("BACKUP")) ||
            command.startsWith(QLatin1String("RESTORE"))) {
            facts_.backupsAndRestores.append({command, realOf(field(rs, "percent_complete"))});
        }
    }

    // This database's backups all follow its making, so when the latest is
    // of an earlier one, none is of it.
    void takeBackup(ado::Recordset& rs) {
        const QString ofDatabase = textOf(field(rs, "database_creation_date"));
        if (!created_.isEmpty() && !ofDatabase.isEmpty() && ofDatabase != created_) {
            facts_.backupsOfAnEarlierDatabase = true;
            return;
        }
        facts_.lastFullBackup = LastFullBackup{serverTime(field(rs, "backup_finish_date")),
                                               textOf(field(rs, "physical_device_name")),
                                               serverTime(field(rs, "backup_start_date")),
                                               numberOf(field(rs, "backup_size")).value_or(0)};
    }

    void takeSession(ado::Recordset& rs) {
        facts_.sessions.append({unpadded(field(rs, "loginame")), unpadded(field(rs, "hostname")),
                                unpadded(field(rs, "program_name"))});
    }

    // SQL Server 2000: the state and replication bits of sysdatabases, and
    // the files of sysaltfiles.
    void readSysdatabases() {
        constexpr qint64 kLoading = 32, kRecovering = 128, kSuspect = 256, kOffline = 512,
                         kDboOnly = 2048, kSingleUser = 4096, kEmergency = 32768;
        constexpr qint64 kPublished = 1, kMergePublished = 4;
        if (!eachRow(cn_,
                     QStringLiteral("SELECT status, category, dbid FROM master.dbo.sysdatabases "
                                    "WHERE dbid = DB_ID(") +
                         quotedName() + u')',
                     [&](const ado::Recordset& rs) {
                         facts_.databaseId = numberOf(field(rs, "dbid"));
                         const qint64 status = numberOf(field(rs, "status")).value_or(0);
                         const qint64 category = numberOf(field(rs, "category")).value_or(0);
                         facts_.state = (status & kOffline)      ? QStringLiteral("OFFLINE")
                                        : (status & kEmergency)  ? QStringLiteral("EMERGENCY")
                                        : (status & kSuspect)    ? QStringLiteral("SUSPECT")
                                        : (status & kLoading)    ? QStringLiteral("RESTORING")
                                        : (status & kRecovering) ? QStringLiteral("RECOVERING")
                                                                 : QStringLiteral("ONLINE");
                         facts_.userAccess = (status & kSingleUser) ? QStringLiteral("SINGLE_USER")
                                             : (status & kDboOnly)
                                                 ? QStringLiteral("RESTRICTED_USER")
                                                 : QStringLiteral("MULTI_USER");
                         facts_.published = (category & (kPublished | kMergePublished)) != 0;
                     })) {
            unread({Fact::State});
        }
        if (!eachRow(cn_,
                     QStringLiteral("SELECT name, filename, size FROM master.dbo.sysaltfiles "
                                    "WHERE dbid = DB_ID(") +
                         quotedName() + u')',
                     [&](const ado::Recordset& rs) {
                         facts_.files.append({unpadded(field(rs, "filename")),
                                              facts_.state == QLatin1String("OFFLINE"),
                                              numberOf(field(rs, "size")).value_or(0)});
                     })) {
            unread({Fact::Files});
        }
        // Who may drop it: its owner, sysadmin and dbcreator.
        if (!eachRow(cn_,
                     QStringLiteral("SELECT IS_SRVROLEMEMBER('sysadmin') AS is_sysadmin, "
                                    "IS_SRVROLEMEMBER('dbcreator') AS is_dbcreator, "
                                    "SUSER_SNAME(sid) AS owner_name, SUSER_SNAME() AS login_name "
                                    "FROM master.dbo.sysdatabases WHERE dbid = DB_ID(") +
                         quotedName() + u')',
                     [&](const ado::Recordset& rs) {
                         facts_.loginName = textOf(field(rs, "login_name"));
                         facts_.mayDrop =
                             flagOf(field(rs, "is_sysadmin")) ||
                             flagOf(field(rs, "is_dbcreator")) ||
                             textOf(field(rs, "owner_name"))
                                     .compare(facts_.loginName, Qt::CaseInsensitive) == 0;
                     })) {
            unread({Fact::Rights});
        }
    }

    ado::Connection& cn_;
    QString name_;
    QString created_; // sys.databases' create_date, as the server writes it
    DatabaseFacts facts_;
};

} // namespace

bool DatabaseFacts::systemDatabase() const {
    constexpr int kLastSystemId = 4;
    static const QStringList names = {QStringLiteral("master"), QStringLiteral("tempdb"),
                                      QStringLiteral("model"), QStringLiteral("msdb")};
    return names.contains(name, Qt::CaseInsensitive) ||
           (databaseId && *databaseId <= kLastSystemId);
}

QStringList DatabaseFacts::filesLeftOnDisk() const {
    QStringList left;
    for (const DatabaseFile& file : files) {
        if (state == QLatin1String("OFFLINE") || file.offline) {
            left.append(file.physicalName);
        }
    }
    return left;
}

QString factsBatch(const ado::Connection& cn, const QString& name) {
    const int major = majorVersion(cn);
    return major >= 9 ? factBatch(factQueries(major), name) : QString();
}

DatabaseFacts readDatabaseFacts(ado::Connection& cn, const QString& name, ado::Recordset* sent) {
    return Reader(cn, name).read(sent);
}
