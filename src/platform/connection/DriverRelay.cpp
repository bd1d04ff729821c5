#include "DriverRelay.h"

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

// Connects one socket to one address by `deadline`; the socket, or -1 with
// errno set.
int connectOne(const QHostAddress& address, quint16 port, QDeadlineTimer deadline) {
    sockaddr_storage where{};
    socklen_t size = 0;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto& six = reinterpret_cast<sockaddr_in6&>(where);
        six.sin6_family = AF_INET6;
        six.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&six.sin6_addr, bytes.c, sizeof six.sin6_addr);
        six.sin6_scope_id = address.scopeId().toUInt();
        size = sizeof six;
    } else {
        auto& four = reinterpret_cast<sockaddr_in&>(where);
        four.sin_family = AF_INET;
        four.sin_port = htons(port);
        four.sin_addr.s_addr = htonl(address.toIPv4Address());
        size = sizeof four;
    }
    const int fd = ::socket(where.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&where), size) != 0 && errno != EINPROGRESS) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    pollfd wait{fd, POLLOUT, 0};
    const int ready = ::poll(&wait, 1, remainingMs(deadline));
    int error = ready == 0 ? ETIMEDOUT : 0;
    socklen_t errorSize = sizeof error;
    if (ready < 0 ||
        (ready > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorSize) != 0)) {
        error = errno;
    }
    if (error != 0) {
        ::close(fd);
        errno = error;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
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

ServerLink linkTo(const QList<QHostAddress>& addresses, quint16 port, QDeadlineTimer deadline) {
    ServerLink link;
    for (const QHostAddress& address : addresses) {
        link.socket = connectOne(address, port, deadline);
        if (link.socket >= 0) {
            return link;
        }
        link.timedOut = deadline.hasExpired();
        if (link.timedOut) {
            break;
        }
    }
    return link;
}

DriverRelay::DriverRelay(int server, PreloginGuard guard, QDeadlineTimer deadline)
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
        throw odbc::Error(QStringLiteral("No se puede abrir el punto de paso local de la conexión "
                                         "(%1); no se ha enviado la contraseña.")
                              .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    port_ = ntohs(here.sin_port);
    thread_ = std::thread([this, deadline] { run(deadline); });
    if (work_) {
        cutId_ = work_->onAbandon([this] { cut(); });
    }
}

DriverRelay::~DriverRelay() {
    if (work_) {
        work_->forget(cutId_);
    }
    cut(); // a send to a peer that reads no more would hold the thread
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    thread_.join();
    closeAll();
}

std::optional<Interception> DriverRelay::interception() const {
    const std::lock_guard lock(mutex_);
    return interception_;
}

bool DriverRelay::driverLeft() const {
    const std::lock_guard lock(mutex_);
    if (!accepted_ || driverClosed_) {
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
        pump();
    }
    const std::lock_guard lock(mutex_);
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
        interception_ = Interception::ForeignPeer;
        return false;
    }
    accepted_ = true;
    return true;
}

void DriverRelay::pump() {
    pollfd waits[3] = {{driver_, POLLIN, 0}, {server_, POLLIN, 0}, {wake_, POLLIN, 0}};
    char buffer[65536];
    for (;;) {
        if (::poll(waits, 3, -1) < 0 && errno != EINTR) {
            return;
        }
        if (waits[2].revents) {
            return;
        }
        for (int from = 0; from < 2; ++from) {
            if (!(waits[from].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            const ssize_t n = ::recv(waits[from].fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                const std::lock_guard lock(mutex_);
                driverClosed_ = from == 0;
                return;
            }
            const QByteArray bytes(buffer, n);
            const PreloginGuard::Step step =
                from == 0 ? guard_.fromDriver(bytes) : guard_.fromServer(bytes);
            if (step.stop) {
                stop(*step.stop);
                return;
            }
            if (!writeAll(waits[1 - from].fd, step.forward)) {
                return;
            }
        }
    }
}

void DriverRelay::stop(Interception why) {
    const std::lock_guard lock(mutex_);
    interception_ = why;
}

void DriverRelay::closeAll() {
    for (int* fd : {&listener_, &wake_, &driver_, &server_}) {
        closeFd(*fd);
    }
}

} // namespace connection
