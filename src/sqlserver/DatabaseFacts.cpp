#include "DatabaseFacts.h"

#include "platform/ado/Recordset.h"
#include "platform/dmo/Quoting.h"
#include "platform/runtime/RuntimeError.h"

#include <QUuid>

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

// A GUID read from the server, checked before it is written into a query.
std::optional<QString> guidOf(const rt::Variant& value) {
    const QUuid id(textOf(value).trimmed());
    if (id.isNull()) {
        return std::nullopt;
    }
    return u'\'' + id.toString(QUuid::WithoutBraces) + u'\'';
}

// Runs one read-only query and hands each row to `row`; false when the
// query failed (no right to read it, a view this server does not have).
template <typename Row> bool eachRow(ado::Connection& cn, const QString& query, Row&& row) {
    try {
        ado::Recordset rs;
        rs.Open(query, cn, ado::cursorType::ForwardOnly, ado::lockType::ReadOnly, -1);
        while (!rs.Eof()) {
            row(rs);
            rs.MoveNext();
        }
        rs.Close();
        return true;
    } catch (const rt::RuntimeError&) {
        return false;
    }
}

rt::Variant field(const ado::Recordset& rs, const char* name) {
    return rs.Fields(QString::fromLatin1(name)).Value();
}

// The server's major version, as its login acknowledgement gave it.
int majorVersion(const ado::Connection& cn) {
    try {
        return cn.DbmsVersion().section(u'.', 0, 0).toInt();
    } catch (const rt::RuntimeError&) {
        return 0;
    }
}

class Reader {
public:
    Reader(ado::Connection& cn, const QString& name) : cn_(cn), name_(dmo::quotedText(name)) {
        facts_.name = name;
    }

    DatabaseFacts read() {
        const int major = majorVersion(cn_);
        if (major >= 9) {
            readCatalogue(major);
        } else {
            readSysdatabases();
        }
        readBackup();
        readSessions();
        return facts_;
    }

private:
    QString byId() const { return QStringLiteral(" = DB_ID(") + name_ + u')'; }

    void unread(const QString& label) {
        if (!facts_.unread.contains(label)) {
            facts_.unread.append(label);
        }
    }
    void unread(const char* label) { unread(QString::fromUtf8(label)); }

    void readCatalogue(int major) {
        const bool stateRead =
            eachRow(cn_,
                    QStringLiteral("SELECT name, state_desc, user_access_desc, is_read_only, "
                                   "is_published, is_merge_published, source_database_id, "
                                   "create_date FROM sys.databases WHERE database_id") +
                        byId(),
                    [&](const ado::Recordset& rs) {
                        created_ = textOf(field(rs, "create_date"));
                        facts_.state = textOf(field(rs, "state_desc"));
                        facts_.userAccess = textOf(field(rs, "user_access_desc"));
                        if (facts_.state.isEmpty()) {
                            unread("el estado");
                        }
                        facts_.published = flagOf(field(rs, "is_published")) ||
                                           flagOf(field(rs, "is_merge_published"));
                    });
        if (!stateRead) {
            unread("el estado");
            unread("la replicación");
        }
        if (!eachRow(cn_,
                     QStringLiteral("SELECT name FROM sys.databases WHERE source_database_id") +
                         byId(),
                     [&](const ado::Recordset& rs) {
                         facts_.snapshots.append(textOf(field(rs, "name")));
                     })) {
            unread("las instantáneas");
        }
        if (!eachRow(cn_,
                     QStringLiteral("SELECT mirroring_guid FROM sys.database_mirroring WHERE "
                                    "database_id") +
                         byId(),
                     [&](const ado::Recordset& rs) {
                         facts_.mirrored = !field(rs, "mirroring_guid").isNull();
                     })) {
            unread("la creación de reflejo");
        }
        if (major >= 11) {
            readAvailabilityGroup();
        }
        readFiles();
        readLogShipping();
        readRequests();
    }

    // SQL Server 2012 and later: the group of a joined database, and this
    // replica's role in it.
    void readAvailabilityGroup() {
        std::optional<QString> replica;
        if (!eachRow(cn_,
                     QStringLiteral("SELECT replica_id, group_database_id FROM sys.databases "
                                    "WHERE database_id") +
                         byId(),
                     [&](const ado::Recordset& rs) {
                         if (!field(rs, "group_database_id").isNull()) {
                             replica = guidOf(field(rs, "replica_id"));
                             facts_.group = AvailabilityGroup{};
                         }
                     })) {
            unread("el grupo de disponibilidad");
            return;
        }
        if (!replica) {
            return;
        }
        std::optional<QString> group;
        eachRow(cn_,
                QStringLiteral("SELECT role_desc, group_id FROM "
                               "sys.dm_hadr_availability_replica_states WHERE replica_id = ") +
                    *replica + QStringLiteral(" AND is_local = 1"),
                [&](const ado::Recordset& rs) {
                    facts_.group->role = textOf(field(rs, "role_desc"));
                    group = guidOf(field(rs, "group_id"));
                });
        if (group) {
            eachRow(
                cn_,
                QStringLiteral("SELECT name FROM sys.availability_groups WHERE group_id = ") +
                    *group,
                [&](const ado::Recordset& rs) { facts_.group->name = textOf(field(rs, "name")); });
        }
    }

    void readFiles() {
        if (!eachRow(cn_,
                     QStringLiteral("SELECT name, physical_name, state_desc, size FROM "
                                    "sys.master_files WHERE database_id") +
                         byId(),
                     [&](const ado::Recordset& rs) {
                         facts_.files.append(
                             {textOf(field(rs, "physical_name")),
                              textOf(field(rs, "state_desc")) == QLatin1String("OFFLINE"),
                              numberOf(field(rs, "size")).value_or(0)});
                     })) {
            unread("los archivos");
        }
    }

    void readLogShipping() {
        const bool primary = eachRow(
            cn_,
            QStringLiteral("SELECT primary_database FROM msdb.dbo.log_shipping_primary_databases "
                           "WHERE primary_database = ") +
                name_,
            [&](const ado::Recordset&) { facts_.logShippingPrimary = true; });
        const bool secondary =
            eachRow(cn_,
                    QStringLiteral(
                        "SELECT secondary_database FROM "
                        "msdb.dbo.log_shipping_secondary_databases WHERE secondary_database = ") +
                        name_,
                    [&](const ado::Recordset&) { facts_.logShippingSecondary = true; });
        if (!primary || !secondary) {
            unread("el trasvase de registros");
        }
    }

    void readRequests() {
        if (!eachRow(cn_,
                     QStringLiteral("SELECT command, percent_complete FROM sys.dm_exec_requests "
                                    "WHERE database_id") +
                         byId(),
                     [&](const ado::Recordset& rs) {
                         const QString command = textOf(field(rs, "command")).trimmed();
                         if (command.startsWith(QLatin1String("BACKUP")) ||
                             command.startsWith(QLatin1String("RESTORE"))) {
                             facts_.backupsAndRestores.append(
                                 {command, realOf(field(rs, "percent_complete"))});
                         }
                     })) {
            unread("las copias o restauraciones en curso");
        }
    }

    // SQL Server 2000: the state and replication bits of sysdatabases, and
    // the files of sysaltfiles.
    void readSysdatabases() {
        constexpr qint64 kLoading = 32, kRecovering = 128, kSuspect = 256, kOffline = 512,
                         kDboOnly = 2048, kSingleUser = 4096, kEmergency = 32768;
        constexpr qint64 kPublished = 1, kMergePublished = 4;
        if (!eachRow(cn_,
                     QStringLiteral("SELECT status, category FROM master.dbo.sysdatabases WHERE "
                                    "dbid") +
                         byId(),
                     [&](const ado::Recordset& rs) {
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
            unread("el estado");
        }
        if (!eachRow(cn_,
                     QStringLiteral("SELECT name, filename, size FROM master.dbo.sysaltfiles "
                                    "WHERE dbid") +
                         byId(),
                     [&](const ado::Recordset& rs) {
                         facts_.files.append({unpadded(field(rs, "filename")),
                                              facts_.state == QLatin1String("OFFLINE"),
                                              numberOf(field(rs, "size")).value_or(0)});
                     })) {
            unread("los archivos");
        }
    }

    void readBackup() {
        std::optional<qint64> mediaSet;
        if (!eachRow(cn_,
                     QStringLiteral("SELECT TOP 1 backup_finish_date, media_set_id, "
                                    "database_creation_date FROM msdb.dbo.backupset WHERE "
                                    "database_name = ") +
                         name_ + QStringLiteral(" AND type = 'D' ORDER BY backup_finish_date DESC"),
                     [&](const ado::Recordset& rs) {
                         // This database's backups all follow its making, so
                         // when the latest is of an earlier one, none is of it.
                         const QString ofDatabase = textOf(field(rs, "database_creation_date"));
                         if (!created_.isEmpty() && !ofDatabase.isEmpty() &&
                             ofDatabase != created_) {
                             facts_.backupsOfAnEarlierDatabase = true;
                             return;
                         }
                         const QString finished = textOf(field(rs, "backup_finish_date")).left(19);
                         facts_.lastFullBackup = LastFullBackup{
                             QDateTime::fromString(finished, QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                             QString()};
                         mediaSet = numberOf(field(rs, "media_set_id"));
                     })) {
            unread(kUnreadLastBackup);
            return;
        }
        if (mediaSet) {
            eachRow(cn_,
                    QStringLiteral("SELECT physical_device_name FROM msdb.dbo.backupmediafamily "
                                   "WHERE media_set_id = ") +
                        QString::number(*mediaSet),
                    [&](const ado::Recordset& rs) {
                        if (facts_.lastFullBackup->device.isEmpty()) {
                            facts_.lastFullBackup->device =
                                textOf(field(rs, "physical_device_name"));
                        }
                    });
        }
    }

    void readSessions() {
        if (!eachRow(cn_,
                     QStringLiteral("SELECT loginame, hostname, program_name FROM "
                                    "master.dbo.sysprocesses WHERE dbid") +
                         byId(),
                     [&](const ado::Recordset& rs) {
                         facts_.sessions.append({unpadded(field(rs, "loginame")),
                                                 unpadded(field(rs, "hostname")),
                                                 unpadded(field(rs, "program_name"))});
                     })) {
            unread(kUnreadSessions);
        }
    }

    ado::Connection& cn_;
    QString name_;
    QString created_; // sys.databases' create_date, as the server writes it
    DatabaseFacts facts_;
};

} // namespace

QStringList DatabaseFacts::filesLeftOnDisk() const {
    QStringList left;
    for (const DatabaseFile& file : files) {
        if (state == QLatin1String("OFFLINE") || file.offline) {
            left.append(file.physicalName);
        }
    }
    return left;
}

DatabaseFacts readDatabaseFacts(ado::Connection& cn, const QString& name) {
    return Reader(cn, name).read();
}
