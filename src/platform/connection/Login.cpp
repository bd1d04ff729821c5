#include "Login.h"

#include "CertificateProbe.h"
#include "DriverMessages.h"
#include "Explanation.h"
#include "KerberosCheck.h"
#include "LinkWatchdog.h"
#include "RunMemory.h"
#include "Sentences.h"
#include "Timeouts.h"
#include "platform/odbc/ConnectionString.h"
#include "platform/odbc/DriverVersion.h"

namespace connection {

namespace {

// The explanation of a failure may not hold the user longer than this,
// whatever stalls.
constexpr qint64 kExplanationMs = 2000;
// The driver's own time-out comes first when the server is merely silent.
constexpr std::chrono::milliseconds kWatchdogGrace{500};

// Whether the driver itself checks the certificate's name when it connects
// to the relay: FreeTDS 1.5 is told the host's name by "certificate
// hostname"; an older one knows only the relay's address, so the guard
// checks the name on its behalf.
bool driverChecksName() { return odbc::loadedDriverIsAtLeast15(); }

// The private section of one attempt: the user's section as FreeTDS would
// read it, or the address typed; then the relay in place of the server,
// with the certificate's name and the Kerberos principal still those of
// the server; then the certificate rule and no dump file, whatever a
// [global] section says.
QString sectionFor(const Target& target, const TrustRule& rule, quint16 relayPort) {
    QList<ConfLine> lines =
        target.section ? target.section->lines : serverConfLines(target.address);
    lines.append(ConfLine("host", "127.0.0.1"));
    lines.append(ConfLine("port", QByteArray::number(relayPort)));
    lines.append(ConfLine("ca file", rule.caFile.toUtf8()));
    const bool driverChecks = !rule.hostName.isEmpty() && driverChecksName();
    lines.append(ConfLine("check certificate hostname", driverChecks ? "yes" : "no"));
    if (driverChecks) {
        lines.append(ConfLine("certificate hostname", rule.hostName.toUtf8()));
    }
    if (target.integrated) {
        QByteArray principal = servicePrincipal(target.route.host, target.route.port).toUtf8();
        for (const auto& [option, value] : lines) {
            if (option == "realm" && !value.isEmpty()) {
                principal += '@' + value; // as FreeTDS adds the section's realm
            }
        }
        lines.append(ConfLine("spn", principal));
    }
    // The server's own messages in the user's language; they are handled by
    // number, never by their text.
    lines.append(ConfLine("language", "Spanish"));
    lines.append(ConfLine("dump file", QByteArray()));
    return privateSection(lines);
}

QString connectionString(const Request& request, const QString& section, Encryption encryption) {
    odbc::ConnectionStringBuilder builder;
    builder.add(QStringLiteral("DRIVER"), QStringLiteral("FreeTDS"));
    builder.add(QStringLiteral("SERVERNAME"), section);
    builder.add(QStringLiteral("Encryption"), encryption == Encryption::Strict
                                                  ? QStringLiteral("strict")
                                                  : QStringLiteral("require"));
    if (!request.database.isEmpty()) {
        builder.add(QStringLiteral("DATABASE"), request.database);
    }
    if (request.login) {
        builder.add(QStringLiteral("UID"), *request.login);
        builder.add(QStringLiteral("PWD"), request.password);
    } else {
        builder.add(QStringLiteral("Trusted_Connection"), QStringLiteral("Yes"));
    }
    builder.add(QStringLiteral("TDS_Version"), request.tdsVersion);
    builder.add(QStringLiteral("ClientCharset"), QStringLiteral("UTF-8"));
    return builder.text();
}

// What is left of `deadline` for the driver's login, in whole seconds; the
// relay cuts the login at the deadline itself.
std::chrono::seconds secondsLeft(QDeadlineTimer deadline) {
    return std::chrono::seconds(std::max<qint64>(1, (deadline.remainingTime() + 999) / 1000));
}

// Removes a private section once the driver has read it, whatever happens.
struct SectionInUse {
    QString name;
    ~SectionInUse() { forgetPrivateSection(name); }
};

} // namespace

Login::Login(const Request& request)
    : request_(request), budget_(std::chrono::milliseconds(timeouts().login)),
      target_(targetOf(request, budget_)), plan_(planFor()) {}

std::deque<Login::Attempt> Login::planFor() const {
    using If = Attempt::IfNotStrict;
    if (!odbc::loadedDriverIsAtLeast15()) {
        if (target_.sectionWantsStrict()) {
            throw odbc::Error(say::sectionWantsStrict(target_.section->name));
        }
        return {{Encryption::Require, If::Explain}};
    }
    if (target_.sectionWantsStrict()) {
        return {{Encryption::Strict, If::Explain}};
    }
    // TDS 8.0 is tried first, unless the server is known not to speak it: a
    // driver's TDS 8.0 attempt at such a server may wait out the login's
    // time-out.  What this run learnt is not asked again; else a handshake
    // of our own tells, and when it cannot tell, the driver tries.
    std::optional<bool> strict = memory::speaksStrict(target_.key);
    if (strict == true) {
        return {{Encryption::Strict, If::SayWithdrawn}};
    }
    if (!strict) {
        strict = speaksStrictNow(target_, explanationDeadline());
    }
    if (strict == false) {
        return {{Encryption::Require, If::Explain}};
    }
    return {{Encryption::Strict, If::FallBack}, {Encryption::Require, If::Explain}};
}

Established Login::connect() {
    for (;;) {
        const Attempt a = plan_.front();
        auto outcome = attempt(a);
        if (auto* established = std::get_if<Established>(&outcome)) {
            return std::move(*established);
        }
        switch (judge(a, std::get<Failed>(outcome))) {
        case Next::FallBack:
            plan_.pop_front();
            break;
        case Next::Again:
            break;
        case Next::StrictOnly:
            plan_ = {{Encryption::Strict, Attempt::IfNotStrict::Explain}};
            break;
        }
    }
}

// One login through a relay of its own.  A failure of the driver comes back
// with what the relay saw; one of our own (the server cannot be reached, a
// routed login) is thrown, explained.
std::variant<Established, Login::Failed> Login::attempt(const Attempt& a) {
    const TrustRule rule = trustRuleOf(target_);
    const ServerLink server = firstAnswering(target_.route, budget_);
    if (server.socket < 0) {
        throw odbc::Error(server.timedOut ? say::noAnswerInTime()
                                          : say::cannotConnect(browserInstance(target_.address)));
    }
    std::function<bool(const QByteArray&)> namesHost;
    if (!rule.hostName.isEmpty() && !driverChecksName()) {
        namesHost = [host = rule.hostName](const QByteArray& leaf) {
            return connection::namesHost(leaf, host);
        };
    }
    auto relay = std::make_shared<DriverRelay>(
        server.socket, PreloginGuard(a.encryption == Encryption::Strict, std::move(namesHost)),
        budget_);
    const SectionInUse section{sectionFor(target_, rule, relay->port())};
    auto link = std::make_unique<odbc::Connection>();
    try {
        link->connect(connectionString(request_, section.name, a.encryption), secondsLeft(budget_));
    } catch (const odbc::Error& failure) {
        relay->loginEnded();
        if (failure.records().empty()) {
            throw; // ours, told already
        }
        return Failed{failure, relay->observed(), relay->driverLeft()};
    }
    relay->loginEnded();
    // The driver follows a server's routing on a connection of its own,
    // around the relay.
    if (relay->driverLeft()) {
        throw odbc::Error(say::rerouted());
    }
    link->setStatementTimeout(driverWait(timeouts().query));
    // The driver gives up on a silent server by itself; the watchdog, a
    // moment later, on one that trickles.
    link->setStatementWatch(
        std::make_shared<LinkWatchdog>(relay, timeouts().query + kWatchdogGrace));
    return Established{std::move(link), relay};
}

Login::Next Login::judge(const Attempt& a, const Failed& failed) {
    const odbc::Error& failure = failed.failure;
    const DriverRelay::Observed& seen = failed.seen;
    const auto interception = seen.interception;
    if (interception && interception != Interception::NameMismatch) {
        throw odbc::Error(causeOf(*interception), failure.records());
    }
    // A login the server accepted, on a link the driver then left for
    // another: the second login is what failed.
    if (failed.driverLeft && loginAccepted(failure.records())) {
        throw odbc::Error(say::rerouted(), failure.records());
    }
    if (failure.serverMessageNumber()) {
        throw failure;
    }
    const QDeadlineTimer deadline = explanationDeadline();
    const bool handshakeFailed =
        interception == Interception::NameMismatch || onlyTheHandshakeFailed(failure.records());
    // A server that cannot be reached, or that stalls, tells nothing of TDS
    // 8.0: only a refused handshake does.
    const bool closed = closedByTheServer(failure.records());
    const bool strict = a.encryption == Encryption::Strict;
    if (strict && (handshakeFailed || closed) && !seen.loginCutAtDeadline &&
        a.ifNotStrict != Attempt::IfNotStrict::Explain &&
        speaksStrictNow(target_, deadline) != true) {
        if (a.ifNotStrict == Attempt::IfNotStrict::SayWithdrawn) {
            // It spoke TDS 8.0 before: someone on the path may have taken it away.
            throw odbc::Error(say::strictWithdrawn(), failure.records());
        }
        return Next::FallBack;
    }
    if (!strict && closed && odbc::loadedDriverIsAtLeast15() &&
        speaksStrictNow(target_, deadline) == true) {
        return Next::StrictOnly; // a server that forces strict encryption
    }
    bool verified = false;
    if (!certificateAsked_ && handshakeFailed && !seen.loginCutAtDeadline) {
        certificateAsked_ = true;
        switch (judgeCertificate(a, seen, deadline)) {
        case Verdict::Trusted:
            return Next::Again;
        case Verdict::Declined:
            throw odbc::Error(say::certificateDeclined(), failure.records());
        case Verdict::Verified:
            verified = true;
            break;
        case Verdict::Unknown:
            break;
        }
    }
    throw explainedLoginFailure({failure, seen, strict}, target_, verified, deadline);
}

// After a failed handshake: the certificate the server showed, as the relay
// saw it on a TDS 7.x connection or, inside TDS 8.0's TLS, as a handshake
// of our own fetches it, checked by the connection's rule; one that does
// not verify is put to the user, and a Yes pins it for the server.
Login::Verdict Login::judgeCertificate(const Attempt& a, const DriverRelay::Observed& seen,
                                       QDeadlineTimer deadline) {
    std::optional<CertificateChain> chain;
    if (!seen.clear.certificates.isEmpty()) {
        chain = seen.clear.certificates;
    } else {
        chain = presentedCertificates(
            target_.route, a.encryption == Encryption::Strict ? Framing::Strict : Framing::Tds7,
            deadline);
    }
    if (!chain) {
        return Verdict::Unknown;
    }
    if (verifies(*chain, trustRuleOf(target_))) {
        return Verdict::Verified;
    }
    const CertificateSummary summary = summaryOf(chain->front());
    const memory::Question question = memory::question();
    if (!question ||
        !question({request_.server, summary.subject, summary.issuer, summary.sha256})) {
        return Verdict::Declined;
    }
    memory::pin(target_.key, chain->front());
    return Verdict::Trusted;
}

QDeadlineTimer Login::explanationDeadline() const {
    return QDeadlineTimer(
        std::min<qint64>(kExplanationMs, budget_.remainingTime() + kExplanationMs));
}

} // namespace connection
