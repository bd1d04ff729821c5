#pragma once
// Why an integrated (Kerberos) login could not start, as far as the
// user's own credentials tell: no ticket, or a KDC that does not know the
// server's service principal.  FreeTDS reports both only as a failed
// connection; this asks GSSAPI the same questions FreeTDS asked it.

#include <QString>

namespace odbc {

// MSSQLSvc/<host>:<port>, with the host as FreeTDS puts it: canonicalised
// through the resolver when it has no domain.
QString servicePrincipal(const QString& host, int port);

// The Spanish cause, or the empty text when the credentials look sound.
QString kerberosCause(const QString& host, int port);

} // namespace odbc
