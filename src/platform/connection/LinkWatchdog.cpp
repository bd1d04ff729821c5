#include "LinkWatchdog.h"

#include "DriverMessages.h"

#include <QDir>

#include <sys/socket.h>
#include <sys/stat.h>

namespace connection {

namespace {

struct SocketEntry {
    int fd;
    ino_t inode;
};

std::vector<SocketEntry> socketEntries() {
    std::vector<SocketEntry> entries;
    const QStringList names =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString& name : names) {
        bool ok = false;
        const int fd = name.toInt(&ok);
        struct stat info {};
        if (ok && ::fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode)) {
            entries.push_back({fd, info.st_ino});
        }
    }
    return entries;
}

bool connectedTcp(int fd) {
    int type = 0;
    socklen_t size = sizeof type;
    sockaddr_storage peer{};
    socklen_t peerSize = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) == 0 && type == SOCK_STREAM &&
           ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) == 0 &&
           (peer.ss_family == AF_INET || peer.ss_family == AF_INET6);
}

} // namespace

std::set<ino_t> openSockets() {
    std::set<ino_t> inodes;
    for (const SocketEntry& entry : socketEntries()) {
        inodes.insert(entry.inode);
    }
    return inodes;
}

std::optional<int> socketOpenedSince(const std::set<ino_t>& before) {
    std::optional<int> found;
    for (const SocketEntry& entry : socketEntries()) {
        if (!before.contains(entry.inode) && connectedTcp(entry.fd)) {
            if (found) {
                return std::nullopt;
            }
            found = entry.fd;
        }
    }
    return found;
}

LinkWatchdog::LinkWatchdog(int socket, std::chrono::milliseconds bound)
    : socket_(socket), bound_(bound) {}

LinkWatchdog::~LinkWatchdog() { ended(); }

void LinkWatchdog::started(std::chrono::seconds queryTimeout) {
    if (queryTimeout.count() == 0) {
        return;
    }
    ended(); // a statement before this one that was never said to end
    const std::lock_guard lock(mutex_);
    running_ = true;
    timer_ = std::thread([this, deadline = std::chrono::steady_clock::now() + bound_] {
        std::unique_lock wait(mutex_);
        if (!wake_.wait_until(wait, deadline, [this] { return !running_; })) {
            // Shut down, not closed: the descriptor stays the driver's.
            ::shutdown(socket_, SHUT_RDWR);
            fired_ = true;
        }
    });
}

void LinkWatchdog::ended() {
    {
        const std::lock_guard lock(mutex_);
        running_ = false;
    }
    wake_.notify_all();
    if (timer_.joinable()) {
        timer_.join();
    }
}

QString LinkWatchdog::interruption() const {
    const std::lock_guard lock(mutex_);
    return fired_ ? noAnswerInTime() : QString();
}

} // namespace connection
