#pragma once
// Asks a server, by the first message of the TDS exchange and nothing
// more, whether it can encrypt.  No login and no password is sent; the
// answer only explains a connection that the driver could not make.

#include <QDeadlineTimer>
#include <QString>

#include <cstdint>

#include <QHostAddress>
#include <QList>

class QTcpSocket;
#include <optional>

namespace connection {

// The server's encryption answer; none when it cannot be reached or does
// not answer like a TDS server by `deadline`, name resolution included.
std::optional<std::uint8_t> serverEncryption(const QString& host, int port,
                                             QDeadlineTimer deadline);

// The addresses the host name leads to, resolved within `deadline`: a
// socket given a name would resolve it without a bound.
QList<QHostAddress> addressesWithin(const QString& host, QDeadlineTimer deadline);

// One TDS packet of type PRELOGIN holding `payload` whole.
QByteArray preloginPacket(const QByteArray& payload);

// Connects `socket` to the first address of `host` that answers, the name
// resolved within `deadline` too.
bool connectWithin(QTcpSocket& socket, const QString& host, int port, QDeadlineTimer deadline);

// Sends PRELOGIN offering encryption on a connected socket and reads the
// server's encryption answer; none when no whole reply came by `deadline`.
std::optional<std::uint8_t> preloginEncryption(QTcpSocket& socket, QDeadlineTimer deadline);

} // namespace connection
