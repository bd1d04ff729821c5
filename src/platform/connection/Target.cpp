#include "Target.h"

#include "BrowserQuery.h"
#include "Connect.h"
#include "HostLookup.h"
#include "RunMemory.h"
#include "Sentences.h"

#include <QHostInfo>

namespace connection {

namespace {

constexpr int kDefaultPort = 1433;
// A SQL Server Browser answers at once or not at all: an instance it does
// not know gets no answer.
constexpr qint64 kBrowserMs = 5000;

QString keyOf(const Target& target) {
    if (target.section) {
        return QStringLiteral("[%1]").arg(target.section->name.toLower());
    }
    const ServerAddress& a = target.address;
    return a.host.toLower() +
           (a.port ? u',' + QString::number(*a.port) : u'\\' + a.instance.toLower());
}

// Where the server listens, as the driver would work it out: a section's
// host (else its name) and port, a named instance's port asked of the
// host's Browser, every address of the name.
Route routeOf(const Target& target, QDeadlineTimer deadline) {
    Route route{target.address.host, 0, {}};
    std::optional<int> port = target.address.port;
    QString instance = target.address.instance;
    if (const auto& section = target.section) {
        route.host = section->host.isEmpty() ? section->name : section->host;
        // FreeTDS takes a port above 0 only, into 16 bits as it stands.
        port = section->port && *section->port > 0 ? std::optional(*section->port & 0xFFFF)
                                                   : std::nullopt;
        instance = section->instance;
    }
    const auto found = addressesOf(route.host, deadline);
    if (!found) {
        throw odbc::Error(say::lookupTimedOut());
    }
    route.addresses = *found;
    if (route.addresses.isEmpty()) {
        throw odbc::Error(say::unknownHost());
    }
    if (!port && !instance.isEmpty()) {
        const QDeadlineTimer browser(std::min<qint64>(deadline.remainingTime(), kBrowserMs));
        port = instancePort(route.addresses, instance, browser);
        if (!port) {
            throw odbc::Error(say::cannotConnect(instance));
        }
    }
    route.port = port.value_or(kDefaultPort);
    return route;
}

// The host name the certificate must carry: a section's "certificate
// hostname", else its host, else its name.
QString certificateHost(const Target& target) {
    if (const auto& section = target.section) {
        if (!section->certificateHostname.isEmpty()) {
            return section->certificateHostname;
        }
        return section->host.isEmpty() ? section->name : section->host;
    }
    return target.address.host;
}

} // namespace

bool Target::sectionWantsStrict() const {
    return section && section->encryption.compare(u"strict", Qt::CaseInsensitive) == 0;
}

Target targetOf(const Request& request, QDeadlineTimer deadline) {
    Target target{
        parseServerName(request.server), freeTdsSection(request.server), !request.login, {}, {}};
    // A Kerberos service principal names a host, not an address.
    if (target.integrated && target.address.thisMachine) {
        target.address.host = QHostInfo::localHostName();
    }
    target.route = routeOf(target, deadline);
    target.key = keyOf(target);
    return target;
}

TrustRule trustRuleOf(const Target& target) {
    if (const auto pin = memory::pinned(target.key)) {
        return {pinnedCertificateFile(*pin), QString(), QString()};
    }
    const bool checkHost =
        !target.section || target.section->checkCertificateHostname.value_or(true);
    const QString caFile = target.section && !target.section->caFile.isEmpty()
                               ? target.section->caFile
                               : QStringLiteral("system");
    return {caFile, checkHost ? certificateHost(target) : QString(),
            target.section ? target.section->crlFile : QString()};
}

} // namespace connection
