#pragma once
// Windows-notation paths on the host file system.
//
//   X:\rest            /rest (any drive letter)
//   X:rest, rest       relative to the working folder
//   \rest              /rest
//   \\server\share\r   $XDG_RUNTIME_DIR/gvfs/smb-share:server=server,share=share/r
//
// "\" and "/" both separate components.  Each component is looked up exactly
// first and then without regard to case; one that matches nothing is used as
// written, so that paths of things still to be created resolve too.

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
