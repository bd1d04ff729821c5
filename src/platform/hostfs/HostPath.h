#pragma once
// Windows-notation paths on the host file system.
//
//   X:\rest            /rest (any drive letter)
//   X:rest, rest       relative to the working folder
//   \rest              /rest
//   \\server\share\r   $XDG_RUNTIME_DIR/gvfs/smb-share:server=server,share=share/r
//
// "\" and "/" both separate components.  "." and ".." are resolved on the
// text before anything is looked up (".." never climbs above a drive root or
// a share, and never back out through a linked folder), so decisions such
// as "is this a drive root?" are made on where the path really leads.  Each
// component is looked up exactly first and then without regard to case; a
// name takes exactly one entry: the exact one, else the only one equal to it
// without regard to case (several such and no exact one: none, so the name
// is used as written and names nothing).  One that matches nothing is used
// as written, so that paths of things still to be created resolve too.
//
// A Windows-notation text does not always lead back to the host entry it
// was made from: a Linux name may hold "\", two names may differ only in
// case, a sibling may be a link, a name may not be valid text.  So the
// operations that act on what a walk found (copying a folder, emptying one)
// keep the host names byte for byte and act through FolderTree, never on
// the text parsed again; no walk goes through a symbolic link or leaves the
// folder it started from, and pipes and devices are never read or written
// through.

#include <QByteArray>
#include <QString>
#include <sys/stat.h>

namespace hostfs {

struct HostPath {
    QByteArray path;          // "/" separated; relative paths stay relative
    bool isDriveRoot = false; // the root of a drive or of a share
    // When the last component was found as written, its lstat (so that a
    // caller need not ask the host again).
    bool entryKnown = false;
    struct stat entry {};
    // The last component matched nothing (it was looked up and is missing).
    bool missing = false;
};

// The host path that windowsPath names.
HostPath resolve(const QString& windowsPath);

// The resolved folder that holds the last component of windowsPath, and that
// component as written (empty when windowsPath ends in a separator or names
// only a drive).
struct ParentAndName {
    HostPath folder;
    QString name;
};
ParentAndName resolveParent(const QString& windowsPath);

// An absolute host path in Windows notation: a share's mount as
// \\server\share\rest, anything else as C:\rest.
QString windowsPathOf(const QString& hostPath);

// The folder under which GVfs mounts network shares.
QByteArray gvfsMountFolder();

} // namespace hostfs
