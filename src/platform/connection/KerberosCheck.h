#pragma once
// Why an integrated (Kerberos) login could not start, as far as the
// user's own credentials tell: no ticket, or a KDC that does not know the
// server's service principal.  FreeTDS reports both only as a failed
// connection; this asks GSSAPI the same questions FreeTDS asked it.

#include <QString>

namespace connection {

// The Spanish cause, or the empty text when the credentials look sound.
QString kerberosCause(const QString& host, int port);

} // namespace connection
