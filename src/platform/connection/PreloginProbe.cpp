#include "PreloginProbe.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QTcpSocket>

namespace connection {

namespace {

constexpr char kPreloginPacket = 0x12;
constexpr char kReplyPacket = 0x04;
constexpr int kHeaderSize = 8;

// A PRELOGIN message offering encryption: version and encryption options.
QByteArray preloginRequest() {
    const QByteArray options("\x00\x00\x0B\x00\x06"     // version at 11, 6 bytes
                             "\x01\x00\x11\x00\x01"     // encryption at 17, 1 byte
                             "\xFF"                     // end of the table
                             "\x0B\x00\x00\x00\x00\x00" // client version
                             "\x01",                    // encryption on
                             18);
    QByteArray packet;
    packet.append(kPreloginPacket).append('\x01'); // one message, one packet
    const int length = kHeaderSize + static_cast<int>(options.size());
    packet.append(static_cast<char>(length >> 8)).append(static_cast<char>(length & 0xFF));
    packet.append(QByteArray(4, '\0'));
    return packet + options;
}

std::optional<std::uint8_t> encryptionOption(const QByteArray& payload) {
    for (qsizetype at = 0; at + 5 <= payload.size(); at += 5) {
        const auto token = static_cast<std::uint8_t>(payload[at]);
        if (token == 0xFF) {
            break;
        }
        const int offset = (static_cast<std::uint8_t>(payload[at + 1]) << 8) |
                           static_cast<std::uint8_t>(payload[at + 2]);
        const int length = (static_cast<std::uint8_t>(payload[at + 3]) << 8) |
                           static_cast<std::uint8_t>(payload[at + 4]);
        if (token == 1 && length >= 1 && offset < payload.size()) {
            return static_cast<std::uint8_t>(payload[offset]);
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::uint8_t> serverEncryption(const QString& host, int port, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    QTcpSocket socket;
    socket.connectToHost(host, static_cast<quint16>(port));
    if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
        return std::nullopt;
    }
    socket.write(preloginRequest());
    QByteArray reply;
    while (reply.size() < kHeaderSize ||
           reply.size() <
               ((static_cast<std::uint8_t>(reply[2]) << 8) | static_cast<std::uint8_t>(reply[3]))) {
        if (deadline.hasExpired() ||
            !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            return std::nullopt;
        }
        reply += socket.readAll();
    }
    const int length =
        (static_cast<std::uint8_t>(reply[2]) << 8) | static_cast<std::uint8_t>(reply[3]);
    if (reply[0] != kReplyPacket || length < kHeaderSize) {
        return std::nullopt;
    }
    return encryptionOption(reply.mid(kHeaderSize, length - kHeaderSize));
}

} // namespace connection
