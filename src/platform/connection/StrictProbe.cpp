#include "StrictProbe.h"

#include "Bounded.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSslConfiguration>
#include <QSslSocket>

namespace connection {

bool speaksStrictTds(const QString& host, int port, QDeadlineTimer deadline) {
    if (!QSslSocket::supportsSsl()) {
        return false;
    }
    // The name is resolved within the deadline, as the socket would not.
    QHostAddress address(host);
    if (address.isNull()) {
        const auto found =
            finishedBy([host] { return QHostInfo::fromName(host).addresses(); }, deadline);
        if (!found || found->isEmpty()) {
            return false;
        }
        address = found->front();
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    tls.setAllowedNextProtocols({QByteArrayLiteral("tds/8.0")});
    QSslSocket socket;
    socket.setSslConfiguration(tls);
    socket.connectToHostEncrypted(address.toString(), static_cast<quint16>(port));
    return socket.waitForEncrypted(static_cast<int>(deadline.remainingTime())) &&
           socket.sslConfiguration().nextNegotiatedProtocol() == "tds/8.0";
}

} // namespace connection
