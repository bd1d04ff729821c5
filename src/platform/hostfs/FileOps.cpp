#include "FileOps.h"

#include "FolderListing.h"
#include "HostErrors.h"
#include "HostPath.h"
#include "Search.h"
#include "platform/runtime/RegionalSettings.h"

#include <QByteArray>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostfs {

namespace {

QByteArray baseNameOf(const QByteArray& hostPath) {
    return hostPath.mid(hostPath.lastIndexOf('/') + 1);
}

bool isReadOnly(const struct stat& st) { return S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR); }

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now, so that a failed close (a full disk on some file systems)
    // is seen; returns the errno value or 0.
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int fd_;
};

// Copies every byte of in to out; returns 0 or the errno value.  The length
// known at the start saves the call that would only find the end.
int copyData(int in, int out, off_t knownLength) {
    bool kernelCopy = true;
    off_t copied = 0;
    while (kernelCopy) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n == 0) {
            return 0;
        }
        if (n > 0 && (copied += n) == knownLength) {
            return 0;
        }
        if (n < 0) {
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
                errno != EBADF) {
                return errno;
            }
            kernelCopy = false;
        }
    }
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0) {
            return 0;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t written = ::write(out, buffer + done, static_cast<size_t>(n - done));
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return errno;
            }
            done += written;
        }
    }
}

// Writes the copy into a file that did not exist, created here (exclusive).
// A failure removes what was created; returns 0 or the errno value.
int writeNewFile(int in, const struct stat& source, const QByteArray& target) {
    Fd out(::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                  source.st_mode & 07777));
    if (out.get() < 0) {
        return errno;
    }
    int error = copyData(in, out.get(), source.st_size);
    if (error == 0) {
        const struct timespec times[2] = {source.st_atim, source.st_mtim};
        ::futimens(out.get(), times);
    }
    if (const int closeError = out.close(); error == 0) {
        error = closeError;
    }
    if (error != 0) {
        ::unlink(target.constData());
    }
    return error;
}

void copyIntoNewFile(int in, const struct stat& source, const QByteArray& target) {
    if (const int error = writeNewFile(in, source, target); error != 0) {
        raiseHostError(error, Action::Write, target);
    }
}

// Replaces an existing file: the copy goes to a temporary file beside it and
// is renamed over it once complete.
void replaceFile(int in, const struct stat& source, const QByteArray& target) {
    const QByteArray folder = hostParentOf(target);
    QByteArray temporary;
    for (int attempt = 0;; ++attempt) {
        temporary = folder + "/.~tarvelo-" + QByteArray::number(::getpid()) + "-" +
                    QByteArray::number(attempt);
        struct stat st {};
        if (::lstat(temporary.constData(), &st) != 0) {
            break;
        }
    }
    copyIntoNewFile(in, source, temporary);
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        raiseHostError(error, Action::Write, target);
    }
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

bool folderExists(const QString& path) {
    const QByteArray host = resolve(path).path;
    if (isKnownFolder(host)) {
        return true;
    }
    struct stat st {};
    if (::stat(host.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return false;
    }
    noteKnownFolder(host);
    return true;
}

namespace {

// Copies the open source onto target, whose lstat is targetStat when
// targetExists.  Only a regular file (or a link, replaced as an entry) is
// replaced; a pipe or a device is never written through: it could block for
// ever or take the data anywhere.
void copyOnto(int in, const struct stat& sourceStat, const QByteArray& target, bool targetExists,
              const struct stat& targetStat) {
    if (!targetExists) {
        copyIntoNewFile(in, sourceStat, target);
        noteEntryAdded(hostParentOf(target), baseNameOf(target));
        return;
    }
    if (S_ISDIR(targetStat.st_mode)) {
        raiseHostError(EISDIR, Action::Write, target);
    }
    // Copying a file onto itself would destroy it; the platform refuses.
    if (isReadOnly(targetStat) || sameFile(sourceStat, targetStat) ||
        !(S_ISREG(targetStat.st_mode) || S_ISLNK(targetStat.st_mode))) {
        raiseHostError(EACCES, Action::Write, target);
    }
    replaceFile(in, sourceStat, target);
}

void refuseSpecialSource(const struct stat& st, const QByteArray& source) {
    if (S_ISDIR(st.st_mode)) {
        raiseHostError(EISDIR, Action::Read, source);
    }
    if (!S_ISREG(st.st_mode)) {
        throw rt::RuntimeError(rt::err::PermissionDenied);
    }
}

} // namespace

void copyFile(const QString& from, const QString& to) {
    const HostPath resolvedSource = resolve(from);
    const QByteArray& source = resolvedSource.path;
    // Non-blocking: opening a pipe for reading would wait for a writer.
    Fd in(::open(source.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat sourceStat {};
    if (in.get() < 0) {
        raiseHostError(errno, Action::Read, source);
    }
    // A plain file's lstat is its stat; a link's target needs its own.
    if (resolvedSource.entryKnown && S_ISREG(resolvedSource.entry.st_mode)) {
        sourceStat = resolvedSource.entry;
    } else if (::fstat(in.get(), &sourceStat) != 0) {
        raiseHostError(errno, Action::Read, source);
    }
    refuseSpecialSource(sourceStat, source);
    ::fcntl(in.get(), F_SETFL, O_RDONLY);
    const HostPath resolvedTarget = resolve(to);
    const QByteArray& target = resolvedTarget.path;
    struct stat targetStat = resolvedTarget.entry;
    bool targetExists = resolvedTarget.entryKnown;
    // Found under another letter case: its attributes are still to be read.
    if (!targetExists && !resolvedTarget.missing) {
        targetExists = ::lstat(target.constData(), &targetStat) == 0;
        if (!targetExists && errno != ENOENT) {
            raiseHostError(errno, Action::Write, target);
        }
    }
    copyOnto(in.get(), sourceStat, target, targetExists, targetStat);
}

void copyOpenFile(int in, const struct stat& sourceStat, const QByteArray& targetFolder,
                  const QByteArray& name) {
    QByteArray target = targetFolder + '/' + name;
    struct stat targetStat {};
    bool targetExists = ::lstat(target.constData(), &targetStat) == 0;
    if (!targetExists) {
        if (errno != ENOENT) {
            raiseHostError(errno, Action::Write, target);
        }
        // A name that is not valid text has no letter case to ignore: its
        // text would stand for other names as well.
        const QString text = QFile::decodeName(name);
        const auto other = QFile::encodeName(text) == name
                               ? findWithoutCase(targetFolder, rt::upperCase(text))
                               : std::nullopt;
        if (other) {
            target = targetFolder + '/' + *other;
            targetExists = ::lstat(target.constData(), &targetStat) == 0;
        }
    }
    copyOnto(in, sourceStat, target, targetExists, targetStat);
}

QByteArray folderBelow(const QByteArray& root, const QStringList& names, bool create) {
    QByteArray folder = root;
    for (const QString& name : names) {
        QByteArray hostName = QFile::encodeName(name);
        QByteArray path = folder + '/' + hostName;
        struct stat st {};
        bool found = ::lstat(path.constData(), &st) == 0;
        if (!found) {
            if (const auto other = findWithoutCase(folder, rt::upperCase(name))) {
                path = folder + '/' + *other;
                found = ::lstat(path.constData(), &st) == 0;
            }
        }
        if (found && !S_ISDIR(st.st_mode)) {
            // A file or a link where the folder should be: never gone through.
            raiseHostError(ENOTDIR, Action::Write, path);
        }
        if (!found) {
            if (!create) {
                raiseHostError(ENOENT, Action::Write, path);
            }
            if (::mkdir(path.constData(), 0777) != 0) {
                raiseHostError(errno, Action::Write, path);
            }
            noteEntryAdded(folder, hostName);
        }
        folder = path;
    }
    return folder;
}

void makeFolder(const QString& path) {
    const QByteArray host = resolve(path).path;
    if (::mkdir(host.constData(), 0777) != 0) {
        raiseHostError(errno, Action::Write, host);
    }
    noteEntryAdded(hostParentOf(host), baseNameOf(host));
    noteKnownFolder(host);
}

void removeFolder(const QString& path) {
    const QByteArray host = resolve(path).path;
    if (::rmdir(host.constData()) != 0) {
        raiseHostError(errno, Action::Remove, host);
    }
    noteEmptyFolderRemoved(host);
}

void deleteFiles(const QString& pattern) {
    const std::vector<FoundEntry> matches = findAll(pattern, attr::Normal);
    if (matches.empty()) {
        throw rt::RuntimeError(rt::err::FileNotFound);
    }
    for (const FoundEntry& entry : matches) {
        bool readOnly = entry.readOnly;
        if (!entry.modeKnown) {
            struct stat st {};
            if (::lstat(entry.hostPath.constData(), &st) != 0) {
                raiseHostError(errno, Action::Remove, entry.hostPath);
            }
            readOnly = isReadOnly(st);
        }
        if (readOnly) {
            raiseHostError(EACCES, Action::Remove, entry.hostPath);
        }
        if (::unlink(entry.hostPath.constData()) != 0) {
            raiseHostError(errno, Action::Remove, entry.hostPath);
        }
        noteEntryRemoved(hostParentOf(entry.hostPath));
    }
}

namespace {

// A move of a file to another file system: copy, then remove the original;
// if the original cannot go, the copy goes instead.
int moveFileAcross(const QByteArray& source, const QByteArray& target) {
    Fd in(::open(source.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat st {};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0) {
        return errno;
    }
    if (const int error = writeNewFile(in.get(), st, target); error != 0) {
        return error;
    }
    if (::unlink(source.constData()) != 0) {
        const int error = errno;
        ::unlink(target.constData());
        return error;
    }
    return 0;
}

int renameNoReplace(const QByteArray& source, const QByteArray& target) {
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without the no-replace flag: test, then rename.
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0) {
        return EEXIST;
    }
    return ::rename(source.constData(), target.constData()) == 0 ? 0 : errno;
}

} // namespace

int moveEntry(const QString& from, const QString& to) {
    const QByteArray source = resolve(from).path;
    struct stat sourceStat {};
    if (::lstat(source.constData(), &sourceStat) != 0) {
        return errno;
    }
    QByteArray target = resolve(to).path;
    struct stat targetStat {};
    if (::lstat(target.constData(), &targetStat) == 0) {
        // The same entry under another letter case only changes the case:
        // it takes the name as written.
        const QByteArray written =
            hostParentOf(target) + '/' + QFile::encodeName(resolveParent(to).name);
        if (!sameFile(sourceStat, targetStat) || written == target) {
            return EEXIST;
        }
        target = written;
    }
    int error = renameNoReplace(source, target);
    if (error == EXDEV && S_ISREG(sourceStat.st_mode)) {
        error = moveFileAcross(source, target);
    }
    if (error == 0) {
        noteFolderMoved(source);
        noteEntryAdded(hostParentOf(target), baseNameOf(target));
    }
    return error;
}

std::int64_t fileLength(const QString& path) {
    const QByteArray host = resolve(path).path;
    struct stat st {};
    if (::stat(host.constData(), &st) != 0) {
        raiseHostError(errno, Action::Read, host);
    }
    if (S_ISDIR(st.st_mode)) {
        throw rt::RuntimeError(rt::err::FileNotFound);
    }
    return static_cast<std::int64_t>(st.st_size);
}

} // namespace hostfs
