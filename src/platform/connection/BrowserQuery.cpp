#include "BrowserQuery.h"

#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QUdpSocket>

namespace connection {

namespace {
constexpr quint16 kBrowserPort = 1434;
constexpr char kOneInstance = 0x04;
constexpr char kAnswer = 0x05;
constexpr qsizetype kAnswerHeader = 3;
} // namespace

std::optional<int> portInBrowserReply(const QByteArray& reply) {
    if (reply.size() < kAnswerHeader || reply[0] != kAnswer) {
        return std::nullopt;
    }
    const QList<QByteArray> fields = reply.mid(kAnswerHeader).split(';');
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
        if (fields[i].compare("tcp", Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const int port = fields[i + 1].toInt(&ok);
            return ok && port > 0 && port < 65536 ? std::optional(port) : std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<int> instancePort(const QList<QHostAddress>& host, const QString& instance,
                                QDeadlineTimer deadline) {
    const QByteArray request = kOneInstance + instance.toUtf8() + '\0';
    for (const QHostAddress& address : host) {
        QUdpSocket socket;
        // The driver asks the Browser directly, whatever proxy the desktop names.
        socket.setProxy(QNetworkProxy::NoProxy);
        if (socket.writeDatagram(request, address, kBrowserPort) != request.size()) {
            continue;
        }
        while (socket.hasPendingDatagrams() ||
               socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            // Any sender's answer is taken, as the driver takes it: a
            // Browser on a host of many addresses may answer from another.
            if (const auto port = portInBrowserReply(socket.receiveDatagram().data())) {
                return port;
            }
        }
    }
    return std::nullopt;
}

} // namespace connection
