#include "FolderListing.h"

#include "HostErrors.h"

#include <QFile>
#include <QHash>
#include <QLocale>
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
    QHash<QByteArray, std::shared_ptr<const FolderEntries>> listings;
    QHash<QString, QByteArray> folders;
};

thread_local OperationCache tCache;

QByteArray listingKey(const QByteArray& hostDir, bool followLink) {
    return followLink ? hostDir + '\x01' : hostDir;
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
    const QLocale locale = QLocale::system();
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

} // namespace

QString upperCase(const QString& text) {
    return QLocale::system().toUpper(text);
}

std::shared_ptr<const FolderEntries> readFolder(const QByteArray& hostDir, bool followLink,
                                                int& error) {
    error = 0;
    if (tCache.depth == 0) {
        return readFromHost(hostDir, followLink, error);
    }
    const QByteArray key = listingKey(hostDir, followLink);
    if (auto found = tCache.listings.constFind(key); found != tCache.listings.constEnd()) {
        return *found;
    }
    std::shared_ptr<const FolderEntries> entries = readFromHost(hostDir, followLink, error);
    if (entries) {
        tCache.listings.insert(key, entries);
    }
    return entries;
}

OperationScope::OperationScope() {
    ++tCache.depth;
}

OperationScope::~OperationScope() {
    if (--tCache.depth == 0) {
        tCache.listings.clear();
        tCache.folders.clear();
    }
}

void noteFolderChanged(const QByteArray& hostDir) {
    if (tCache.depth == 0) {
        return;
    }
    tCache.listings.remove(listingKey(hostDir, false));
    tCache.listings.remove(listingKey(hostDir, true));
}

void noteFolderRemovedOrMoved(const QByteArray& hostDir) {
    if (tCache.depth == 0) {
        return;
    }
    noteFolderChanged(hostParentOf(hostDir));
    tCache.listings.remove(listingKey(hostDir, false));
    tCache.listings.remove(listingKey(hostDir, true));
    tCache.folders.clear();
}

std::optional<QByteArray> cachedFolder(const QString& windowsFolder) {
    if (tCache.depth == 0) {
        return std::nullopt;
    }
    if (auto found = tCache.folders.constFind(windowsFolder); found != tCache.folders.constEnd()) {
        return *found;
    }
    return std::nullopt;
}

void cacheFolder(const QString& windowsFolder, const QByteArray& hostFolder) {
    if (tCache.depth > 0) {
        tCache.folders.insert(windowsFolder, hostFolder);
    }
}

} // namespace hostfs
