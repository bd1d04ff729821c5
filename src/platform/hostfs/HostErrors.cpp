#include "HostErrors.h"

#include <cerrno>
#include <sys/stat.h>

namespace hostfs {

QByteArray hostParentOf(const QByteArray& hostPath) {
    QByteArray path = hostPath;
    while (path.size() > 1 && path.endsWith('/')) {
        path.chop(1);
    }
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0) {
        return QByteArrayLiteral(".");
    }
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

bool hostFolderExists(const QByteArray& hostPath) {
    struct stat st {};
    return ::stat(hostPath.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::int32_t runtimeNumberFor(int errnoValue, Action action, const QByteArray& hostPath) {
    switch (errnoValue) {
    case ENOENT:
        return hostFolderExists(hostParentOf(hostPath)) ? rt::err::FileNotFound
                                                        : rt::err::PathNotFound;
    case ENOTDIR:
        return rt::err::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return action == Action::Write ? rt::err::PermissionDenied : rt::err::PathFileAccess;
    case ENOSPC:
    case EDQUOT:
        return rt::err::DiskFull;
    case EEXIST:
        return rt::err::FileExists;
    case EIO:
        return rt::err::DeviceIO;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
        return rt::err::DiskNotReady;
    case ENAMETOOLONG:
    case EILSEQ:
    case EINVAL:
        return rt::err::BadFileName;
    case ENOMEM:
        return rt::err::OutOfMemory;
    default:
        return rt::err::PathFileAccess;
    }
}

void raiseHostError(int errnoValue, Action action, const QByteArray& hostPath) {
    throw rt::RuntimeError(runtimeNumberFor(errnoValue, action, hostPath));
}

} // namespace hostfs
