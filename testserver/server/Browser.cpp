#include "Browser.h"

#include "engine/Catalog.h"

#include <QNetworkDatagram>

namespace server {

namespace {
constexpr char ClntUcastEx = 0x03;
constexpr char ClntUcastInst = 0x04;
constexpr char SvrResp = 0x05;
constexpr int MaxInstanceBytes = 32;
} // namespace

Browser::Browser(QString instance, QString version, quint16 tcpPort, QObject* parent)
    : QObject(parent), instance_(std::move(instance)), version_(std::move(version)),
      tcpPort_(tcpPort) {
    connect(&socket_, &QUdpSocket::readyRead, this, &Browser::onDatagrams);
}

bool Browser::listen(const QHostAddress& address, QString& error) {
    if (!socket_.bind(address, Port)) {
        error = socket_.errorString();
        return false;
    }
    return true;
}

QByteArray Browser::answer(const QByteArray& request) const {
    if (request.isEmpty()) {
        return {};
    }
    if (request[0] == ClntUcastInst) {
        // The instance name, in the client's code page, ends with a NUL or
        // with the datagram.
        const QByteArray name = request.mid(1, MaxInstanceBytes + 1).split('\0').front();
        if (!engine::sameName(QString::fromLatin1(name), instance_)) {
            return {};
        }
    } else if (request[0] != ClntUcastEx || request.size() != 1) {
        return {};
    }
    const QByteArray data = QStringLiteral("ServerName;%1;InstanceName;%2;IsClustered;No;"
                                           "Version;%3;tcp;%4;;")
                                .arg(engine::serverName(), instance_, version_)
                                .arg(tcpPort_)
                                .toLatin1();
    QByteArray response(1, SvrResp);
    response.append(static_cast<char>(data.size() & 0xFF));
    response.append(static_cast<char>((data.size() >> 8) & 0xFF));
    return response + data;
}

void Browser::onDatagrams() {
    while (socket_.hasPendingDatagrams()) {
        const QNetworkDatagram request = socket_.receiveDatagram();
        const QByteArray response = answer(request.data());
        if (!response.isEmpty()) {
            socket_.writeDatagram(request.makeReply(response));
        }
    }
}

} // namespace server
