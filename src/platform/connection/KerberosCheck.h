#pragma once
// Why an integrated (Kerberos) login could not start, as far as the
// user's own credentials tell: no ticket, an expired one, a KDC that does
// not know the server's service principal or cannot be reached.  FreeTDS reports both only as a
// failed connection; this asks GSSAPI the same questions FreeTDS asked it.

#include <QString>

namespace connection {

// MSSQLSvc/<host>:<port>, the service principal FreeTDS would ask for when
// it connects to `host` itself: the host canonicalised through the resolver
// when it has no domain.
QString servicePrincipal(const QString& host, int port);

// The Spanish cause, or the empty text when the credentials look sound.
// It may wait for the KDC as long as the Kerberos library does.
QString kerberosCause(const QString& host, int port);

} // namespace connection
