#include "BackupMedia.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace engine {

namespace {

const QString kFormat = QStringLiteral("tarvelo-testserver backup");
constexpr int kFormatVersion = 1;
// Larger files are no backup of this server's.
constexpr qint64 kLargestMedia = 64 * 1024 * 1024;

QString dateText(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
}

std::optional<QDateTime> dateOf(const QJsonValue& v) {
    const QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
    if (!t.isValid()) {
        return std::nullopt;
    }
    return QDateTime(t.date(), t.time(), QTimeZone::utc()); // bare, as msdb keeps dates
}

QJsonObject setObject(const BackupSet& s) {
    QJsonObject o{{"position", s.position},
                  {"type", "D"},
                  {"databaseName", s.databaseName},
                  {"databaseCreated", dateText(s.databaseCreated)},
                  {"started", dateText(s.started)},
                  {"copyOnly", s.copyOnly},
                  {"checksums", s.checksums},
                  {"compressed", s.compressed},
                  {"singleUser", s.singleUser},
                  {"complete", s.complete},
                  {"size", static_cast<double>(s.size)},
                  {"compressedSize", static_cast<double>(s.compressedSize)},
                  {"softwareVersion", s.softwareVersion},
                  {"userName", s.userName},
                  {"database", s.database}};
    if (s.name) {
        o.insert("name", *s.name);
    }
    if (s.description) {
        o.insert("description", *s.description);
    }
    if (s.finished.isValid()) {
        o.insert("finished", dateText(s.finished));
    }
    return o;
}

std::optional<BackupSet> setFrom(const QJsonValue& v) {
    const QJsonObject o = v.toObject();
    BackupSet s;
    const auto created = dateOf(o.value("databaseCreated"));
    const auto started = dateOf(o.value("started"));
    if (!v.isObject() || !o.value("position").isDouble() || o.value("type").toString() != u"D" ||
        !o.value("databaseName").isString() || !created || !started ||
        !o.value("complete").isBool() || !o.value("database").isObject()) {
        return std::nullopt;
    }
    s.position = o.value("position").toInt();
    if (o.contains("name")) {
        s.name = o.value("name").toString();
    }
    if (o.contains("description")) {
        s.description = o.value("description").toString();
    }
    s.databaseName = o.value("databaseName").toString();
    s.databaseCreated = *created;
    s.started = *started;
    s.complete = o.value("complete").toBool();
    if (s.complete) {
        const auto finished = dateOf(o.value("finished"));
        if (!finished) {
            return std::nullopt;
        }
        s.finished = *finished;
    }
    s.copyOnly = o.value("copyOnly").toBool();
    s.checksums = o.value("checksums").toBool();
    s.compressed = o.value("compressed").toBool();
    s.singleUser = o.value("singleUser").toBool();
    s.size = static_cast<qint64>(o.value("size").toDouble());
    s.compressedSize = static_cast<qint64>(o.value("compressedSize").toDouble());
    s.softwareVersion = o.value("softwareVersion").toString();
    s.userName = o.value("userName").toString();
    s.database = o.value("database").toObject();
    return s;
}

// Reads the whole file; false with errno.
bool readAll(const QString& path, QByteArray& out, int& osError) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        osError = errno;
        return false;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        osError = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            osError = errno;
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        out.append(buffer, n);
        if (out.size() > kLargestMedia) {
            break; // no backup of this server's: what follows does not matter
        }
    }
    ::close(fd);
    return true;
}

bool writeAll(int fd, const QByteArray& data) {
    qsizetype at = 0;
    while (at < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + at, static_cast<size_t>(data.size() - at));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        at += n;
    }
    return true;
}

} // namespace

const BackupSet* BackupMedia::at(int position) const {
    for (const BackupSet& s : sets) {
        if (s.position == position) {
            return &s;
        }
    }
    return nullptr;
}

MediaRead readMedia(const QString& path) {
    MediaRead r;
    QByteArray data;
    if (!readAll(path, data, r.osError)) {
        r.outcome = r.osError == ENOENT ? MediaRead::Outcome::Missing : MediaRead::Outcome::Failed;
        return r;
    }
    if (data.isEmpty()) {
        r.outcome = MediaRead::Outcome::Empty;
        return r;
    }
    r.outcome = MediaRead::Outcome::NotMedia;
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    const QJsonObject top = doc.object();
    if (!doc.isObject() || top.value("format").toString() != kFormat ||
        top.value("version") != kFormatVersion || !top.value("sets").isArray()) {
        return r;
    }
    for (const QJsonValue& v : top.value("sets").toArray()) {
        const std::optional<BackupSet> s = setFrom(v);
        if (!s) {
            return r;
        }
        r.media.sets.append(*s);
    }
    r.outcome = MediaRead::Outcome::Read;
    return r;
}

bool writeMedia(const QString& path, const BackupMedia& media, int& osError) {
    QJsonArray sets;
    for (const BackupSet& s : media.sets) {
        sets.append(setObject(s));
    }
    const QByteArray data =
        QJsonDocument(QJsonObject{{"format", kFormat}, {"version", kFormatVersion}, {"sets", sets}})
            .toJson(QJsonDocument::Indented);
    // A temporary file beside it, renamed over it once it is on the disk.
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        osError = errno;
        return false;
    }
    ::fchmod(fd, 0640);
    bool ok = writeAll(fd, data) && ::fsync(fd) == 0;
    osError = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        osError = errno;
        ok = false;
    }
    if (ok && ::rename(temporary.constData(), target.constData()) != 0) {
        osError = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.constData());
        return false;
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

} // namespace engine
