#include "ServerState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

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
    onlyKeys(o, {"name", "password", "sysadmin", "deny", "integrated"}, where);
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
    if (l.name.isEmpty() || l.name.size() > MaxNameLength) {
        throw Invalid{QStringLiteral("%1 needs a name of 1 to 128 characters").arg(where)};
    }
    if (o.contains("deny")) {
        if (!o.value("deny").isArray()) {
            throw Invalid{QStringLiteral("\"deny\" in %1 must be an array of names").arg(where)};
        }
        for (const QJsonValue& v : o.value("deny").toArray()) {
            if (!v.isString()) {
                throw Invalid{
                    QStringLiteral("\"deny\" in %1 must be an array of names").arg(where)};
            }
            l.deny.append(v.toString());
        }
    }
    return l;
}

Fault parseFault(const QJsonObject& o, const QString& where) {
    onlyKeys(o, {"stage", "action", "ms", "after", "login"}, where);
    static const QStringList stages = {"connect", "prelogin", "login", "query", "rows"};
    static const QStringList actions = {"refuse", "close", "delay", "garbage"};
    Fault f;
    f.stage = requiredString(o, "stage", where);
    f.action = requiredString(o, "action", where);
    if (!stages.contains(f.stage)) {
        throw Invalid{QStringLiteral("%1 has an unknown stage \"%2\"").arg(where, f.stage)};
    }
    if (!actions.contains(f.action)) {
        throw Invalid{QStringLiteral("%1 has an unknown action \"%2\"").arg(where, f.action)};
    }
    if (f.action == QLatin1String("refuse") && f.stage != QLatin1String("connect")) {
        throw Invalid{
            QStringLiteral("%1: \"refuse\" applies to the connect stage only").arg(where)};
    }
    f.ms = optionalCount(o, "ms", where);
    f.after = optionalCount(o, "after", where);
    if (o.contains("login")) {
        f.login = requiredString(o, "login", where);
        if (f.stage == QLatin1String("connect") || f.stage == QLatin1String("prelogin")) {
            throw Invalid{QStringLiteral("%1: a fault of the %2 stage cannot name a login, it is "
                                         "not known yet")
                              .arg(where, f.stage)};
        }
    }
    return f;
}

Encryption parseEncryption(const QJsonObject& top) {
    const QString where = QStringLiteral("the state");
    Encryption e;
    if (top.contains("encryption")) {
        e.mode = requiredString(top, "encryption", where);
        if (!QStringList{"off", "required", "unsupported"}.contains(e.mode)) {
            throw Invalid{QStringLiteral("\"encryption\" must be \"off\", \"required\" or "
                                         "\"unsupported\"")};
        }
    }
    if (top.contains("certificate") || top.contains("key")) {
        e.certificate = requiredString(top, "certificate", where);
        e.key = requiredString(top, "key", where);
        if (e.certificate.isEmpty() || e.key.isEmpty()) {
            throw Invalid{QStringLiteral("\"certificate\" and \"key\" must name PEM files")};
        }
        if (e.mode == QLatin1String("unsupported")) {
            throw Invalid{
                QStringLiteral("a server with \"encryption\": \"unsupported\" has no certificate")};
        }
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
             {"version", "logins", "databases", "faults", "encryption", "certificate", "key",
              "kerberos"},
             QStringLiteral("the state"));
    ServerState s;
    s.version = requiredString(top, "version", QStringLiteral("the state"));
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
    QSet<QString> dbNames;
    for (const QString& sys : systemDatabases()) {
        dbNames.insert(sys);
    }
    for (qsizetype i = 0; i < dbs.size(); ++i) {
        const QString where = QStringLiteral("database %1").arg(i + 1);
        const QJsonObject o = objectAt(dbs, i, QStringLiteral("database"));
        onlyKeys(o, {"name", "inUse"}, where);
        Database d;
        d.name = requiredString(o, "name", where);
        d.inUse = optionalBool(o, "inUse", where);
        if (d.name.isEmpty() || d.name.size() > MaxNameLength) {
            throw Invalid{QStringLiteral("%1 needs a name of 1 to 128 characters").arg(where)};
        }
        if (dbNames.contains(d.name.toCaseFolded())) {
            throw Invalid{QStringLiteral("database \"%1\" is listed twice or is a system database")
                              .arg(d.name)};
        }
        dbNames.insert(d.name.toCaseFolded());
        s.databases.append(d);
    }
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
void insertEncryption(QJsonObject& top, const Encryption& e) {
    if (e.mode != QLatin1String("off")) {
        top.insert("encryption", e.mode);
    }
    if (!e.certificate.isEmpty()) {
        top.insert("certificate", e.certificate);
        top.insert("key", e.key);
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
        logins.append(o);
    }
    QJsonArray dbs;
    for (const Database& d : s.databases) {
        QJsonObject o{{"name", d.name}};
        if (d.inUse) {
            o.insert("inUse", true);
        }
        dbs.append(o);
    }
    QJsonObject top{{"version", s.version}, {"logins", logins}, {"databases", dbs}};
    if (!s.faults.isEmpty()) {
        QJsonArray faults;
        for (const Fault& f : s.faults) {
            QJsonObject o{{"stage", f.stage}, {"action", f.action}};
            if (f.ms) {
                o.insert("ms", f.ms);
            }
            if (f.after) {
                o.insert("after", f.after);
            }
            if (f.login) {
                o.insert("login", *f.login);
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
    return QJsonDocument(top).toJson(QJsonDocument::Indented);
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
