#include "PreloginGuard.h"

#include "PreloginReply.h"

namespace connection {

namespace {

constexpr std::uint8_t kLogin7Packet = 0x10;

// TLS record types: a stream that starts with one is TLS, not TDS.
constexpr std::uint8_t kChangeCipherSpec = 0x14;
constexpr std::uint8_t kApplicationData = 0x17;
constexpr std::uint8_t kHandshakeRecord = 0x16;
constexpr std::uint8_t kAlertRecord = 0x15;
constexpr qsizetype kRecordHeader = 5;

constexpr std::uint8_t kServerHello = 2;
constexpr std::uint8_t kCertificate = 11;
constexpr qsizetype kMessageHeader = 4;
constexpr quint16 kSupportedVersions = 0x002B;
constexpr quint16 kTls13 = 0x0304;

// A certificate chain is some kilobytes; a handshake that shows none in this
// much is not one the guard can read.
constexpr qsizetype kLongestFlight = 256 * 1024;

std::uint8_t byteAt(const QByteArray& bytes, qsizetype at) {
    return static_cast<std::uint8_t>(bytes[at]);
}

std::size_t bigEndian(const QByteArray& bytes, qsizetype at, int width) {
    std::size_t value = 0;
    for (int i = 0; i < width; ++i) {
        value = value << 8 | byteAt(bytes, at + i);
    }
    return value;
}

bool isTlsRecord(std::uint8_t first) {
    return first >= kChangeCipherSpec && first <= kApplicationData;
}

// The version a ServerHello's supported_versions extension chose, if any.
std::optional<std::size_t> chosenVersion(const QByteArray& hello) {
    qsizetype at = 2 + 32; // legacy version, random
    if (at >= hello.size()) {
        return std::nullopt;
    }
    at += 1 + byteAt(hello, at); // session id
    at += 2 + 1;                 // cipher suite, compression
    if (at + 2 > hello.size()) {
        return std::nullopt;
    }
    const qsizetype end = std::min<qsizetype>(hello.size(), at + 2 + bigEndian(hello, at, 2));
    for (at += 2; at + 4 <= end;) {
        const std::size_t type = bigEndian(hello, at, 2);
        const auto size = static_cast<qsizetype>(bigEndian(hello, at + 2, 2));
        if (type == kSupportedVersions && size == 2 && at + 6 <= end) {
            return bigEndian(hello, at + 4, 2);
        }
        at += 4 + size;
    }
    return std::nullopt;
}

// The certificates of a TLS 1.2 Certificate message, the server's own
// first; none when the message holds none or cannot be read.
std::optional<QList<QByteArray>> certificatesIn(const QByteArray& message) {
    if (message.size() < 3) {
        return std::nullopt;
    }
    const qsizetype end = std::min<qsizetype>(message.size(), 3 + bigEndian(message, 0, 3));
    QList<QByteArray> chain;
    for (qsizetype at = 3; at + 3 <= end;) {
        const auto size = static_cast<qsizetype>(bigEndian(message, at, 3));
        if (size == 0 || at + 3 + size > end) {
            return std::nullopt;
        }
        chain << message.mid(at + 3, size);
        at += 3 + size;
    }
    return chain.isEmpty() ? std::nullopt : std::optional(chain);
}

} // namespace

std::optional<QByteArray> PreloginGuard::Stream::nextPacket() {
    if (raw || held.isEmpty()) {
        return std::nullopt;
    }
    if (isTlsRecord(byteAt(held, 0))) {
        raw = true;
        return std::nullopt;
    }
    if (held.size() < static_cast<qsizetype>(kPacketHeaderSize)) {
        return std::nullopt;
    }
    const auto length = static_cast<qsizetype>(bigEndian(held, 2, 2));
    if (length < static_cast<qsizetype>(kPacketHeaderSize)) {
        // No TDS packet: passed on as it is, for the peer to refuse.
        raw = true;
        return std::nullopt;
    }
    if (held.size() < length) {
        return std::nullopt;
    }
    QByteArray packet = held.left(length);
    held.remove(0, length);
    ++packets;
    return packet;
}

void PreloginGuard::Flight::take(const QByteArray& payload) {
    records += payload;
    while (records.size() >= kRecordHeader) {
        const auto size = static_cast<qsizetype>(bigEndian(records, 3, 2));
        if (records.size() < kRecordHeader + size) {
            break;
        }
        const std::uint8_t type = byteAt(records, 0);
        if (type == kHandshakeRecord) {
            messages += records.mid(kRecordHeader, size);
        } else if (type != kAlertRecord && !chain) {
            noCertificate = true; // an abbreviated handshake
        }
        records.remove(0, kRecordHeader + size);
    }
    while (messages.size() >= kMessageHeader && !over()) {
        const auto size = static_cast<qsizetype>(bigEndian(messages, 1, 3));
        if (messages.size() < kMessageHeader + size) {
            break;
        }
        const QByteArray body = messages.mid(kMessageHeader, size);
        if (byteAt(messages, 0) == kServerHello && chosenVersion(body) == kTls13) {
            tls13 = true;
        } else if (byteAt(messages, 0) == kCertificate) {
            chain = certificatesIn(body);
            noCertificate = !chain;
        }
        messages.remove(0, kMessageHeader + size);
    }
    if (!over() && records.size() + messages.size() > kLongestFlight) {
        noCertificate = true;
    }
}

PreloginGuard::PreloginGuard(bool strict, std::function<bool(const QByteArray&)> namesHost)
    : strict_(strict), namesHost_(std::move(namesHost)), checking_(bool(namesHost_)) {}

PreloginGuard::Step PreloginGuard::fromDriver(const QByteArray& bytes) {
    return take(driver_, bytes, &PreloginGuard::judgeDriverPacket);
}

PreloginGuard::Step PreloginGuard::fromServer(const QByteArray& bytes) {
    return take(server_, bytes, &PreloginGuard::judgeServerPacket);
}

PreloginGuard::Step PreloginGuard::take(Stream& stream, const QByteArray& bytes, Judge judge) {
    if (strict_ || stream.raw) {
        return {bytes, std::nullopt};
    }
    stream.held += bytes;
    Step step;
    while (const auto packet = stream.nextPacket()) {
        if (const auto stop = (this->*judge)(*packet)) {
            return {QByteArray(), stop};
        }
        step.forward += *packet;
    }
    if (stream.raw) {
        step.forward += stream.held; // the encrypted login and all after it
        stream.held.clear();
    }
    return step;
}

std::optional<Interception> PreloginGuard::judgeDriverPacket(const QByteArray& packet) {
    if (driver_.packets == 1) {
        requested_ = packetEncryption(reinterpret_cast<const std::uint8_t*>(packet.constData()),
                                      static_cast<std::size_t>(packet.size()), kPreloginPacket);
        return std::nullopt;
    }
    if (byteAt(packet, 0) == kLogin7Packet) {
        return Interception::ClearLogin;
    }
    return std::nullopt;
}

std::optional<Interception> PreloginGuard::judgeServerPacket(const QByteArray& packet) {
    const std::uint8_t type = byteAt(packet, 0);
    if (server_.packets == 1) {
        const auto answer =
            replyEncryption(reinterpret_cast<const std::uint8_t*>(packet.constData()),
                            static_cast<std::size_t>(packet.size()));
        seen_.answer = answer;
        // The driver is always told to require encryption.
        const bool asked =
            !requested_ || (*requested_ != kEncryptOff && *requested_ != kEncryptNotSupported);
        if (asked && answer == kEncryptOff) {
            return Interception::WeakerAnswer;
        }
        if (asked && answer == kEncryptNotSupported) {
            return Interception::NoEncryption;
        }
        return std::nullopt;
    }
    if (type == kReplyPacket && driver_.raw) {
        return Interception::ClearAfterLogin;
    }
    if (type != kPreloginPacket || flight_.over()) {
        return std::nullopt;
    }
    flight_.take(packet.mid(static_cast<qsizetype>(kPacketHeaderSize)));
    seen_.tls13 = flight_.tls13;
    seen_.certificates = flight_.chain.value_or(QList<QByteArray>());
    if (!checking_ || !flight_.over()) {
        return std::nullopt;
    }
    checking_ = false;
    if (!flight_.chain) {
        return Interception::NameUncheckable;
    }
    return namesHost_(flight_.chain->front()) ? std::nullopt
                                              : std::optional(Interception::NameMismatch);
}

} // namespace connection
