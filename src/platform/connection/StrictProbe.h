#pragma once
// Asks a server whether it speaks TDS 8.0 ("strict" encryption): a TLS
// handshake that offers the ALPN protocol "tds/8.0", and nothing more.  No
// TDS byte, no login and no password is sent; the answer only explains a
// connection that the driver could not make.

#include <QDeadlineTimer>
#include <QString>

namespace connection {

// True when the server at host:port completed the handshake and agreed on
// "tds/8.0" by `deadline`.  The certificate is not checked: nothing secret
// crosses this connection.
bool speaksStrictTds(const QString& host, int port, QDeadlineTimer deadline);

} // namespace connection
