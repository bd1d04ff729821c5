#include "HostPath.h"

#include "FolderListing.h"
#include "platform/runtime/RegionalSettings.h"

#include <QFile>
#include <QStringList>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace hostfs {

namespace {

bool isSeparator(QChar c) { return c == u'\\' || c == u'/'; }

// A Windows path taken apart: where it starts on the host and its components.
struct ParsedPath {
    QByteArray base;    // "/", the GVfs folder, or "" (the working folder)
    bool share = false; // the first component is a share's mount folder
    QStringList components;
    bool trailingSeparator = false;
};

QStringList splitComponents(QStringView text) {
    QStringList parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isSeparator(text[i])) {
            if (i > start) {
                parts << text.mid(start, i - start).toString();
            }
            start = i + 1;
        }
    }
    return parts;
}

// "." goes, ".." takes the component before it away, before anything is
// looked up, so that a decision about the path (a drive root?) is made on
// where it leads and ".." after a linked folder does not leave through the
// link.  A drive root or a share stays put; a relative path keeps the ".."
// that reach above the working folder.
QStringList withoutDots(const QStringList& components, qsizetype fixed, bool absolute) {
    QStringList kept;
    for (const QString& component : components) {
        if (component == u".") {
            continue;
        }
        if (component == u"..") {
            if (kept.size() > fixed && kept.back() != u"..") {
                kept.removeLast();
                continue;
            }
            if (absolute) {
                continue;
            }
        }
        kept << component;
    }
    return kept;
}

ParsedPath parse(const QString& path) {
    ParsedPath parsed;
    parsed.trailingSeparator = !path.isEmpty() && isSeparator(path.back());
    QStringView rest(path);
    if (rest.size() >= 2 && isSeparator(rest[0]) && isSeparator(rest[1])) {
        QStringList parts = splitComponents(rest.mid(2));
        const QString server = parts.isEmpty() ? QString() : parts.takeFirst();
        const QString shareName = parts.isEmpty() ? QString() : parts.takeFirst();
        parsed.base = gvfsMountFolder();
        parsed.share = true;
        parsed.components << QStringLiteral("smb-share:server=%1,share=%2").arg(server, shareName);
        parsed.components << parts;
        parsed.components = withoutDots(parsed.components, 1, true);
        return parsed;
    }
    if (rest.size() >= 2 && rest[1] == u':' && rest[0].isLetter()) {
        rest = rest.mid(2);
    }
    parsed.base = (!rest.isEmpty() && isSeparator(rest[0])) ? QByteArrayLiteral("/") : QByteArray();
    parsed.components = withoutDots(splitComponents(rest), 0, !parsed.base.isEmpty());
    return parsed;
}

QByteArray join(const QByteArray& folder, const QByteArray& name) {
    if (folder.isEmpty()) {
        return name;
    }
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

bool entryExists(const QByteArray& hostPath, struct stat* st = nullptr) {
    struct stat ignored {};
    return ::lstat(hostPath.constData(), st ? st : &ignored) == 0;
}

// The host name of component inside hostFolder: the exact one if it exists,
// else the first entry equal to it without regard to case.  st receives the
// entry's lstat when it is found exactly.
std::optional<QByteArray> lookUp(const QByteArray& hostFolder, const QString& component,
                                 struct stat* st = nullptr, bool* exact = nullptr) {
    const QByteArray asWritten = QFile::encodeName(component);
    if (entryExists(join(hostFolder, asWritten), st)) {
        if (exact) {
            *exact = true;
        }
        return asWritten;
    }
    return findWithoutCase(hostFolder, rt::upperCase(component));
}

// Walks the components [0, count) from the base.  Once one is missing the
// rest are used as written.  allFound tells whether every one existed.
QByteArray walk(const ParsedPath& parsed, qsizetype count, bool& allFound) {
    QByteArray host = parsed.base;
    allFound = true;
    for (qsizetype i = 0; i < count; ++i) {
        const QString& component = parsed.components[i];
        if (allFound && component != u"." && component != u"..") {
            if (std::optional<QByteArray> found = lookUp(host, component)) {
                host = join(host, *found);
                continue;
            }
            allFound = false;
        }
        host = join(host, QFile::encodeName(component));
    }
    return host;
}

bool isRootAt(const ParsedPath& parsed, qsizetype count) {
    return parsed.share ? count == 1 : (parsed.base == "/" && count == 0);
}

HostPath folderOf(const ParsedPath& parsed, qsizetype count, const QString& cacheKey) {
    HostPath folder;
    folder.isDriveRoot = isRootAt(parsed, count);
    bool allFound = false;
    folder.path = walk(parsed, count, allFound);
    if (folder.path.isEmpty()) {
        folder.path = QByteArrayLiteral(".");
    }
    if (allFound && !cacheKey.isEmpty()) {
        cacheFolder(cacheKey, {folder.path, folder.isDriveRoot});
    }
    return folder;
}

// The text of path up to its last separator, as the key of its folder.
QString folderKey(const QString& path) {
    qsizetype i = path.size();
    while (i > 0 && !isSeparator(path[i - 1])) {
        --i;
    }
    return path.left(i);
}

// Whether the last component of path is "." or ".."; the text before it is
// then no key for the folder the path resolves in.
bool endsInDots(const QString& path) {
    const QStringView last = QStringView(path).mid(folderKey(path).size());
    return last == u"." || last == u"..";
}

} // namespace

QByteArray gvfsMountFolder() {
    QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty()) {
        runtime = "/run/user/" + QByteArray::number(::getuid());
    }
    return join(runtime, QByteArrayLiteral("gvfs"));
}

QString windowsPathOf(const QString& hostPath) {
    const QString mounts =
        QFile::decodeName(gvfsMountFolder()) + QStringLiteral("/smb-share:server=");
    if (hostPath.startsWith(mounts)) {
        const qsizetype end = hostPath.indexOf(u'/', mounts.size());
        const QString mount = hostPath.mid(mounts.size(), end < 0 ? -1 : end - mounts.size());
        const qsizetype comma = mount.indexOf(QStringLiteral(",share="));
        if (comma > 0) {
            const QString rest = end < 0 ? QString() : hostPath.mid(end);
            return QStringLiteral("\\\\") + mount.left(comma) + u'\\' + mount.mid(comma + 7) +
                   QString(rest).replace(u'/', u'\\');
        }
    }
    return QStringLiteral("C:") + QString(hostPath).replace(u'/', u'\\');
}

// A folder the operation has resolved before is not parsed again.  Shares
// always take the long way: their first components are no folders.
std::optional<ParentAndName> resolveFromCache(const QString& windowsPath) {
    if (windowsPath.size() >= 2 && isSeparator(windowsPath[0]) && isSeparator(windowsPath[1])) {
        return std::nullopt;
    }
    const QString key = folderKey(windowsPath);
    if (key.isEmpty() || endsInDots(windowsPath)) {
        return std::nullopt;
    }
    const std::optional<CachedFolder> cached = cachedFolder(key);
    if (!cached) {
        return std::nullopt;
    }
    return ParentAndName{{cached->path, cached->isDriveRoot}, windowsPath.mid(key.size())};
}

ParentAndName resolveParent(const QString& windowsPath) {
    if (std::optional<ParentAndName> cached = resolveFromCache(windowsPath)) {
        return *cached;
    }
    const ParsedPath parsed = parse(windowsPath);
    const qsizetype n = parsed.components.size();
    const bool named = n > 0 && !parsed.trailingSeparator && !isRootAt(parsed, n);
    const qsizetype folderCount = named ? n - 1 : n;
    ParentAndName result;
    const QString key =
        !named ? windowsPath : (endsInDots(windowsPath) ? QString() : folderKey(windowsPath));
    result.folder = folderOf(parsed, folderCount, key);
    if (named) {
        result.name = parsed.components.back();
    }
    return result;
}

HostPath resolve(const QString& windowsPath) {
    ParentAndName parent = resolveParent(windowsPath);
    if (parent.name.isEmpty()) {
        return parent.folder;
    }
    HostPath full;
    if (parent.name == u"." || parent.name == u"..") {
        full.path = join(parent.folder.path, QFile::encodeName(parent.name));
        return full;
    }
    bool exact = false;
    const std::optional<QByteArray> found =
        lookUp(parent.folder.path, parent.name, &full.entry, &exact);
    full.entryKnown = exact;
    full.missing = !found;
    full.path = join(parent.folder.path, found ? *found : QFile::encodeName(parent.name));
    return full;
}

} // namespace hostfs
