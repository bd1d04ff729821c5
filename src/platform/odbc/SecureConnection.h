#pragma once
// How every connection of the object layers reaches its server: by the
// administrator's freetds.conf section of that name when there is one,
// else by the address typed; always encrypted for its whole life
// ("Encryption=require"), so a server that cannot encrypt never receives a
// password; and, when the driver fails before the server has said a word,
// with a Spanish description of the cause (no encryption, an untrusted
// certificate, no Kerberos ticket, a server the KDC does not know) before
// the driver's own text.

#include "ConnectionString.h"
#include "FreeTdsConf.h"
#include "ServerName.h"

#include <QString>

#include <optional>

namespace odbc {

class Connection;

struct ConnectionTarget {
    ServerAddress address;                 // as typed
    std::optional<FreeTdsSection> section; // the configured server, if any
    bool integrated = false;               // a Kerberos login
};

// Throws a RuntimeError for a server name that cannot be one.  For an
// integrated login "(local)", "." and "localhost" name this machine by its
// host name: a Kerberos service principal names a host, not an address.
ConnectionTarget connectionTarget(const QString& typedServer, bool integrated);

// SERVERNAME or SERVER/PORT, and the encryption demand.
void addTargetKeys(ConnectionStringBuilder& builder, const ConnectionTarget& target);

// Connects; a failure that comes from the driver alone is thrown with the
// Spanish cause first, when one can be told.
void connectTo(Connection& connection, const QString& connectionString,
               const ConnectionTarget& target);

} // namespace odbc
