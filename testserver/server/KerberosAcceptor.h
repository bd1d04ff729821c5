#pragma once
// Accepts the Kerberos token of an integrated login, as SQL Server does
// with its service principal MSSQLSvc/host:port: GSSAPI with the keytab
// the state names.  One round: the client's AP-REQ in, the server's AP-REP
// out (FreeTDS asks for mutual authentication).

#include "protocol/Bytes.h"

#include <QString>

namespace server {

struct KerberosAcceptance {
    bool accepted = false;
    QString principal; // alicia@REALM, when accepted
    tds::Bytes reply;  // the token for the client
    QString error;     // why not, when not
};

KerberosAcceptance acceptKerberos(const QString& keytab, const tds::Bytes& token);

} // namespace server
