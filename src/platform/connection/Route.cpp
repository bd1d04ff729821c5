#include "Route.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
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

} // namespace

ServerLink firstAnswering(const Route& route, QDeadlineTimer deadline) {
    ServerLink link;
    for (const QHostAddress& address : route.addresses) {
        link.socket = connectOne(address, static_cast<quint16>(route.port), deadline);
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

} // namespace connection
