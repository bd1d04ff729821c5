#include "ClosedPort.h"

#include <QHostAddress>
#include <QTcpServer>

namespace testing_support {

int closedLoopbackPort() {
    // A port the system just handed out and took back again.
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) {
        return 1;
    }
    const int port = probe.serverPort();
    probe.close();
    return port;
}

QString unreachableServer() { return QStringLiteral("127.0.0.1,%1").arg(closedLoopbackPort()); }

} // namespace testing_support
