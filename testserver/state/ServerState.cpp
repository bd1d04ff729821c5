#include "ServerState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QTimeZone>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace state {

namespace {

struct Invalid {
    QString why;
};

void onlyKeys(const QJsonObject& o, const QStringList& allowed, const QString& where) {
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (!allowed.contains(it.key())) {
            throw Invalid{QStringLiteral("unknown key \"%1\" in %2").arg(it.key(), where)};
        }
    }
}

QString requiredString(const QJsonObject& o, const QString& key, const QString& where) {
    const QJsonValue v = o.value(key);
    if (!v.isString()) {
        throw Invalid{QStringLiteral("%1 needs a string \"%2\"").arg(where, key)};
    }
    return v.toString();
}

bool optionalBool(const QJsonObject& o, const QString& key, const QString& where) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined()) {
        return false;
    }
    if (!v.isBool()) {
        throw Invalid{QStringLiteral("\"%1\" in %2 must be true or false").arg(key, where)};
    }
    return v.toBool();
}

int optionalCount(const QJsonObject& o, const QString& key, const QString& where) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined()) {
        return 0;
    }
    const double d = v.toDouble(-1);
    if (!v.isDouble() || d < 0 || d > 3600000 || d != static_cast<int>(d)) {
        throw Invalid{QStringLiteral("\"%1\" in %2 must be a whole number from 0 to 3600000")
                          .arg(key, where)};
    }
    return static_cast<int>(d);
}

// An array of texts, or none.
QStringList optionalNames(const QJsonObject& o, const QString& key, const QString& where) {
    QStringList names;
    if (!o.contains(key)) {
        return names;
    }
    if (!o.value(key).isArray()) {
        throw Invalid{QStringLiteral("\"%1\" in %2 must be an array of names").arg(key, where)};
    }
    for (const QJsonValue& v : o.value(key).toArray()) {
        if (!v.isString()) {
            throw Invalid{QStringLiteral("\"%1\" in %2 must be an array of names").arg(key, where)};
        }
        names.append(v.toString());
    }
    return names;
}

QJsonArray requiredArray(const QJsonObject& o, const QString& key) {
    const QJsonValue v = o.value(key);
    if (!v.isArray()) {
        throw Invalid{QStringLiteral("\"%1\" must be an array").arg(key)};
    }
    return v.toArray();
}

QJsonObject objectAt(const QJsonArray& a, qsizetype i, const QString& where) {
    if (!a.at(i).isObject()) {
        throw Invalid{QStringLiteral("%1 %2 is not an object").arg(where).arg(i + 1)};
    }
    return a.at(i).toObject();
}

Login parseLogin(const QJsonObject& o, const QString& where) {
    onlyKeys(o,
             {"name", "password", "sysadmin", "deny", "defaultDatabase", "viewAnyDatabase",
              "integrated", "permissions", "roles"},
             where);
    Login l;
    l.name = requiredString(o, "name", where);
    l.integrated = optionalBool(o, "integrated", where);
    if (l.integrated) {
        if (o.contains("password")) {
            throw Invalid{QStringLiteral("%1 is integrated and takes no password").arg(where)};
        }
        if (!l.name.contains(u'\\')) {
            throw Invalid{QStringLiteral("%1 is integrated and needs a name like DOMINIO\\usuario")
                              .arg(where)};
        }
    } else {
        l.password = requiredString(o, "password", where);
    }
    l.sysadmin = optionalBool(o, "sysadmin", where);
    l.viewAnyDatabase = !o.contains("viewAnyDatabase") || optionalBool(o, "viewAnyDatabase", where);
    if (o.contains("defaultDatabase")) {
        l.defaultDatabase = requiredString(o, "defaultDatabase", where);
        if (l.defaultDatabase->isEmpty() || l.defaultDatabase->size() > MaxNameLength) {
            throw Invalid{
                QStringLiteral("\"defaultDatabase\" in %1 needs 1 to 128 characters").arg(where)};
        }
    }
    if (l.name.isEmpty() || l.name.size() > MaxNameLength) {
        throw Invalid{QStringLiteral("%1 needs a name of 1 to 128 characters").arg(where)};
    }
    l.deny = optionalNames(o, "deny", where);
    for (const QString& p : optionalNames(o, "permissions", where)) {
        static const QStringList known = {"ALTER ANY DATABASE", "VIEW SERVER STATE",
                                          "CREATE ANY DATABASE"};
        if (!known.contains(p.toUpper())) {
            throw Invalid{QStringLiteral("%1: \"%2\" is not a permission this server grants; it "
                                         "knows %3")
                              .arg(where, p, known.join(QStringLiteral(", ")))};
        }
        l.permissions.append(p.toUpper());
    }
    for (const QString& r : optionalNames(o, "roles", where)) {
        if (r.compare(u"dbcreator", Qt::CaseInsensitive) != 0) {
            throw Invalid{QStringLiteral("%1: \"%2\" is not a server role this server knows "
                                         "besides \"sysadmin\" (dbcreator)")
                              .arg(where, r)};
        }
        l.roles.append(r.toLower());
    }
    return l;
}

const QList<std::pair<FaultStage, QString>>& stageNames() {
    static const QList<std::pair<FaultStage, QString>> names = {{FaultStage::Connect, "connect"},
                                                                {FaultStage::Prelogin, "prelogin"},
                                                                {FaultStage::Login, "login"},
                                                                {FaultStage::Query, "query"},
                                                                {FaultStage::Rows, "rows"}};
    return names;
}

const QList<std::pair<FaultAction, QString>>& actionNames() {
    static const QList<std::pair<FaultAction, QString>> names = {
        {FaultAction::Refuse, "refuse"},         {FaultAction::Close, "close"},
        {FaultAction::Delay, "delay"},           {FaultAction::Garbage, "garbage"},
        {FaultAction::Stall, "stall"},           {FaultAction::Trickle, "trickle"},
        {FaultAction::LoseAnswer, "loseAnswer"}, {FaultAction::LoseLink, "loseLink"}};
    return names;
}

const QList<std::pair<EncryptionMode, QString>>& encryptionModeNames() {
    static const QList<std::pair<EncryptionMode, QString>> names = {
        {EncryptionMode::Off, "off"},
        {EncryptionMode::Required, "required"},
        {EncryptionMode::Unsupported, "unsupported"},
        {EncryptionMode::Strict, "strict"},
        {EncryptionMode::StrictCapable, "strict-capable"}};
    return names;
}

template <typename E> QString nameOf(const QList<std::pair<E, QString>>& names, E value) {
    for (const auto& [v, name] : names) {
        if (v == value) {
            return name;
        }
    }
    return {};
}

template <typename E>
E valueOf(const QList<std::pair<E, QString>>& names, const QString& name, const QString& what,
          const QString& where) {
    for (const auto& [v, n] : names) {
        if (n == name) {
            return v;
        }
    }
    throw Invalid{QStringLiteral("%1 has an unknown %2 \"%3\"").arg(where, what, name)};
}

const QList<std::pair<DatabaseStatus, QString>>& statusNames() {
    static const QList<std::pair<DatabaseStatus, QString>> names = {
        {DatabaseStatus::Online, "ONLINE"},
        {DatabaseStatus::Offline, "OFFLINE"},
        {DatabaseStatus::Restoring, "RESTORING"},
        {DatabaseStatus::Recovering, "RECOVERING"},
        {DatabaseStatus::RecoveryPending, "RECOVERY_PENDING"},
        {DatabaseStatus::Suspect, "SUSPECT"},
        {DatabaseStatus::Emergency, "EMERGENCY"}};
    return names;
}

const QList<std::pair<BackupFault::Kind, QString>>& backupFaultNames() {
    static const QList<std::pair<BackupFault::Kind, QString>> names = {
        {BackupFault::Kind::AccessDenied, "accessDenied"},
        {BackupFault::Kind::DiskFull, "diskFull"},
        {BackupFault::Kind::DamagedPage, "damagedPage"},
        {BackupFault::Kind::CompressionRefused, "compressionRefused"}};
    return names;
}

const QList<std::pair<Edition, QString>>& editionNames() {
    static const QList<std::pair<Edition, QString>> names = {
        {Edition::Developer, "Developer"},
        {Edition::Enterprise, "Enterprise"},
        {Edition::Standard, "Standard"},
        {Edition::Web, "Web"},
        {Edition::Express, "Express"},
        {Edition::AzureSqlDatabase, "Azure SQL Database"},
        {Edition::AzureManagedInstance, "Azure SQL Managed Instance"}};
    return names;
}

const QList<std::pair<LogShipping, QString>>& logShippingNames() {
    static const QList<std::pair<LogShipping, QString>> names = {
        {LogShipping::Primary, "primary"}, {LogShipping::Secondary, "secondary"}};
    return names;
}

QJsonObject requiredObject(const QJsonObject& o, const QString& key, const QString& where) {
    const QJsonValue v = o.value(key);
    if (!v.isObject()) {
        throw Invalid{QStringLiteral("\"%1\" in %2 must be an object").arg(key, where)};
    }
    return v.toObject();
}

// A name of 1 to 128 characters, as SQL Server's sysname holds.
QString requiredName(const QJsonObject& o, const QString& key, const QString& where) {
    const QString name = requiredString(o, key, where);
    if (name.isEmpty() || name.size() > MaxNameLength) {
        throw Invalid{QStringLiteral("\"%1\" in %2 needs 1 to 128 characters").arg(key, where)};
    }
    return name;
}

HoldingSession parseHolder(const QJsonObject& h, const QString& at) {
    onlyKeys(h, {"login", "host", "program"}, at);
    return {requiredString(h, "login", at),
            h.contains("host") ? requiredString(h, "host", at) : QString(),
            h.contains("program") ? requiredString(h, "program", at) : QString()};
}

AvailabilityGroup parseAvailabilityGroup(const QJsonObject& o, const QString& where) {
    const QString at = where + QStringLiteral(", \"availabilityGroup\"");
    onlyKeys(o, {"name", "role"}, at);
    AvailabilityGroup g;
    g.name = requiredName(o, "name", at);
    const QString role = requiredString(o, "role", at);
    if (role != u"PRIMARY" && role != u"SECONDARY") {
        throw Invalid{
            QStringLiteral("%1 needs a \"role\" of \"PRIMARY\" or \"SECONDARY\"").arg(at)};
    }
    g.primary = role == u"PRIMARY";
    return g;
}

QList<DatabaseFile> parseFiles(const QJsonArray& a, const QString& where) {
    if (a.isEmpty()) {
        throw Invalid{QStringLiteral("\"files\" in %1 needs at least one file").arg(where)};
    }
    QList<DatabaseFile> files;
    for (qsizetype k = 0; k < a.size(); ++k) {
        const QString at = QStringLiteral("%1, file %2").arg(where).arg(k + 1);
        const QJsonObject f = objectAt(a, k, where + QStringLiteral(", file"));
        onlyKeys(f, {"name", "physical", "state", "size"}, at);
        DatabaseFile file;
        file.name = requiredName(f, "name", at);
        file.physical = requiredString(f, "physical", at);
        if (file.physical.isEmpty() || file.physical.size() > 260) {
            throw Invalid{QStringLiteral("\"physical\" in %1 needs 1 to 260 characters").arg(at)};
        }
        if (f.contains("state")) {
            const QString state = requiredString(f, "state", at);
            if (state != u"ONLINE" && state != u"OFFLINE") {
                throw Invalid{
                    QStringLiteral("%1 needs a \"state\" of \"ONLINE\" or \"OFFLINE\"").arg(at)};
            }
            file.online = state == u"ONLINE";
        }
        const double size = f.value("size").toDouble(-1);
        if (size < 1 || size > 2147483647 || size != static_cast<int>(size)) {
            throw Invalid{
                QStringLiteral("%1 needs a \"size\" in 8 KB pages, a whole number above 0")
                    .arg(at)};
        }
        file.size = static_cast<int>(size);
        files.append(file);
    }
    return files;
}

// "2026-11-30T22:15:03" or with milliseconds; no zone, as msdb keeps it.
QDateTime parseFinished(const QString& text, const QString& at) {
    static const QRegularExpression pattern(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}(\\.\\d{1,3})?$"));
    const QDate date = QDate::fromString(text.left(10), Qt::ISODate);
    const QTime time = QTime::fromString(text.mid(11), Qt::ISODateWithMs);
    if (!pattern.match(text).hasMatch() || !date.isValid() || !time.isValid() ||
        date.year() < 1753) {
        throw Invalid{QStringLiteral("%1 needs \"finished\" as a date and time like "
                                     "2026-11-30T22:15:03, without a zone")
                          .arg(at)};
    }
    return QDateTime(date, time, QTimeZone::utc());
}

// A whole number from `min` to 2^53 (JSON's exact integers), or none.
std::optional<qint64> optionalWhole(const QJsonObject& o, const QString& key, qint64 min,
                                    const QString& where) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined()) {
        return std::nullopt;
    }
    const double d = v.toDouble(-1);
    constexpr double largest = 9007199254740992.0;
    if (!v.isDouble() || d < static_cast<double>(min) || d > largest ||
        d != static_cast<double>(static_cast<qint64>(d))) {
        throw Invalid{QStringLiteral("\"%1\" in %2 must be a whole number from %3 up")
                          .arg(key, where)
                          .arg(min)};
    }
    return static_cast<qint64>(d);
}

// An optional text of at most `max` characters.
std::optional<QString> optionalText(const QJsonObject& o, const QString& key, int max,
                                    const QString& where) {
    if (!o.contains(key)) {
        return std::nullopt;
    }
    const QString text = requiredString(o, key, where);
    if (text.size() > max) {
        throw Invalid{
            QStringLiteral("\"%1\" in %2 takes at most %3 characters").arg(key, where).arg(max)};
    }
    return text;
}

Backup parseBackup(const QJsonObject& b, const QString& at, const QStringList& extraKeys = {}) {
    onlyKeys(b,
             QStringList{"finished", "type", "device", "databaseCreated", "name", "description",
                         "position", "started", "size", "compressedSize", "checksums", "copyOnly",
                         "damaged"} +
                 extraKeys,
             at);
    Backup backup;
    backup.finished = parseFinished(requiredString(b, "finished", at), at);
    if (b.contains("databaseCreated")) {
        backup.databaseCreated = parseFinished(requiredString(b, "databaseCreated", at), at);
    }
    const QString type = requiredString(b, "type", at);
    if (type != u"D" && type != u"I" && type != u"L") {
        throw Invalid{QStringLiteral("%1 needs a \"type\" of \"D\", \"I\" or \"L\"").arg(at)};
    }
    backup.type = static_cast<char>(type.front().unicode());
    backup.device = requiredString(b, "device", at);
    if (backup.device.isEmpty() || backup.device.size() > 260) {
        throw Invalid{QStringLiteral("\"device\" in %1 needs 1 to 260 characters").arg(at)};
    }
    backup.name = optionalText(b, "name", MaxNameLength, at);
    backup.description = optionalText(b, "description", 255, at);
    if (const auto position = optionalWhole(b, "position", 1, at)) {
        if (*position > 2147483647) {
            throw Invalid{QStringLiteral("\"position\" in %1 is too large").arg(at)};
        }
        backup.position = static_cast<int>(*position);
    }
    if (b.contains("started")) {
        backup.started = parseFinished(requiredString(b, "started", at), at);
    }
    backup.size = optionalWhole(b, "size", 0, at);
    backup.compressedSize = optionalWhole(b, "compressedSize", 0, at);
    backup.checksums = optionalBool(b, "checksums", at);
    backup.copyOnly = optionalBool(b, "copyOnly", at);
    backup.damaged = optionalBool(b, "damaged", at);
    return backup;
}

QList<Backup> parseBackups(const QJsonArray& a, const QString& where) {
    QList<Backup> backups;
    for (qsizetype k = 0; k < a.size(); ++k) {
        backups.append(parseBackup(objectAt(a, k, where + QStringLiteral(", backup")),
                                   QStringLiteral("%1, backup %2").arg(where).arg(k + 1)));
    }
    return backups;
}

// The history of dropped databases: each backup names its database and
// when that database was made.
QList<HistoricBackup> parseHistory(const QJsonArray& a) {
    QList<HistoricBackup> history;
    for (qsizetype k = 0; k < a.size(); ++k) {
        const QString at = QStringLiteral("\"backupHistory\" entry %1").arg(k + 1);
        const QJsonObject o = objectAt(a, k, QStringLiteral("\"backupHistory\" entry"));
        HistoricBackup h{requiredName(o, "database", at), parseBackup(o, at, {"database"})};
        if (!h.backup.databaseCreated) {
            throw Invalid{QStringLiteral("%1 needs \"databaseCreated\"").arg(at)};
        }
        history.append(h);
    }
    return history;
}

BackupFault parseBackupFault(const QJsonObject& o, const QString& where) {
    const QString at = where + QStringLiteral(", \"backupFault\"");
    onlyKeys(o, {"kind", "atPercent"}, at);
    BackupFault f;
    f.kind = valueOf(backupFaultNames(), requiredString(o, "kind", at), QStringLiteral("kind"), at);
    const bool takesPercent =
        f.kind == BackupFault::Kind::DiskFull || f.kind == BackupFault::Kind::DamagedPage;
    if (takesPercent != o.contains("atPercent")) {
        throw Invalid{QStringLiteral("%1: \"atPercent\" (0 to 100) goes with \"diskFull\" and "
                                     "\"damagedPage\", and only with them")
                          .arg(at)};
    }
    if (takesPercent) {
        const double percent = o.value("atPercent").toDouble(-1);
        if (percent < 0 || percent > 100 || percent != static_cast<int>(percent)) {
            throw Invalid{QStringLiteral("%1 needs \"atPercent\" from 0 to 100").arg(at)};
        }
        f.atPercent = static_cast<int>(percent);
    }
    return f;
}

RunningRequest parseRunning(const QJsonObject& o, const QString& where) {
    const QString at = where + QStringLiteral(", \"running\"");
    onlyKeys(o, {"command", "percent"}, at);
    RunningRequest r;
    r.command = requiredString(o, "command", at);
    if (r.command.isEmpty() || r.command.size() > 32) {
        throw Invalid{QStringLiteral("\"command\" in %1 needs 1 to 32 characters").arg(at)};
    }
    const QJsonValue percent = o.value("percent");
    if (!percent.isDouble() || percent.toDouble() < 0 || percent.toDouble() > 100) {
        throw Invalid{QStringLiteral("%1 needs a \"percent\" from 0 to 100").arg(at)};
    }
    r.percent = percent.toDouble();
    return r;
}

// The keys that say how the database stands, each optional.
void parseConditions(const QJsonObject& o, Database& d, const QString& where) {
    d.restrictedUser = optionalBool(o, "restrictedUser", where);
    if (d.restrictedUser && d.singleUser) {
        throw Invalid{
            QStringLiteral("%1 cannot be both \"singleUser\" and \"restrictedUser\"").arg(where)};
    }
    if (o.contains("state")) {
        d.status = valueOf(statusNames(), requiredString(o, "state", where),
                           QStringLiteral("state"), where);
    }
    if (o.contains("snapshotOf")) {
        d.snapshotOf = requiredName(o, "snapshotOf", where);
    }
    d.mirrored = optionalBool(o, "mirrored", where);
    if (o.contains("availabilityGroup")) {
        d.availabilityGroup =
            parseAvailabilityGroup(requiredObject(o, "availabilityGroup", where), where);
    }
    if (o.contains("logShipping")) {
        d.logShipping = valueOf(logShippingNames(), requiredString(o, "logShipping", where),
                                QStringLiteral("logShipping"), where);
    }
    if (o.contains("files")) {
        d.files = parseFiles(requiredArray(o, "files"), where);
    }
    if (o.contains("backups")) {
        d.backups = parseBackups(requiredArray(o, "backups"), where);
    }
    if (o.contains("created")) {
        d.created = parseFinished(requiredString(o, "created", where), where);
    }
    if (o.contains("running")) {
        d.running = parseRunning(requiredObject(o, "running", where), where);
    }
    if (o.contains("slotTaker")) {
        d.slotTaker = parseHolder(requiredObject(o, "slotTaker", where),
                                  where + QStringLiteral(", \"slotTaker\""));
    }
}

Database parseDatabase(const QJsonObject& o, const QString& where) {
    onlyKeys(o, {"name",
                 "inUse",
                 "sessions",
                 "owner",
                 "singleUser",
                 "replicated",
                 "state",
                 "restrictedUser",
                 "snapshotOf",
                 "mirrored",
                 "availabilityGroup",
                 "logShipping",
                 "files",
                 "backups",
                 "created",
                 "running",
                 "slotTaker",
                 "dbOwners",
                 "dropTakes",
                 "backupOperators",
                 "backupTakes",
                 "backupFault",
                 "encrypted"},
             where);
    Database d;
    d.name = requiredString(o, "name", where);
    if (d.name.isEmpty() || d.name.size() > MaxNameLength) {
        throw Invalid{QStringLiteral("%1 needs a name of 1 to 128 characters").arg(where)};
    }
    d.inUse = optionalBool(o, "inUse", where);
    d.singleUser = optionalBool(o, "singleUser", where);
    d.replicated = optionalBool(o, "replicated", where);
    if (o.contains("sessions")) {
        const QJsonArray held = requiredArray(o, "sessions");
        for (qsizetype k = 0; k < held.size(); ++k) {
            d.sessions.append(parseHolder(objectAt(held, k, where + QStringLiteral(", session")),
                                          QStringLiteral("%1, session %2").arg(where).arg(k + 1)));
        }
    }
    if (o.contains("owner")) {
        d.owner = requiredString(o, "owner", where);
    }
    d.dbOwners = optionalNames(o, "dbOwners", where);
    d.dropTakesMs = optionalCount(o, "dropTakes", where);
    d.backupOperators = optionalNames(o, "backupOperators", where);
    if (o.contains("backupTakes")) {
        d.backupTakesMs = optionalCount(o, "backupTakes", where);
    }
    if (o.contains("backupFault")) {
        d.backupFault = parseBackupFault(requiredObject(o, "backupFault", where), where);
    }
    d.encrypted = optionalBool(o, "encrypted", where);
    parseConditions(o, d, where);
    return d;
}

// A snapshot names another database of the file, which is no snapshot itself.
void checkSnapshots(const QList<Database>& dbs, const Collation& collation) {
    for (const Database& d : dbs) {
        if (!d.snapshotOf) {
            continue;
        }
        const auto source = std::find_if(dbs.begin(), dbs.end(), [&](const Database& other) {
            return collation.same(other.name, *d.snapshotOf);
        });
        if (source == dbs.end() || collation.same(source->name, d.name)) {
            throw Invalid{QStringLiteral("database \"%1\" is a snapshot of \"%2\", which is not "
                                         "another database of the state")
                              .arg(d.name, *d.snapshotOf)};
        }
        if (source->snapshotOf) {
            throw Invalid{QStringLiteral("database \"%1\" is a snapshot of \"%2\", which is a "
                                         "snapshot itself")
                              .arg(d.name, source->name)};
        }
    }
}

// This server is one replica: in each group it has one role.
void checkAvailabilityGroups(const QList<Database>& dbs) {
    QHash<QString, bool> roles;
    for (const Database& d : dbs) {
        if (!d.availabilityGroup) {
            continue;
        }
        const QString key = d.availabilityGroup->name.toCaseFolded();
        if (roles.contains(key) && roles.value(key) != d.availabilityGroup->primary) {
            throw Invalid{QStringLiteral("availability group \"%1\" is given two roles")
                              .arg(d.availabilityGroup->name)};
        }
        roles.insert(key, d.availabilityGroup->primary);
    }
}

Fault parseFault(const QJsonObject& o, const QString& where) {
    onlyKeys(o, {"stage", "action", "ms", "after", "login", "statement"}, where);
    Fault f;
    f.stage =
        valueOf(stageNames(), requiredString(o, "stage", where), QStringLiteral("stage"), where);
    f.action =
        valueOf(actionNames(), requiredString(o, "action", where), QStringLiteral("action"), where);
    if (f.action == FaultAction::Refuse && f.stage != FaultStage::Connect) {
        throw Invalid{
            QStringLiteral("%1: \"refuse\" applies to the connect stage only").arg(where)};
    }
    if (f.action == FaultAction::LoseAnswer && f.stage != FaultStage::Query) {
        throw Invalid{
            QStringLiteral("%1: \"loseAnswer\" applies to the query stage only").arg(where)};
    }
    f.ms = optionalCount(o, "ms", where);
    f.after = optionalCount(o, "after", where);
    if (o.contains("login")) {
        f.login = requiredString(o, "login", where);
        if (f.stage == FaultStage::Connect || f.stage == FaultStage::Prelogin) {
            throw Invalid{QStringLiteral("%1: a fault of the %2 stage cannot name a login, it is "
                                         "not known yet")
                              .arg(where, faultStageName(f.stage))};
        }
    }
    if (o.contains("statement")) {
        f.statement = requiredString(o, "statement", where);
        if (f.stage != FaultStage::Query || f.statement->trimmed().isEmpty()) {
            throw Invalid{
                QStringLiteral("%1: \"statement\" needs the query stage and a text").arg(where)};
        }
    }
    return f;
}

Encryption parseEncryption(const QJsonObject& top) {
    const QString where = QStringLiteral("the state");
    Encryption e;
    if (top.contains("encryption")) {
        const QString mode = requiredString(top, "encryption", where);
        const auto& names = encryptionModeNames();
        const auto named = std::find_if(names.begin(), names.end(),
                                        [&](const auto& entry) { return entry.second == mode; });
        if (named == names.end()) {
            throw Invalid{QStringLiteral("\"encryption\" must be \"off\", \"required\", "
                                         "\"unsupported\", \"strict\" or \"strict-capable\"")};
        }
        e.mode = named->first;
    }
    if (top.contains("certificate") || top.contains("key")) {
        e.certificate = requiredString(top, "certificate", where);
        e.key = requiredString(top, "key", where);
        if (e.certificate.isEmpty() || e.key.isEmpty()) {
            throw Invalid{QStringLiteral("\"certificate\" and \"key\" must name PEM files")};
        }
        if (e.mode == EncryptionMode::Unsupported) {
            throw Invalid{
                QStringLiteral("a server with \"encryption\": \"unsupported\" has no certificate")};
        }
    }
    e.tls13 = optionalBool(top, "tls13", where);
    if (e.tls13 && e.mode == EncryptionMode::Unsupported) {
        throw Invalid{QStringLiteral("a server with \"encryption\": \"unsupported\" has no TLS")};
    }
    return e;
}

ServerState parse(const QByteArray& json) {
    QJsonParseError perr;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &perr);
    if (perr.error != QJsonParseError::NoError) {
        throw Invalid{QStringLiteral("not valid JSON (%1 at offset %2)")
                          .arg(perr.errorString())
                          .arg(perr.offset)};
    }
    if (!doc.isObject()) {
        throw Invalid{QStringLiteral("the top level must be an object")};
    }
    const QJsonObject top = doc.object();
    onlyKeys(top,
             {"version", "collation", "instance", "logins", "databases", "faults", "encryption",
              "certificate", "key", "tls13", "kerberos", "routing", "systemNames", "edition",
              "backupFolder", "backupHistory"},
             QStringLiteral("the state"));
    ServerState s;
    s.version = requiredString(top, "version", QStringLiteral("the state"));
    s.systemNames = systemDatabases();
    if (top.contains("systemNames")) {
        s.systemNames = optionalNames(top, "systemNames", QStringLiteral("the state"));
        QSet<QString> distinct;
        for (const QString& n : s.systemNames) {
            distinct.insert(n.toCaseFolded());
        }
        if (s.systemNames.size() != 4 || distinct.size() != 4 ||
            std::any_of(s.systemNames.begin(), s.systemNames.end(),
                        [](const QString& n) { return n.isEmpty() || n.size() > MaxNameLength; })) {
            throw Invalid{QStringLiteral("\"systemNames\" needs four distinct names of 1 to 128 "
                                         "characters (master, tempdb, model, msdb)")};
        }
    }
    if (top.contains("instance")) {
        s.instance = requiredString(top, "instance", QStringLiteral("the state"));
        static const QRegularExpression instancePattern(
            QStringLiteral("^[A-Za-z_][A-Za-z0-9_$]{0,15}$"));
        if (!instancePattern.match(s.instance).hasMatch()) {
            throw Invalid{QStringLiteral("\"instance\" must be 1 to 16 letters, digits, _ or $, "
                                         "beginning with a letter or _")};
        }
    }
    if (top.contains("collation")) {
        const QString name = requiredString(top, "collation", QStringLiteral("the state"));
        const std::optional<Collation> collation = Collation::named(name);
        if (!collation) {
            throw Invalid{QStringLiteral("unknown collation \"%1\"").arg(name)};
        }
        s.collation = *collation;
    }
    static const QRegularExpression versionPattern(
        QStringLiteral("^\\d{1,2}\\.\\d{1,2}\\.\\d{1,5}(\\.\\d{1,5})?$"));
    if (!versionPattern.match(s.version).hasMatch()) {
        throw Invalid{QStringLiteral("\"version\" must look like 10.50.6000.34")};
    }
    const QJsonArray logins = requiredArray(top, "logins");
    QSet<QString> loginNames;
    for (qsizetype i = 0; i < logins.size(); ++i) {
        const QString where = QStringLiteral("login %1").arg(i + 1);
        Login l = parseLogin(objectAt(logins, i, QStringLiteral("login")), where);
        if (loginNames.contains(l.name.toCaseFolded())) {
            throw Invalid{QStringLiteral("login \"%1\" is listed twice").arg(l.name)};
        }
        loginNames.insert(l.name.toCaseFolded());
        s.logins.append(l);
    }
    const QJsonArray dbs = requiredArray(top, "databases");
    // Under a case-sensitive collation, names that differ in case alone are
    // two databases; system names are taken in any case.
    auto nameKey = [&](const QString& name) {
        return s.collation.caseSensitive() ? name : name.toCaseFolded();
    };
    QSet<QString> dbNames;
    for (qsizetype i = 0; i < dbs.size(); ++i) {
        const QString where = QStringLiteral("database %1").arg(i + 1);
        Database d = parseDatabase(objectAt(dbs, i, QStringLiteral("database")), where);
        if (d.owner && !loginNames.contains(d.owner->toCaseFolded())) {
            throw Invalid{QStringLiteral("%1 names an owner that is not a login").arg(where)};
        }
        for (const auto& [key, members] : {std::pair{"dbOwners", &d.dbOwners},
                                           std::pair{"backupOperators", &d.backupOperators}}) {
            for (const QString& login : *members) {
                if (!loginNames.contains(login.toCaseFolded())) {
                    throw Invalid{QStringLiteral("%1: \"%2\" names \"%3\", which is not a login")
                                      .arg(where, QString::fromLatin1(key), login)};
                }
            }
        }
        const bool systemName = s.systemNames.contains(d.name, Qt::CaseInsensitive);
        if (systemName || dbNames.contains(nameKey(d.name))) {
            throw Invalid{QStringLiteral("database \"%1\" is listed twice or is a system database")
                              .arg(d.name)};
        }
        dbNames.insert(nameKey(d.name));
        s.databases.append(d);
    }
    checkSnapshots(s.databases, s.collation);
    checkAvailabilityGroups(s.databases);
    if (s.databases.size() > 32767 - 4) {
        throw Invalid{QStringLiteral("more than 32767 databases")};
    }
    if (top.contains("faults")) {
        const QJsonArray faults = requiredArray(top, "faults");
        for (qsizetype i = 0; i < faults.size(); ++i) {
            s.faults.append(parseFault(objectAt(faults, i, QStringLiteral("fault")),
                                       QStringLiteral("fault %1").arg(i + 1)));
        }
    }
    s.encryption = parseEncryption(top);
    if (top.contains("kerberos")) {
        const QJsonValue v = top.value("kerberos");
        if (!v.isObject()) {
            throw Invalid{QStringLiteral("\"kerberos\" must be an object")};
        }
        const QString where = QStringLiteral("\"kerberos\"");
        onlyKeys(v.toObject(), {"keytab", "realm"}, where);
        s.kerberos = Kerberos{requiredString(v.toObject(), "keytab", where),
                              requiredString(v.toObject(), "realm", where)};
    }
    if (top.contains("edition")) {
        s.edition = valueOf(editionNames(), requiredString(top, "edition", "the state"),
                            QStringLiteral("edition"), QStringLiteral("the state"));
    }
    if (top.contains("backupFolder")) {
        s.backupFolder = requiredString(top, "backupFolder", "the state");
        if (!s.backupFolder.startsWith(u'/') || s.backupFolder.size() > 259) {
            throw Invalid{QStringLiteral("\"backupFolder\" needs an absolute path of at most "
                                         "259 characters")};
        }
    }
    if (top.contains("backupHistory")) {
        s.backupHistory = parseHistory(requiredArray(top, "backupHistory"));
    }
    if (top.contains("routing")) {
        const QJsonValue v = top.value("routing");
        const QString where = QStringLiteral("\"routing\"");
        if (!v.isObject()) {
            throw Invalid{where + QStringLiteral(" must be an object")};
        }
        onlyKeys(v.toObject(), {"host", "port"}, where);
        s.routing = Routing{requiredString(v.toObject(), "host", where),
                            optionalCount(v.toObject(), "port", where)};
        if (s.routing->port < 1 || s.routing->port > 65535) {
            throw Invalid{where + QStringLiteral(" needs a \"port\" from 1 to 65535")};
        }
    }
    return s;
}

// Makes a rename durable: the folder entry itself must reach the disk.
bool syncFolder(const QString& path) {
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

QString faultStageName(FaultStage stage) { return nameOf(stageNames(), stage); }

QString faultActionName(FaultAction action) { return nameOf(actionNames(), action); }

QString databaseStatusName(DatabaseStatus status) { return nameOf(statusNames(), status); }

QString editionName(Edition edition) { return nameOf(editionNames(), edition); }

QDateTime backupStarted(const Backup& b) { return b.started.value_or(b.finished.addSecs(-1)); }

qint64 backupSize(const Backup& b) { return b.size.value_or(8 * 1024 * 1024); }

QDateTime databaseCreated(const Database& d) {
    return d.created.value_or(QDateTime(QDate(2024, 1, 15), QTime(9, 0), QTimeZone::utc()));
}

QList<DatabaseFile> databaseFiles(const Database& d) {
    if (d.files) {
        return *d.files;
    }
    const bool online = d.status != DatabaseStatus::Offline;
    const QString folder = QStringLiteral("/var/opt/mssql/data/");
    return {{d.name, folder + d.name + QStringLiteral(".mdf"), online, 1024},
            {d.name + QStringLiteral("_log"), folder + d.name + QStringLiteral("_log.ldf"), online,
             256}};
}

const QStringList& systemDatabases() {
    static const QStringList names = {"master", "tempdb", "model", "msdb"};
    return names;
}

std::optional<ServerState> parseState(const QByteArray& json, QString& error) {
    try {
        return parse(json);
    } catch (const Invalid& e) {
        error = e.why;
        return std::nullopt;
    }
}

namespace {
QJsonObject holderObject(const HoldingSession& h) {
    return QJsonObject{{"login", h.login}, {"host", h.host}, {"program", h.program}};
}

QJsonArray filesArray(const QList<DatabaseFile>& files) {
    QJsonArray a;
    for (const DatabaseFile& f : files) {
        a.append(QJsonObject{{"name", f.name},
                             {"physical", f.physical},
                             {"state", f.online ? "ONLINE" : "OFFLINE"},
                             {"size", f.size}});
    }
    return a;
}

QString dateTimeText(const QDateTime& t) {
    return t.toString(t.time().msec() ? QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")
                                      : QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

QJsonObject backupObject(const Backup& b) {
    QJsonObject o{{"finished", dateTimeText(b.finished)},
                  {"type", QString(QChar::fromLatin1(b.type))},
                  {"device", b.device}};
    if (b.databaseCreated) {
        o.insert("databaseCreated", dateTimeText(*b.databaseCreated));
    }
    if (b.name) {
        o.insert("name", *b.name);
    }
    if (b.description) {
        o.insert("description", *b.description);
    }
    if (b.position) {
        o.insert("position", *b.position);
    }
    if (b.started) {
        o.insert("started", dateTimeText(*b.started));
    }
    if (b.size) {
        o.insert("size", static_cast<double>(*b.size));
    }
    if (b.compressedSize) {
        o.insert("compressedSize", static_cast<double>(*b.compressedSize));
    }
    for (const auto& [key, on] :
         {std::pair{"checksums", b.checksums}, std::pair{"copyOnly", b.copyOnly},
          std::pair{"damaged", b.damaged}}) {
        if (on) {
            o.insert(QLatin1String(key), true);
        }
    }
    return o;
}

QJsonArray backupsArray(const QList<Backup>& backups) {
    QJsonArray a;
    for (const Backup& b : backups) {
        a.append(backupObject(b));
    }
    return a;
}

// The keys parseConditions() reads, those that differ from the default.
void insertConditions(QJsonObject& o, const Database& d) {
    if (d.restrictedUser) {
        o.insert("restrictedUser", true);
    }
    if (d.status != DatabaseStatus::Online) {
        o.insert("state", databaseStatusName(d.status));
    }
    if (d.snapshotOf) {
        o.insert("snapshotOf", *d.snapshotOf);
    }
    if (d.mirrored) {
        o.insert("mirrored", true);
    }
    if (d.availabilityGroup) {
        o.insert("availabilityGroup",
                 QJsonObject{{"name", d.availabilityGroup->name},
                             {"role", d.availabilityGroup->primary ? "PRIMARY" : "SECONDARY"}});
    }
    if (d.logShipping != LogShipping::None) {
        o.insert("logShipping", nameOf(logShippingNames(), d.logShipping));
    }
    if (d.files) {
        o.insert("files", filesArray(*d.files));
    }
    if (d.created) {
        o.insert("created", dateTimeText(*d.created));
    }
    if (!d.backups.isEmpty()) {
        o.insert("backups", backupsArray(d.backups));
    }
    if (d.running) {
        o.insert("running",
                 QJsonObject{{"command", d.running->command}, {"percent", d.running->percent}});
    }
    if (d.slotTaker) {
        o.insert("slotTaker", holderObject(*d.slotTaker));
    }
}

// A database's entry, every key that differs from its default.
QJsonObject databaseObject(const Database& d) {
    QJsonObject o{{"name", d.name}};
    if (d.inUse) {
        o.insert("inUse", true);
    }
    if (!d.sessions.isEmpty()) {
        QJsonArray held;
        for (const HoldingSession& h : d.sessions) {
            held.append(holderObject(h));
        }
        o.insert("sessions", held);
    }
    if (d.owner) {
        o.insert("owner", *d.owner);
    }
    if (d.singleUser) {
        o.insert("singleUser", true);
    }
    if (d.replicated) {
        o.insert("replicated", true);
    }
    if (!d.dbOwners.isEmpty()) {
        o.insert("dbOwners", QJsonArray::fromStringList(d.dbOwners));
    }
    if (d.dropTakesMs) {
        o.insert("dropTakes", d.dropTakesMs);
    }
    if (!d.backupOperators.isEmpty()) {
        o.insert("backupOperators", QJsonArray::fromStringList(d.backupOperators));
    }
    if (d.backupTakesMs) {
        o.insert("backupTakes", *d.backupTakesMs);
    }
    if (d.backupFault) {
        QJsonObject f{{"kind", nameOf(backupFaultNames(), d.backupFault->kind)}};
        if (d.backupFault->kind == BackupFault::Kind::DiskFull ||
            d.backupFault->kind == BackupFault::Kind::DamagedPage) {
            f.insert("atPercent", d.backupFault->atPercent);
        }
        o.insert("backupFault", f);
    }
    if (d.encrypted) {
        o.insert("encrypted", true);
    }
    insertConditions(o, d);
    return o;
}

void insertEncryption(QJsonObject& top, const Encryption& e) {
    if (e.mode != EncryptionMode::Off) {
        top.insert("encryption", nameOf(encryptionModeNames(), e.mode));
    }
    if (!e.certificate.isEmpty()) {
        top.insert("certificate", e.certificate);
        top.insert("key", e.key);
    }
    if (e.tls13) {
        top.insert("tls13", true);
    }
}
} // namespace

QByteArray serializeState(const ServerState& s) {
    QJsonArray logins;
    for (const Login& l : s.logins) {
        QJsonObject o{{"name", l.name}, {"sysadmin", l.sysadmin}};
        if (l.integrated) {
            o.insert("integrated", true);
        } else {
            o.insert("password", l.password);
        }
        if (!l.deny.isEmpty()) {
            o.insert("deny", QJsonArray::fromStringList(l.deny));
        }
        if (l.defaultDatabase) {
            o.insert("defaultDatabase", *l.defaultDatabase);
        }
        if (!l.viewAnyDatabase) {
            o.insert("viewAnyDatabase", false);
        }
        if (!l.permissions.isEmpty()) {
            o.insert("permissions", QJsonArray::fromStringList(l.permissions));
        }
        if (!l.roles.isEmpty()) {
            o.insert("roles", QJsonArray::fromStringList(l.roles));
        }
        logins.append(o);
    }
    QJsonArray dbs;
    for (const Database& d : s.databases) {
        dbs.append(databaseObject(d));
    }
    QJsonObject top{{"version", s.version}, {"logins", logins}, {"databases", dbs}};
    if (!s.instance.isEmpty()) {
        top.insert("instance", s.instance);
    }
    if (s.systemNames != systemDatabases()) {
        top.insert("systemNames", QJsonArray::fromStringList(s.systemNames));
    }
    if (s.collation.name() != QLatin1String(Collation::DefaultName)) {
        top.insert("collation", s.collation.name());
    }
    if (!s.faults.isEmpty()) {
        QJsonArray faults;
        for (const Fault& f : s.faults) {
            QJsonObject o{{"stage", faultStageName(f.stage)},
                          {"action", faultActionName(f.action)}};
            if (f.ms) {
                o.insert("ms", f.ms);
            }
            if (f.after) {
                o.insert("after", f.after);
            }
            if (f.login) {
                o.insert("login", *f.login);
            }
            if (f.statement) {
                o.insert("statement", *f.statement);
            }
            faults.append(o);
        }
        top.insert("faults", faults);
    }
    insertEncryption(top, s.encryption);
    if (s.kerberos) {
        top.insert("kerberos",
                   QJsonObject{{"keytab", s.kerberos->keytab}, {"realm", s.kerberos->realm}});
    }
    if (s.routing) {
        top.insert("routing", QJsonObject{{"host", s.routing->host}, {"port", s.routing->port}});
    }
    if (s.edition != Edition::Developer) {
        top.insert("edition", editionName(s.edition));
    }
    if (s.backupFolder != QLatin1String(DefaultBackupFolder)) {
        top.insert("backupFolder", s.backupFolder);
    }
    if (!s.backupHistory.isEmpty()) {
        QJsonArray history;
        for (const HistoricBackup& h : s.backupHistory) {
            QJsonObject o = backupObject(h.backup);
            o.insert("database", h.database);
            history.append(o);
        }
        top.insert("backupHistory", history);
    }
    return QJsonDocument(top).toJson(QJsonDocument::Indented);
}

namespace {
// The keys of a database's entry that belong to the server around it, not
// to what a backup holds.
const QStringList& notInImage() {
    static const QStringList keys = {
        "inUse",       "sessions",          "running",     "slotTaker",  "dropTakes",
        "backupTakes", "backupFault",       "backups",     "replicated", "mirrored",
        "state",       "availabilityGroup", "logShipping", "snapshotOf"};
    return keys;
}
} // namespace

QJsonObject backupImage(const Database& d) {
    QJsonObject o = databaseObject(d);
    for (const QString& key : notInImage()) {
        o.remove(key);
    }
    return o;
}

std::optional<Database> databaseFromImage(const QJsonObject& image, QString& error) {
    try {
        for (const QString& key : notInImage()) {
            if (image.contains(key)) {
                throw Invalid{QStringLiteral("\"%1\" has no place in a backup").arg(key)};
            }
        }
        return parseDatabase(image, QStringLiteral("the database"));
    } catch (const Invalid& e) {
        error = e.why;
        return std::nullopt;
    }
}

std::optional<ServerState> loadState(const QString& path, QString& error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the state file %1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    QString why;
    auto s = parseState(f.readAll(), why);
    if (!s) {
        error = QStringLiteral("bad state file %1: %2").arg(path, why);
    }
    return s;
}

bool saveState(const QString& path, const ServerState& s, QString& error) {
    QSaveFile f(path); // writes a temporary file, syncs it to disk and renames it
    if (!f.open(QIODevice::WriteOnly)) {
        error = f.errorString();
        return false;
    }
    const QByteArray data = serializeState(s);
    if (f.write(data) != data.size() || !f.commit()) {
        error = f.errorString();
        return false;
    }
    if (!syncFolder(path)) {
        error = QStringLiteral("cannot sync the folder of %1").arg(path);
        return false;
    }
    return true;
}

} // namespace state
