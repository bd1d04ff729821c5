#pragma once
// The server one connection is for, worked out once: the name as typed, the
// administrator's freetds.conf section of that name if there is one, the
// route to it (the name resolved, a named instance's port asked of the
// Browser), the key this run remembers it by, and the rule its certificate
// must meet.

#include "CertificateProbe.h"
#include "FreeTdsConf.h"
#include "Route.h"
#include "ServerName.h"

#include <QDeadlineTimer>
#include <QString>

#include <optional>

namespace connection {

struct Request;

struct Target {
    ServerAddress address;                 // as typed
    std::optional<FreeTdsSection> section; // the configured server, if any
    bool integrated = false;               // a Kerberos login
    Route route;
    QString key; // for the run's memory (RunMemory.h)

    bool sectionWantsStrict() const;
};

// The target of a request and its route.  Throws the failure as the user
// reads it: a name that cannot be a server's, a section file that cannot be
// read, a name the resolver does not know or does not answer for by
// `deadline`, an instance no Browser names.
Target targetOf(const Request& request, QDeadlineTimer deadline);

// What the certificate must verify against: the certificate the user
// trusted for this server, else the section's own "ca file", else the
// system's authorities; the host name too, unless the section says "check
// certificate hostname = no".
TrustRule trustRuleOf(const Target& target);

} // namespace connection
