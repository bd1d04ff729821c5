#pragma once
// Asks a server, by the first message of the TDS exchange and nothing
// more, whether it can encrypt.  No login and no password is sent; the
// answer only explains a connection that the driver could not make.

#include "Route.h"

#include <QDeadlineTimer>

#include <cstdint>
#include <optional>

class QTcpSocket;

namespace connection {

// The server's encryption answer; none when it cannot be reached or does
// not answer like a TDS server by `deadline`.
std::optional<std::uint8_t> serverEncryption(const Route& route, QDeadlineTimer deadline);

// One TDS packet of type PRELOGIN holding `payload` whole.
QByteArray preloginPacket(const QByteArray& payload);

// Connects `socket` to the first address of the route that answers by
// `deadline` (firstAnswering).
bool connectWithin(QTcpSocket& socket, const Route& route, QDeadlineTimer deadline);

// Sends PRELOGIN offering encryption on a connected socket and reads the
// server's encryption answer; none when no whole reply came by `deadline`.
std::optional<std::uint8_t> preloginEncryption(QTcpSocket& socket, QDeadlineTimer deadline);

} // namespace connection
