#include "PrivateConf.h"

#include "Sentences.h"
#include "platform/odbc/Odbc.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <QFileInfo>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>

namespace connection {

namespace {

// FreeTDS reads a line into 256 bytes, its newline included.
constexpr qsizetype kLongestLine = 254;

struct State {
    std::mutex mutex;
    std::unique_ptr<QTemporaryDir> folder;
    QByteArray text; // the file's whole text, sections only
    // FREETDSCONF as it was when the program started, or as a test set it.
    std::optional<QString> userValue;
};

State& state() {
    static State s;
    return s;
}

QString confPath(const State& s) { return s.folder->filePath(QStringLiteral("freetds.conf")); }

// Writes a whole file readable by the user alone, replacing any of that name
// at once: a connection on another thread may be reading it.
void writePrivately(const QString& path, const QByteArray& text) {
    const QByteArray name = QFile::encodeName(path);
    const QByteArray draft = name + ".new";
    const int fd = ::open(draft.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool written = fd >= 0;
    for (qsizetype at = 0; written && at < text.size();) {
        const ssize_t n = ::write(fd, text.constData() + at, static_cast<size_t>(text.size() - at));
        written = n > 0;
        at += written ? n : 0;
    }
    written = fd >= 0 && ::close(fd) == 0 && written;
    if (!written || std::rename(draft.constData(), name.constData()) != 0) {
        ::unlink(draft.constData());
        throw odbc::Error(say::privateFileNotWritten(path));
    }
}

// The file in each folder that names the process it belongs to.
const QString kOwnerFile = QStringLiteral("owner");

// Removes the folders that runs of this user which were killed left behind:
// those whose owner process is gone.  A folder whose owner cannot be told
// is left alone: it may be a running program's.
void clearStaleFolders(const QString& base) {
    const QDir folders(base);
    for (const QFileInfo& entry :
         folders.entryInfoList({QStringLiteral("tarvelo-*")}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile owner(entry.filePath() + u'/' + kOwnerFile);
        if (entry.isSymLink() || entry.ownerId() != ::getuid() ||
            !owner.open(QIODevice::ReadOnly)) {
            continue;
        }
        bool ok = false;
        const pid_t pid = static_cast<pid_t>(owner.readAll().trimmed().toLongLong(&ok));
        if (ok && pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH) {
            QDir(entry.filePath()).removeRecursively();
        }
    }
}

// The folder exists: usePrivateFreeTdsConf() made it at start-up.  It is
// never made later, since FREETDSCONF could then only be pointed at it
// while other threads may read the environment.
void ensure(const State& s) {
    if (!s.folder) {
        throw odbc::Error(say::privateConfNotInUse());
    }
}

bool readableBack(const QByteArray& value) {
    for (const char c : value) {
        if (c == '\n' || c == '\r' || c == '\0' || c == ';' || c == '#') {
            return false;
        }
    }
    return true;
}

} // namespace

void usePrivateFreeTdsConf() {
    State& s = state();
    const std::lock_guard lock(s.mutex);
    if (s.folder) {
        return;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString base = !runtime.isEmpty() && QDir(runtime).exists() ? runtime : QDir::tempPath();
    clearStaleFolders(base);
    auto folder = std::make_unique<QTemporaryDir>(base + QStringLiteral("/tarvelo-XXXXXX"));
    if (!folder->isValid()) {
        throw odbc::Error(say::privateFolderMissing());
    }
    s.folder = std::move(folder);
    s.text.clear();
    writePrivately(s.folder->filePath(kOwnerFile), QByteArray::number(::getpid()));
    writePrivately(confPath(s), s.text);
    const QByteArray ours = QFile::encodeName(confPath(s));
    if (const char* user = std::getenv("FREETDSCONF"); user && ours != user) {
        s.userValue = QFile::decodeName(user);
    }
    setenv("FREETDSCONF", ours.constData(), 1);
}

void removePrivateFreeTdsConf() {
    State& s = state();
    const std::lock_guard lock(s.mutex);
    s.folder.reset();
}

std::optional<QString> userFreeTdsConf() {
    State& s = state();
    const std::lock_guard lock(s.mutex);
    return s.userValue;
}

std::optional<QString> replaceUserFreeTdsConfForTests(std::optional<QString> path) {
    State& s = state();
    const std::lock_guard lock(s.mutex);
    return std::exchange(s.userValue, std::move(path));
}

QString privateSection(const QList<ConfLine>& lines) {
    QByteArray body;
    for (const auto& [option, value] : lines) {
        const QByteArray line = option + '=' + value;
        if (!readableBack(option) || !readableBack(value) || line.size() > kLongestLine) {
            throw odbc::Error(say::valueNotWritable(QString::fromUtf8(value)));
        }
        body += line + '\n';
    }
    const QString name =
        QStringLiteral("tarvelo-") +
        QString::fromLatin1(
            QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex().left(24));
    State& s = state();
    const std::lock_guard lock(s.mutex);
    ensure(s);
    const QByteArray header = '[' + name.toLatin1() + "]\n";
    if (!s.text.contains(header)) {
        writePrivately(confPath(s), s.text + header + body);
        s.text += header + body;
    }
    return name;
}

void forgetPrivateSection(const QString& name) {
    State& s = state();
    const std::lock_guard lock(s.mutex);
    if (!s.folder) {
        return;
    }
    const QByteArray header = '[' + name.toLatin1() + "]\n";
    const qsizetype start = s.text.indexOf(header);
    if (start < 0) {
        return;
    }
    const qsizetype next = s.text.indexOf("\n[", start + header.size() - 1);
    QByteArray text = s.text;
    text.remove(start, next < 0 ? text.size() - start : next + 1 - start);
    try {
        writePrivately(confPath(s), text);
        s.text = text;
    } catch (const odbc::Error&) {
        // The section stays until the program ends; it holds no secret.
    }
}

QString pinnedCertificateFile(const QByteArray& der) {
    State& s = state();
    const std::lock_guard lock(s.mutex);
    ensure(s);
    const QString path = s.folder->filePath(
        QString::fromLatin1(QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex()) +
        QStringLiteral(".pem"));
    QByteArray pem("-----BEGIN CERTIFICATE-----\n");
    const QByteArray base64 = der.toBase64();
    for (qsizetype at = 0; at < base64.size(); at += 64) {
        pem += base64.mid(at, 64) + '\n';
    }
    writePrivately(path, pem + "-----END CERTIFICATE-----\n");
    return path;
}

} // namespace connection
