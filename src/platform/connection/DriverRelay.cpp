#include "DriverRelay.h"

#include "Sentences.h"

#include "platform/odbc/Odbc.h"

#include <QDir>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace connection {

namespace {

int remainingMs(QDeadlineTimer deadline) {
    return static_cast<int>(std::max<qint64>(0, deadline.remainingTime()));
}

bool sameAddress(const sockaddr_in& one, const sockaddr_in& other) {
    return one.sin_family == other.sin_family && one.sin_port == other.sin_port &&
           one.sin_addr.s_addr == other.sin_addr.s_addr;
}

// True when the socket at the other end of `accepted` is one of this
// process's: a descriptor of ours is bound where `accepted` sees its peer
// and connected where `accepted` is bound.
bool fromThisProcess(int accepted) {
    sockaddr_in peer{};
    sockaddr_in local{};
    socklen_t peerSize = sizeof peer;
    socklen_t localSize = sizeof local;
    if (::getpeername(accepted, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0 ||
        ::getsockname(accepted, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
        peer.sin_family != AF_INET) {
        return false;
    }
    const QStringList names =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString& name : names) {
        bool ok = false;
        const int fd = name.toInt(&ok);
        struct stat info {};
        sockaddr_in bound{};
        sockaddr_in connected{};
        socklen_t boundSize = sizeof bound;
        socklen_t connectedSize = sizeof connected;
        if (ok && fd != accepted && ::fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode) &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundSize) == 0 &&
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&connected), &connectedSize) == 0 &&
            sameAddress(bound, peer) && sameAddress(connected, local)) {
            return true;
        }
    }
    return false;
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

bool writeAll(int fd, const QByteArray& bytes) {
    for (qsizetype at = 0; at < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.constData() + at, static_cast<size_t>(bytes.size() - at),
                                 MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        at += n;
    }
    return true;
}

} // namespace

DriverRelay::DriverRelay(int server, PreloginGuard guard, QDeadlineTimer loginDeadline)
    : guard_(std::move(guard)), server_(server) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    sockaddr_in here{};
    here.sin_family = AF_INET;
    here.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof here;
    if (listener_ < 0 || wake_ < 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&here), sizeof here) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&here), &size) != 0) {
        closeAll();
        throw odbc::Error(say::relayNotOpened(QString::fromLocal8Bit(std::strerror(errno))));
    }
    port_ = ntohs(here.sin_port);
    followCurrentWork();
    thread_ = std::thread([this, loginDeadline] { run(loginDeadline); });
}

DriverRelay::~DriverRelay() {
    stopping_ = true;
    if (work_) {
        work_->forget(cutId_);
    }
    cut(); // a send to a peer that reads no more would hold the thread
    wake();
    thread_.join();
    closeAll();
}

void DriverRelay::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
}

void DriverRelay::loginEnded() {
    loginPending_ = false;
    wake();
}

void DriverRelay::followCurrentWork() {
    if (work_) {
        work_->forget(cutId_);
    }
    work_ = rt::currentAbandonment();
    if (work_) {
        cutId_ = work_->onAbandon([this] { cut(); });
    }
}

DriverRelay::Observed DriverRelay::observed() const {
    const std::lock_guard lock(mutex_);
    return observed_;
}

std::optional<Interception> DriverRelay::interception() const {
    const std::lock_guard lock(mutex_);
    return observed_.interception;
}

bool DriverRelay::driverLeft() const {
    const std::lock_guard lock(mutex_);
    if (!accepted_ || observed_.closedFirst == Closer::Driver) {
        return true;
    }
    if (driver_ < 0) {
        return false; // closed here, after the server ended the link
    }
    // The driver's close reaches this socket at once on loopback, before
    // the relay's thread may have read it.
    pollfd peek{driver_, POLLRDHUP, 0};
    return ::poll(&peek, 1, 0) > 0 && (peek.revents & POLLRDHUP);
}

bool DriverRelay::open() const {
    const std::lock_guard lock(mutex_);
    if (!accepted_ || ended_) {
        return false;
    }
    // A server that closed is seen here before the relay's thread reads it.
    pollfd peek{server_, POLLRDHUP, 0};
    return !(::poll(&peek, 1, 0) > 0 && (peek.revents & (POLLRDHUP | POLLHUP | POLLERR)));
}

void DriverRelay::cut() {
    const std::lock_guard lock(mutex_);
    for (const int fd : {driver_, server_}) {
        if (fd >= 0) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
}

void DriverRelay::run(QDeadlineTimer deadline) {
    if (acceptDriver(deadline)) {
        pump(deadline);
    }
    const std::lock_guard lock(mutex_);
    ended_ = true;
    // Closed here, so that the driver learns at once that the link is gone.
    closeFd(driver_);
    closeFd(server_);
}

bool DriverRelay::acceptDriver(QDeadlineTimer deadline) {
    pollfd waits[2] = {{listener_, POLLIN, 0}, {wake_, POLLIN, 0}};
    if (::poll(waits, 2, remainingMs(deadline)) <= 0 || !(waits[0].revents & POLLIN)) {
        return false;
    }
    const int accepted = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    const std::lock_guard lock(mutex_);
    // One connection only: whoever comes next finds nothing listening.
    closeFd(listener_);
    if (accepted < 0) {
        return false;
    }
    driver_ = accepted;
    if (!fromThisProcess(accepted)) {
        observed_.interception = Interception::ForeignPeer;
        return false;
    }
    accepted_ = true;
    return true;
}

void DriverRelay::pump(QDeadlineTimer deadline) {
    pollfd waits[3] = {{driver_, POLLIN, 0}, {server_, POLLIN, 0}, {wake_, POLLIN, 0}};
    char buffer[65536];
    for (;;) {
        if (stopping_) {
            return;
        }
        const int ready = ::poll(waits, 3, loginPending_ ? remainingMs(deadline) : -1);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        if (ready == 0) {
            const std::lock_guard lock(mutex_);
            observed_.loginCutAtDeadline = true;
            observed_.closedFirst = Closer::Relay;
            return;
        }
        if (waits[2].revents) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t read = ::read(wake_, &count, sizeof count);
            continue;
        }
        for (int from = 0; from < 2; ++from) {
            if (!(waits[from].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            const ssize_t n = ::recv(waits[from].fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                const std::lock_guard lock(mutex_);
                if (observed_.closedFirst == Closer::Nobody) {
                    observed_.closedFirst = from == 0 ? Closer::Driver : Closer::Server;
                }
                return;
            }
            if (!pass(from == 0, QByteArray(buffer, n), waits[1 - from].fd)) {
                return;
            }
        }
    }
}

bool DriverRelay::pass(bool fromDriver, const QByteArray& bytes, int to) {
    const PreloginGuard::Step step =
        fromDriver ? guard_.fromDriver(bytes) : guard_.fromServer(bytes);
    {
        const std::lock_guard lock(mutex_);
        if (!fromDriver) {
            observed_.clear = guard_.seen();
        }
        if (step.stop) {
            observed_.interception = step.stop;
            observed_.closedFirst = Closer::Relay;
            return false;
        }
    }
    return writeAll(to, step.forward);
}

void DriverRelay::closeAll() {
    for (int* fd : {&listener_, &wake_, &driver_, &server_}) {
        closeFd(*fd);
    }
}

} // namespace connection
