#pragma once
// Spanish descriptions of the FreeTDS driver's own failures: the host cannot
// be reached or refuses, no such host, a time-out, an instance the SQL
// Server Browser does not know, a failed connection handshake (TLS
// included), a broken link.  The server's own numbered messages get none:
// they reach the user exactly as the server sent them.

#include <QString>

#include <cstdint>
#include <vector>

namespace odbc {

struct DiagRecord {
    QString sqlState;
    std::int32_t nativeError = 0;
    QString text;
};

// True for the numbers FreeTDS gives its own messages (0 for none).
bool isDriverMessage(std::int32_t nativeError);

// The Spanish description of a failure that the driver itself reports, to
// stand before the driver's text; empty when a record came from the server.
// `instance` names the instance the connection asked the Browser for.
QString driverFailureDescription(const std::vector<DiagRecord>& records,
                                 const QString& instance = QString());

} // namespace odbc
