#pragma once
// Asks a server, by the first message of the TDS exchange and nothing
// more, whether it can encrypt.  No login and no password is sent; the
// answer only explains a connection that the driver could not make.

#include <QString>

#include <cstdint>
#include <optional>

namespace odbc {

namespace prelogin {
constexpr std::uint8_t EncryptOff = 0; // the login packet only
constexpr std::uint8_t EncryptOn = 1;
constexpr std::uint8_t EncryptNotSupported = 2;
constexpr std::uint8_t EncryptRequired = 3;
} // namespace prelogin

// The server's encryption answer; none when it cannot be reached or does
// not answer like a TDS server within `timeoutMs`.
std::optional<std::uint8_t> serverEncryption(const QString& host, int port, int timeoutMs);

} // namespace odbc
