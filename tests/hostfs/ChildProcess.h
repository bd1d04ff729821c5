#pragma once
// Runs a piece of a test in a child process: as the unprivileged user
// nobody (the tests themselves run as root, for whom permissions hardly
// count), inside a throwaway root folder, or just with a time limit for
// calls that might block.  The child reports through its exit status.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <ftw.h>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

enum class RunAs { Self, Nobody, InRoot };

// The exit status of body run in a child (0 to 255), or 1000 + the signal
// that ended it (the time limit is SIGALRM).  With InRoot the child first
// makes rootFolder its root folder and working folder.
inline int runInChild(const std::function<int()>& body, RunAs as = RunAs::Self,
                      const QByteArray& rootFolder = {}, unsigned seconds = 20) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(seconds);
        if (as == RunAs::Nobody && ::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
                ::setuid(nobody->pw_uid) != 0) {
                ::_exit(250);
            }
        }
        if (as == RunAs::InRoot && (::chroot(rootFolder.constData()) != 0 || ::chdir("/") != 0)) {
            ::_exit(251); // never run the body outside the throwaway root
        }
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

// Hands a folder and everything in it to nobody, so that a child running
// as nobody may change it.
inline bool giveToNobody(const QString& hostPath) {
    static uid_t uid = 0;
    static gid_t gid = 0;
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody) {
        return false;
    }
    uid = nobody->pw_uid;
    gid = nobody->pw_gid;
    auto give = [](const char* path, const struct stat*, int, FTW*) {
        return ::lchown(path, uid, gid);
    };
    return ::nftw(QFile::encodeName(hostPath).constData(), give, 16, FTW_PHYS) == 0;
}

} // namespace testing_support
