#pragma once
// The one way the object layers reach a server.  In: the server name as the
// user typed it, a SQL Server login or the integrated (Kerberos) login, the
// database and the TDS version.  Out: a connected odbc::Connection whose
// statements are bounded by the time-outs of Timeouts.h, or one
// odbc::Error that explains the failure.
//
// The driver never reaches the server by itself: every connection goes
// through a relay of this component on loopback (DriverRelay.h), which
// passes every byte on unchanged and reads the clear part of the exchange,
// so that an encryption answer weaker than the request, or a login about to
// leave in clear, ends the connection before the password does.  A server
// that sends the login on to another one (routing, as Azure SQL does) is
// refused: the driver would follow it around the relay.
//
// The plan of one connection is a Login (Login.h): the server is reached
// by the administrator's freetds.conf section of that name when there is
// one, else by the address typed, always through a private section
// (PrivateConf.h) that keeps the password out of any dump file.  Every
// connection is encrypted for its whole life, so a server that cannot
// encrypt never receives a password: with FreeTDS 1.5 or later by TDS 8.0
// ("strict") first, falling back to TDS 7.x with "require" only for a
// server that does not speak it and has not been seen to in this run; a
// section's "encryption = strict" is never weakened.  Every certificate is
// checked, against the section's "ca file" or the system's authorities,
// host name included; one that does not verify is put to the certificate
// question, and a Yes trusts exactly it for that server until the program
// ends.  A failure is explained in Spanish before the driver's text
// (Explanation.h).

#include "platform/odbc/Odbc.h"

#include <QString>

#include <functional>
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

// A certificate that did not verify, as the user is asked about it.
struct UnverifiedCertificate {
    QString server; // as typed
    QString subject;
    QString issuer;
    QString sha256; // upper-case hex pairs joined by ":"
};

// True: trust exactly this certificate for this server until the program
// ends.  Called on the connecting thread; with none installed the answer
// is No.
using CertificateQuestion = std::function<bool(const UnverifiedCertificate&)>;
void setCertificateQuestion(CertificateQuestion question);

class Link; // Link.h

// A logical connection for the request: a session of the command's share
// (Link.h) when one is in use on this thread and fits, else a new login.
// Throws an odbc::Error for a server name that cannot be one, and for any
// failure to connect.  For an integrated login "(local)", "." and
// "localhost" name this machine by its host name: a Kerberos service
// principal names a host, not an address.
std::unique_ptr<Link> connect(const Request& request);

} // namespace connection
