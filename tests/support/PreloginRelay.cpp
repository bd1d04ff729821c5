#include "PreloginRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace testing_support {

namespace {

constexpr char kPrelogin = 0x12;
constexpr char kReply = 0x04;
constexpr char kSqlBatch = 0x01;
constexpr char kLogin7 = 0x10;
constexpr char kTlsHandshake = 0x16;
constexpr unsigned char kEncryptionToken = 0x01;
constexpr unsigned char kEncryptOn = 0x01;
constexpr unsigned char kEncryptOff = 0x00;
constexpr int kHeader = 8;

QByteArray utf16(const QString& text) {
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

int loopbackSocket(int port, bool listen) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* a = reinterpret_cast<const sockaddr*>(&address);
    const bool ok = listen ? ::bind(fd, a, sizeof address) == 0 && ::listen(fd, 16) == 0
                           : ::connect(fd, a, sizeof address) == 0;
    if (!ok) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The encryption option of a PRELOGIN packet in clear, from `from` to `to`.
void rewriteEncryption(QByteArray& packet, unsigned char from, unsigned char to) {
    for (int at = kHeader; at + 5 <= packet.size(); at += 5) {
        const auto token = static_cast<unsigned char>(packet[at]);
        if (token == 0xFF) {
            break;
        }
        const int offset = kHeader + ((static_cast<unsigned char>(packet[at + 1]) << 8) |
                                      static_cast<unsigned char>(packet[at + 2]));
        if (token == kEncryptionToken && offset < packet.size() &&
            static_cast<unsigned char>(packet[offset]) == from) {
            packet[offset] = static_cast<char>(to);
            return;
        }
    }
}

} // namespace

PreloginRelay::PreloginRelay(int serverPort, const QString& from, const QString& to,
                             Tampering tampering)
    : serverPort_(serverPort), from_(utf16(from)), to_(utf16(to)), tampering_(tampering) {
    listener_ = loopbackSocket(0, true);
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    if (listener_ < 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &size)) {
        throw std::runtime_error("PreloginRelay: cannot listen on loopback");
    }
    port_ = ntohs(bound.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

PreloginRelay::~PreloginRelay() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    for (std::thread& session : sessions_) {
        session.join();
    }
    ::close(listener_);
}

QString PreloginRelay::serverName() const { return QStringLiteral("127.0.0.1,%1").arg(port_); }

void PreloginRelay::acceptLoop() {
    for (;;) {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0 || stopping_) {
            if (client >= 0) {
                ::close(client);
            }
            return;
        }
        sessions_.emplace_back([this, client] { relay(client); });
    }
}

void PreloginRelay::relay(int client) {
    const int server = loopbackSocket(serverPort_, false);
    bool first = true;
    bool firstAnswer = true;
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    while (server >= 0 && !stopping_) {
        if (::poll(fds, 2, 100) < 0) {
            break;
        }
        char buffer[65536];
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            QByteArray bytes(buffer, n);
            if (first && bytes[0] == kTlsHandshake) {
                const int seen = tlsFirstSeen_.fetch_add(1);
                if (tampering_.dropTlsFirst < 0 || seen < tampering_.dropTlsFirst) {
                    break;
                }
                if (seen == 0) {
                    std::this_thread::sleep_for(
                        std::chrono::milliseconds(tampering_.delayTlsFirstMs));
                }
            }
            if (first && bytes[0] == kPrelogin) {
                ++clearPrelogins_;
                rewriteEncryption(bytes, kEncryptOn, kEncryptOff);
            }
            first = false;
            clearBatches_ += bytes[0] == kSqlBatch ? 1 : 0;
            clearLogins_ += bytes[0] == kLogin7 ? 1 : 0;
            if (bytes.contains(from_)) {
                bytes.replace(from_, to_);
                ++rewrites_;
            }
            if (::write(server, bytes.constData(), static_cast<size_t>(bytes.size())) !=
                bytes.size()) {
                break;
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::read(server, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            QByteArray bytes(buffer, n);
            if (firstAnswer && bytes[0] == kReply && tampering_.answerOn) {
                rewriteEncryption(bytes, kEncryptOff, kEncryptOn);
            }
            firstAnswer = false;
            if (::write(client, bytes.constData(), static_cast<size_t>(n)) != n) {
                break;
            }
        }
    }
    ::close(client);
    if (server >= 0) {
        ::close(server);
    }
}

} // namespace testing_support
