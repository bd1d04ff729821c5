#pragma once
// Asks a server, by the first message of the TDS exchange and nothing
// more, whether it can encrypt.  No login and no password is sent; the
// answer only explains a connection that the driver could not make.

#include <QDeadlineTimer>
#include <QString>

#include <cstdint>
#include <optional>

namespace connection {

// The answer of a server that cannot encrypt at all.
constexpr std::uint8_t kEncryptNotSupported = 2;

// The server's encryption answer; none when it cannot be reached or does
// not answer like a TDS server by `deadline`, name resolution included.
std::optional<std::uint8_t> serverEncryption(const QString& host, int port,
                                             QDeadlineTimer deadline);

} // namespace connection
