#pragma once
// A folder opened once, under which a walk's entries are reached by their
// host names, folder by folder, never through a symbolic link: each step
// down opens the next folder relative to the one before (openat with
// O_NOFOLLOW), so no name and no change of the tree during the walk can
// lead outside it.  Paths below the folder are host names joined by "/"
// ("" is the folder itself).  Failures are run-time errors.

#include <QByteArray>
#include <sys/stat.h>

namespace hostfs {

class FolderTree {
public:
    // A folder that cannot be opened (or is a link) leaves every operation
    // below it failing with the reason.
    explicit FolderTree(const QByteArray& hostFolder);
    ~FolderTree();
    FolderTree(const FolderTree&) = delete;
    FolderTree& operator=(const FolderTree&) = delete;

    // Deletes the file (or link) name in the folder below; a read-only file
    // stays (permission error), a folder is refused.
    void removeFile(const QByteArray& folder, const QByteArray& name);
    // Removes the empty folder name in the folder below.
    void removeFolder(const QByteArray& folder, const QByteArray& name);
    // Opens the regular file name for reading; anything else (a link, a
    // pipe, a device, a folder) is refused.  st receives its attributes.
    // The caller closes the descriptor.
    int openFile(const QByteArray& folder, const QByteArray& name, struct stat& st);

    // The host path of an entry below, for messages and the listing cache.
    QByteArray hostPathOf(const QByteArray& folder, const QByteArray& name = {}) const;

private:
    // The open folder below, kept while a walk stays in it; -1 with errno.
    int folderFd(const QByteArray& folder);

    QByteArray root_;
    int rootFd_ = -1;
    int rootError_ = 0;
    QByteArray currentFolder_;
    int currentFd_ = -1;
};

} // namespace hostfs
