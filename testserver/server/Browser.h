#pragma once
// The SQL Server Browser of the address the server listens on: on UDP port
// 1434 it answers CLNT_UCAST_INST for its instance name and CLNT_UCAST_EX
// with the instance's TCP port, as the real Browser does.  Requests for
// other instances and anything else get no answer, as on a real host.

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QUdpSocket>

namespace server {

class Browser : public QObject {
public:
    Browser(QString instance, QString version, quint16 tcpPort, QObject* parent = nullptr);

    static constexpr quint16 Port = 1434;

    // Binds UDP port 1434 of `address`; false with `error` set.
    bool listen(const QHostAddress& address, QString& error);

    // The answer to one request, empty when there is none to give.
    QByteArray answer(const QByteArray& request) const;

private:
    void onDatagrams();

    QString instance_;
    QString version_;
    quint16 tcpPort_;
    QUdpSocket socket_;
};

} // namespace server
