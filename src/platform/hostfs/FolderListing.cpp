#include "FolderListing.h"

#include "HostErrors.h"
#include "platform/runtime/RegionalSettings.h"

#include <QFile>
#include <QHash>
#include <QLocale>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostfs {

namespace {

struct OperationCache {
    int depth = 0;
    // Listings of real folders by host path; those read through a symbolic
    // link carry a marker byte after the path.
    QHash<QByteArray, std::shared_ptr<const FolderEntries>> listings;
    // Per folder: upper-case name -> host name, for lookups without case.
    QHash<QByteArray, QHash<QString, QByteArray>> names;
    QHash<QString, CachedFolder> folders;
    QMultiHash<QByteArray, QString> keysByFolder; // the Windows texts of each resolved folder
    QSet<QByteArray> knownFolders;
};

thread_local OperationCache tCache;

QByteArray throughLinkKey(const QByteArray& hostDir) { return hostDir + '\x01'; }

// Forgets the listing of hostDir, read directly or through a link.
void forgetListing(const QByteArray& hostDir) {
    tCache.listings.remove(hostDir);
    tCache.listings.remove(throughLinkKey(hostDir));
}

bool isUnder(const QByteArray& path, const QByteArray& folder) {
    return path == folder || (path.startsWith(folder) && path.size() > folder.size() &&
                              (folder.endsWith('/') || path[folder.size()] == '/'));
}

template <typename Map> void eraseUnder(Map& map, const QByteArray& folder) {
    for (auto it = map.begin(); it != map.end();) {
        it = isUnder(it.key(), folder) ? map.erase(it) : std::next(it);
    }
}

bool isSpecial(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool entryIsFolder(int dirFd, const dirent* d) {
    if (d->d_type != DT_UNKNOWN) {
        return d->d_type == DT_DIR;
    }
    struct stat st {};
    return ::fstatat(dirFd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

std::shared_ptr<FolderEntries> readFromHost(const QByteArray& hostDir, bool followLink,
                                            int& error) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    const int fd = ::open(hostDir.constData(), flags);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        error = errno;
        ::close(fd);
        return nullptr;
    }
    auto entries = std::make_shared<FolderEntries>();
    const QLocale locale = rt::regionalLocale();
    while (const dirent* d = ::readdir(dir)) {
        if (isSpecial(d->d_name)) {
            continue;
        }
        FolderEntry entry;
        entry.hostName = QByteArray(d->d_name);
        entry.name = QFile::decodeName(entry.hostName);
        entry.upperName = locale.toUpper(entry.name);
        entry.folder = entryIsFolder(::dirfd(dir), d);
        entry.hidden = d->d_name[0] == '.';
        entries->push_back(std::move(entry));
    }
    ::closedir(dir);
    std::sort(entries->begin(), entries->end(), [](const FolderEntry& a, const FolderEntry& b) {
        const int byUpper = a.upperName.compare(b.upperName);
        return byUpper != 0 ? byUpper < 0 : a.hostName < b.hostName;
    });
    return entries;
}

// Per upper-case name the one host name it stands for; an empty value marks
// a name that several entries share, which therefore names none of them.
void addToIndex(QHash<QString, QByteArray>& index, const QString& upperName,
                const QByteArray& hostName) {
    const auto found = index.constFind(upperName);
    index.insert(upperName,
                 found == index.constEnd() || *found == hostName ? hostName : QByteArray());
}

std::optional<QByteArray> fromIndex(const QHash<QString, QByteArray>& index,
                                    const QString& upperName) {
    const auto found = index.constFind(upperName);
    if (found == index.constEnd() || found->isEmpty()) {
        return std::nullopt;
    }
    return *found;
}

} // namespace

std::shared_ptr<const FolderEntries> readFolder(const QByteArray& hostDir, bool followLink,
                                                int& error) {
    error = 0;
    if (tCache.depth == 0) {
        return readFromHost(hostDir, followLink, error);
    }
    if (auto found = tCache.listings.constFind(hostDir); found != tCache.listings.constEnd()) {
        return *found;
    }
    // A real folder is read once, whether or not links may be followed.
    if (std::shared_ptr<const FolderEntries> entries = readFromHost(hostDir, false, error)) {
        tCache.listings.insert(hostDir, entries);
        return entries;
    }
    if (!followLink || (error != ELOOP && error != ENOTDIR)) {
        return nullptr;
    }
    const QByteArray key = throughLinkKey(hostDir);
    if (auto found = tCache.listings.constFind(key); found != tCache.listings.constEnd()) {
        return *found;
    }
    std::shared_ptr<const FolderEntries> entries = readFromHost(hostDir, true, error);
    if (entries) {
        tCache.listings.insert(key, entries);
    }
    return entries;
}

std::optional<QByteArray> findWithoutCase(const QByteArray& hostDir, const QString& upperName) {
    const QByteArray dir = hostDir.isEmpty() ? QByteArrayLiteral(".") : hostDir;
    auto index = tCache.names.find(dir);
    if (index == tCache.names.end()) {
        int error = 0;
        const auto entries = readFolder(dir, true, error);
        if (!entries) {
            return std::nullopt;
        }
        QHash<QString, QByteArray> built;
        for (const FolderEntry& entry : *entries) {
            addToIndex(built, entry.upperName, entry.hostName);
        }
        if (tCache.depth == 0) {
            return fromIndex(built, upperName);
        }
        index = tCache.names.insert(dir, std::move(built));
    }
    return fromIndex(*index, upperName);
}

OperationScope::OperationScope() { ++tCache.depth; }

OperationScope::~OperationScope() {
    if (--tCache.depth == 0) {
        tCache = OperationCache{};
    }
}

void noteEntryAdded(const QByteArray& hostDir, const QByteArray& hostName) {
    if (tCache.depth == 0) {
        return;
    }
    forgetListing(hostDir);
    if (auto index = tCache.names.find(hostDir); index != tCache.names.end()) {
        addToIndex(*index, rt::upperCase(QFile::decodeName(hostName)), hostName);
    }
}

void noteEntryRemoved(const QByteArray& hostDir) {
    if (tCache.depth == 0) {
        return;
    }
    forgetListing(hostDir);
    // Another entry may differ from the removed one by letter case only:
    // the index is rebuilt when next needed.
    tCache.names.remove(hostDir);
}

void noteEmptyFolderRemoved(const QByteArray& hostFolder) {
    if (tCache.depth == 0) {
        return;
    }
    noteEntryRemoved(hostParentOf(hostFolder));
    forgetListing(hostFolder);
    tCache.names.remove(hostFolder);
    tCache.knownFolders.remove(hostFolder);
    for (const QString& key : tCache.keysByFolder.values(hostFolder)) {
        tCache.folders.remove(key);
    }
    tCache.keysByFolder.remove(hostFolder);
}

void noteFolderMoved(const QByteArray& hostFolder) {
    if (tCache.depth == 0) {
        return;
    }
    noteEntryRemoved(hostParentOf(hostFolder));
    eraseUnder(tCache.listings, hostFolder);
    eraseUnder(tCache.names, hostFolder);
    eraseUnder(tCache.keysByFolder, hostFolder);
    for (auto it = tCache.folders.begin(); it != tCache.folders.end();) {
        it = isUnder(it.value().path, hostFolder) ? tCache.folders.erase(it) : std::next(it);
    }
    for (auto it = tCache.knownFolders.begin(); it != tCache.knownFolders.end();) {
        it = isUnder(*it, hostFolder) ? tCache.knownFolders.erase(it) : std::next(it);
    }
}

bool isKnownFolder(const QByteArray& hostPath) {
    return tCache.depth > 0 && tCache.knownFolders.contains(hostPath);
}

void noteKnownFolder(const QByteArray& hostPath) {
    if (tCache.depth > 0) {
        tCache.knownFolders.insert(hostPath);
    }
}

std::optional<CachedFolder> cachedFolder(const QString& windowsFolder) {
    if (tCache.depth == 0) {
        return std::nullopt;
    }
    if (auto found = tCache.folders.constFind(windowsFolder); found != tCache.folders.constEnd()) {
        return *found;
    }
    return std::nullopt;
}

void cacheFolder(const QString& windowsFolder, const CachedFolder& folder) {
    if (tCache.depth > 0) {
        tCache.folders.insert(windowsFolder, folder);
        tCache.keysByFolder.insert(folder.path, windowsFolder);
    }
}

} // namespace hostfs
