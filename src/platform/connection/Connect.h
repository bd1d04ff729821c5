#pragma once
// The one way the object layers reach a server.  In: the server name as the
// user typed it, a SQL Server login or the integrated (Kerberos) login, the
// database and the TDS version.  Out: a connected odbc::Connection whose
// statements are bounded by the time-outs of Timeouts.h, or one
// odbc::Error that explains the failure.
//
// The server is reached by the administrator's freetds.conf section of that
// name when there is one, else by the address typed; always encrypted for
// its whole life ("Encryption=require"), so a server that cannot encrypt
// never receives a password.  When the driver fails before the server has
// said a word, the Spanish cause (no encryption, an untrusted certificate,
// no Kerberos ticket, a server the KDC does not know, or the driver's own
// failure described) stands before the driver's text.

#include "platform/odbc/Odbc.h"

#include <QString>

#include <memory>
#include <optional>

namespace connection {

struct Request {
    QString server;               // as typed
    std::optional<QString> login; // none: the integrated login
    QString password;
    QString database; // empty: the login's default database
    QString tdsVersion;
};

// Throws an odbc::Error for a server name that cannot be one, and for any
// failure to connect.  For an integrated login "(local)", "." and
// "localhost" name this machine by its host name: a Kerberos service
// principal names a host, not an address.
std::unique_ptr<odbc::Connection> connect(const Request& request);

} // namespace connection
