#include "PreloginProbe.h"

#include "PreloginReply.h"

#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>

#include <unistd.h>

namespace connection {

QByteArray preloginPacket(const QByteArray& payload) {
    QByteArray packet;
    packet.append(static_cast<char>(kPreloginPacket)).append('\x01'); // one message, one packet
    const int length = static_cast<int>(kPacketHeaderSize + payload.size());
    packet.append(static_cast<char>(length >> 8)).append(static_cast<char>(length & 0xFF));
    packet.append(QByteArray(4, '\0'));
    return packet + payload;
}

namespace {

// A PRELOGIN message offering encryption: version and encryption options.
QByteArray preloginRequest() {
    const QByteArray options("\x00\x00\x0B\x00\x06"     // version at 11, 6 bytes
                             "\x01\x00\x11\x00\x01"     // encryption at 17, 1 byte
                             "\xFF"                     // end of the table
                             "\x0B\x00\x00\x00\x00\x00" // client version
                             "\x01",                    // encryption on
                             18);
    return preloginPacket(options);
}

} // namespace

bool connectWithin(QTcpSocket& socket, const Route& route, QDeadlineTimer deadline) {
    const ServerLink link = firstAnswering(route, deadline);
    if (link.socket < 0) {
        return false;
    }
    if (!socket.setSocketDescriptor(link.socket)) {
        ::close(link.socket);
        return false;
    }
    return true;
}

std::optional<std::uint8_t> serverEncryption(const Route& route, QDeadlineTimer deadline) {
    QTcpSocket socket;
    if (!connectWithin(socket, route, deadline)) {
        return std::nullopt;
    }
    return preloginEncryption(socket, deadline);
}

std::optional<std::uint8_t> preloginEncryption(QTcpSocket& socket, QDeadlineTimer deadline) {
    socket.write(preloginRequest());
    QByteArray reply;
    const auto bytes = [&] { return reinterpret_cast<const std::uint8_t*>(reply.constData()); };
    for (;;) {
        const auto length = replyLength(bytes(), static_cast<std::size_t>(reply.size()));
        if (length && static_cast<std::size_t>(reply.size()) >= *length) {
            return replyEncryption(bytes(), static_cast<std::size_t>(reply.size()));
        }
        if (deadline.hasExpired() ||
            !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            return std::nullopt;
        }
        reply += socket.readAll();
    }
}

} // namespace connection
