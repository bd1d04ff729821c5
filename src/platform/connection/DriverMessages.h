#pragma once
// Spanish descriptions of the FreeTDS driver's own failures: the host cannot
// be reached or refuses, no such host, a time-out, an instance the SQL
// Server Browser does not know, a failed connection handshake (TLS
// included), a broken link.  The server's own numbered messages get none:
// they reach the user exactly as the server sent them.

#include "platform/odbc/Odbc.h"

#include <QString>

#include <vector>

namespace connection {

// The Spanish description of a failure that the driver itself reports, to
// stand before the driver's text; empty when a record came from the server.
// `instance` names the instance the connection asked the Browser for.
QString driverFailureDescription(const std::vector<odbc::DiagRecord>& records,
                                 const QString& instance = QString());

// True when the driver says only that the connection handshake failed
// (TLS or the login), with no record that tells more: no time-out, broken
// link, unreadable answer, unknown host or refused connection.
bool onlyTheHandshakeFailed(const std::vector<odbc::DiagRecord>& records);

// True when a server accepted the login: it sent "Changed database
// context" (5701), which comes with the login's acknowledgement only.
bool loginAccepted(const std::vector<odbc::DiagRecord>& records);

// True when the server ended the link before the login was answered.
bool closedByTheServer(const std::vector<odbc::DiagRecord>& records);

// A failure of a statement on a connection, with the Spanish description
// of a failure of the driver's own before the driver's text; a failure
// that already tells its cause, or that holds a message of the server,
// unchanged.
odbc::Error explained(const odbc::Error& failure);

} // namespace connection
