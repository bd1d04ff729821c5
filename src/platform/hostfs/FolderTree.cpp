#include "FolderTree.h"

#include "FolderListing.h"
#include "HostErrors.h"
#include "platform/runtime/RuntimeError.h"

#include <QByteArrayList>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace hostfs {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

} // namespace

FolderTree::FolderTree(const QByteArray& hostFolder)
    : root_(hostFolder), rootFd_(::open(hostFolder.constData(), kFolderFlags)),
      rootError_(rootFd_ < 0 ? errno : 0) {}

FolderTree::~FolderTree() {
    if (currentFd_ >= 0 && currentFd_ != rootFd_) {
        ::close(currentFd_);
    }
    if (rootFd_ >= 0) {
        ::close(rootFd_);
    }
}

QByteArray FolderTree::hostPathOf(const QByteArray& folder, const QByteArray& name) const {
    QByteArray path = root_;
    for (const QByteArray& part : {folder, name}) {
        if (!part.isEmpty()) {
            path += (path.endsWith('/') ? "" : "/") + part;
        }
    }
    return path;
}

int FolderTree::folderFd(const QByteArray& folder) {
    if (rootFd_ < 0) {
        errno = rootError_;
        return -1;
    }
    if (folder.isEmpty()) {
        return rootFd_;
    }
    if (currentFd_ >= 0 && currentFolder_ == folder) {
        return currentFd_;
    }
    if (currentFd_ >= 0 && currentFd_ != rootFd_) {
        ::close(currentFd_);
    }
    currentFd_ = -1;
    int fd = rootFd_;
    for (const QByteArray& part : folder.split('/')) {
        const int next = ::openat(fd, part.constData(), kFolderFlags);
        const int error = errno;
        if (fd != rootFd_) {
            ::close(fd);
        }
        if (next < 0) {
            errno = error;
            return -1;
        }
        fd = next;
    }
    currentFolder_ = folder;
    currentFd_ = fd;
    return fd;
}

void FolderTree::removeFile(const QByteArray& folder, const QByteArray& name) {
    const int fd = folderFd(folder);
    struct stat st {};
    if (fd < 0 || ::fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        raiseHostError(errno, Action::Remove, hostPathOf(folder, name));
    }
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))) {
        raiseHostError(EACCES, Action::Remove, hostPathOf(folder, name));
    }
    if (::unlinkat(fd, name.constData(), 0) != 0) {
        raiseHostError(errno, Action::Remove, hostPathOf(folder, name));
    }
    noteEntryRemoved(hostPathOf(folder));
}

void FolderTree::removeFolder(const QByteArray& folder, const QByteArray& name) {
    const int fd = folderFd(folder);
    if (fd < 0 || ::unlinkat(fd, name.constData(), AT_REMOVEDIR) != 0) {
        raiseHostError(errno, Action::Remove, hostPathOf(folder, name));
    }
    noteEmptyFolderRemoved(hostPathOf(folder, name));
}

int FolderTree::openFile(const QByteArray& folder, const QByteArray& name, struct stat& st) {
    const int dirFd = folderFd(folder);
    // Non-blocking, so that a pipe put in the file's place cannot hold the
    // open; it is refused below.
    const int fd = dirFd < 0 ? -1
                             : ::openat(dirFd, name.constData(),
                                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        raiseHostError(error == ELOOP ? EACCES : error, Action::Read, hostPathOf(folder, name));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw rt::RuntimeError(S_ISDIR(st.st_mode) ? rt::err::PathFileAccess
                                                   : rt::err::PermissionDenied);
    }
    ::fcntl(fd, F_SETFL, O_RDONLY);
    return fd;
}

} // namespace hostfs
