#include "Connect.h"

#include "Bounded.h"
#include "BrowserQuery.h"
#include "CertificateProbe.h"
#include "DriverMessages.h"
#include "DriverRelay.h"
#include "FreeTdsConf.h"
#include "HostLookup.h"
#include "KerberosCheck.h"
#include "LinkWatchdog.h"
#include "PreloginProbe.h"
#include "PreloginReply.h"
#include "PrivateConf.h"
#include "ServerName.h"
#include "Timeouts.h"
#include "platform/odbc/ConnectionString.h"
#include "platform/odbc/DriverVersion.h"

#include <QHash>
#include <QHostInfo>
#include <QSet>

#include <mutex>

namespace connection {

namespace {

constexpr int kDefaultPort = 1433;
// The explanation of a failure (the probe, the Kerberos check) may not
// hold the user longer than this, whatever stalls.
constexpr int kExplanationMs = 2000;
// A SQL Server Browser answers at once or not at all: an instance it does
// not know gets no answer.
constexpr qint64 kBrowserMs = 5000;
// The driver's own time-out comes first when the server is merely silent.
constexpr std::chrono::milliseconds kWatchdogGrace{500};

const QString kNoEncryption =
    QStringLiteral("El servidor no admite conexiones cifradas; no se ha enviado la contraseña.");
const QString kUntrustedCertificate = QStringLiteral(
    "El certificado del servidor no es de confianza o no corresponde a su nombre; no se ha "
    "enviado la contraseña.");

const QString kStrictOnly = QStringLiteral(
    "El servidor solo admite cifrado estricto (TDS 8.0); no se ha enviado la contraseña.");
const QString kStrictRemedy = QStringLiteral(
    " El controlador FreeTDS instalado no lo ofrece: instale FreeTDS 1.5 o posterior (por "
    "ejemplo, el paquete tdsodbc de trixie-backports).");
const QString kSectionWantsStrict = QStringLiteral(
    "La sección '%1' de freetds.conf pide cifrado estricto (TDS 8.0); no se ha enviado la "
    "contraseña.");
const QString kStrictWithdrawn = QStringLiteral(
    "El servidor ha usado cifrado estricto (TDS 8.0) en esta sesión y ahora no lo ofrece: "
    "alguien puede estar interceptando la conexión; no se ha enviado la contraseña.");
const QString kCertificateDeclined = QStringLiteral(
    "No se ha confiado en el certificado del servidor; no se ha enviado la contraseña.");

// "Not supported" is an honest server's answer as well as an attacker's.
const QString kNoEncryptionAnswered =
    kNoEncryption + QStringLiteral(" Si el servidor sí admite el cifrado, alguien en la red está "
                                   "intentando debilitarlo.");
const QString kWeakerAnswer = QStringLiteral(
    "Alguien en la red está intentando debilitar el cifrado de la conexión: la respuesta que ha "
    "llegado del servidor cifraría solo el inicio de sesión. Se ha cerrado la conexión; no se ha "
    "enviado la contraseña.");
const QString kClearAfterLogin = QStringLiteral(
    "El servidor ha respondido sin cifrar al inicio de sesión cifrado: alguien en la red ha "
    "alterado la negociación del cifrado. Se ha cerrado la conexión antes de enviar ninguna "
    "orden.");
const QString kClearLogin = QStringLiteral(
    "El inicio de sesión iba a salir sin cifrar; se ha cerrado la conexión y no se ha enviado la "
    "contraseña.");
const QString kNameUncheckable = QStringLiteral(
    "No se puede comprobar que el certificado del servidor corresponde a su nombre: el servidor "
    "ha negociado TLS 1.3 en una conexión TDS 7.x, donde el controlador FreeTDS instalado no lo "
    "comprueba; no se ha enviado la contraseña. Con FreeTDS 1.5 o posterior el controlador lo "
    "comprueba por sí mismo.");
const QString kForeignPeer = QStringLiteral(
    "Otro programa de este equipo se ha conectado al punto de paso local de la conexión antes "
    "que el controlador; se ha cerrado la conexión y no se ha enviado la contraseña.");
const QString kRerouted = QStringLiteral(
    "El servidor ha redirigido la conexión a otro servidor, y Tarvelo no sigue redirecciones: "
    "escriba el nombre del servidor al que se redirige.");
const QString kLookupTimedOut = QStringLiteral(
    "El servicio de nombres no ha respondido en el tiempo de espera al buscar el equipo "
    "servidor.");

struct Target {
    ServerAddress address;                 // as typed
    std::optional<FreeTdsSection> section; // the configured server, if any
    bool integrated = false;               // a Kerberos login
    Route route;
};

Target targetOf(const Request& request) {
    const bool integrated = !request.login;
    Target target{parseServerName(request.server), freeTdsSection(request.server), integrated, {}};
    if (integrated && target.address.thisMachine) {
        target.address.host = QHostInfo::localHostName();
    }
    return target;
}

// What this run has learnt of servers, by the key of serverKey(): those seen
// to speak TDS 8.0, and the one certificate the user trusted for each.
struct RunMemory {
    std::mutex mutex;
    QSet<QString> strict;
    QHash<QString, QByteArray> pinned; // DER
    CertificateQuestion question;
};

RunMemory& memory() {
    static RunMemory m;
    return m;
}

QString serverKey(const Target& target) {
    if (target.section) {
        return QStringLiteral("[%1]").arg(target.section->name.toLower());
    }
    const ServerAddress& a = target.address;
    return a.host.toLower() +
           (a.port ? u',' + QString::number(*a.port) : u'\\' + a.instance.toLower());
}

bool rememberedStrict(const QString& key) {
    const std::lock_guard lock(memory().mutex);
    return memory().strict.contains(key);
}

std::optional<QByteArray> pinnedFor(const QString& key) {
    const std::lock_guard lock(memory().mutex);
    const auto found = memory().pinned.constFind(key);
    return found == memory().pinned.cend() ? std::nullopt : std::optional(*found);
}

enum class Encryption { Require, Strict };

bool sectionWantsStrict(const Target& target) {
    return target.section &&
           target.section->encryption.compare(u"strict", Qt::CaseInsensitive) == 0;
}

// The host name the certificate must carry: a section's "certificate
// hostname" (which the relay makes needed with FreeTDS 1.3 too, where the
// relay checks the name), else its host.
QString certificateHost(const Target& target) {
    if (const auto& section = target.section) {
        if (!section->certificateHostname.isEmpty()) {
            return section->certificateHostname;
        }
        return section->host.isEmpty() ? section->name : section->host;
    }
    return target.address.host;
}

// What the certificate must verify against: the certificate the user
// trusted for this server, else the section's own "ca file", else the
// system's authorities; the host name too, unless the section says
// "check certificate hostname = no".
TrustRule trustRule(const Target& target, const QString& key) {
    if (const auto pin = pinnedFor(key)) {
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

// Whether the driver itself checks the certificate's name when it connects
// to the relay: FreeTDS 1.5 is told the host's name by "certificate
// hostname"; an older one knows only the relay's address, so the guard
// checks the name on its behalf.
bool driverChecksName() { return odbc::loadedDriverIsAtLeast15(); }

// The private section of one connection: the user's section as FreeTDS
// would read it, or the address typed; then the relay in place of the
// server, with the certificate's name and the Kerberos principal still
// those of the server; then the certificate rule and no dump file, whatever
// a [global] section says.
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

// The one connection string of every connection.
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

// Where the server listens, as the driver would work it out: a section's
// host (else its name) and port, a named instance's port asked of the
// host's Browser, every address of the name.  Throws the failure as the
// user reads it when there is no such place by `deadline`.
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
        throw odbc::Error(kLookupTimedOut);
    }
    route.addresses = *found;
    if (route.addresses.isEmpty()) {
        throw odbc::Error(unknownHost());
    }
    if (!port && !instance.isEmpty()) {
        const QDeadlineTimer browser(std::min<qint64>(deadline.remainingTime(), kBrowserMs));
        port = instancePort(route.addresses, instance, browser);
        if (!port) {
            throw odbc::Error(cannotConnect(instance));
        }
    }
    route.port = port.value_or(kDefaultPort);
    return route;
}

// `certificateVerified`: our own check of the certificate passed, so the
// certificate is not what failed.
QString probedCause(const Target& target, bool certificateVerified, QDeadlineTimer deadline) {
    const Route& where = target.route;
    const auto answer = serverEncryption(where, deadline);
    if (!answer) {
        return {};
    }
    if (*answer == kEncryptNotSupported) {
        return kNoEncryption;
    }
    // A Kerberos cause found in the user's own credentials is certain.
    if (target.integrated) {
        const auto kerberos = finishedBy(
            [host = where.host, port = where.port] { return kerberosCause(host, port); }, deadline);
        // The check asks the KDC alone: when it has no answer in time, the
        // KDC is what stalls.
        if (!kerberos) {
            return kdcNotAnswering();
        }
        if (!kerberos->isEmpty()) {
            return *kerberos;
        }
    }
    // The server offers TLS, yet the driver gave up before it answered the
    // login: the certificate check refused it, unless ours passed.
    return certificateVerified ? QString() : kUntrustedCertificate;
}

// A server that closed the link on the PRELOGIN in clear yet completes a
// TDS 8.0 handshake takes strict encryption only.
QString strictOnlyCause(const Target& target, QDeadlineTimer deadline) {
    if (speaksStrictTds(target.route, deadline) != true) {
        return {};
    }
    return odbc::loadedDriverIsAtLeast15() ? kStrictOnly : kStrictOnly + kStrictRemedy;
}

// The failure of a login as the user reads it, by the first rule that holds:
// - a message of the server passes as it came;
// - a failure the driver names (no such host, nothing listening, a
//   time-out, a broken link, an unreadable answer) is described as such:
//   asking the server again could add nothing true to it;
// - a failed handshake gets the cause the probe finds (no encryption, the
//   Kerberos credentials, the certificate check), else its description;
// - a link the server closed at once is told as strict encryption forced,
//   when the server speaks TDS 8.0.
odbc::Error explainedLoginFailure(const odbc::Error& failure, const Target& target,
                                  bool certificateVerified, QDeadlineTimer deadline) {
    if (failure.serverMessageNumber() || failure.records().empty()) {
        return failure;
    }
    QString why;
    if (onlyTheHandshakeFailed(failure.records())) {
        why = probedCause(target, certificateVerified, deadline);
    } else if (closedByTheServer(failure.records())) {
        why = strictOnlyCause(target, deadline);
    }
    if (why.isEmpty()) {
        why = driverFailureDescription(failure.records(), browserInstance(target.address));
    }
    return odbc::Error(why, failure.records());
}

enum class Verdict { Verified, Trusted, Declined, Unknown };

// After a failed handshake: the certificate the server shows now, checked by
// the connection's rule; one that does not verify is put to the user, and a
// Yes pins it for the server.
Verdict judgeCertificate(const Request& request, const Target& target, const QString& key,
                         const TrustRule& rule, Framing framing, QDeadlineTimer deadline) {
    const auto chain = presentedCertificates(target.route, framing, deadline);
    if (!chain) {
        return Verdict::Unknown;
    }
    if (verifies(*chain, rule)) {
        return Verdict::Verified;
    }
    const CertificateSummary summary = summaryOf(chain->front());
    CertificateQuestion question;
    {
        const std::lock_guard lock(memory().mutex);
        question = memory().question;
    }
    if (!question || !question({request.server, summary.subject, summary.issuer, summary.sha256})) {
        return Verdict::Declined;
    }
    const std::lock_guard lock(memory().mutex);
    memory().pinned.insert(key, chain->front());
    return Verdict::Trusted;
}

void rememberStrict(const QString& key) {
    const std::lock_guard lock(memory().mutex);
    memory().strict.insert(key);
}

// A TDS 8.0 login failed at a server that does not speak TDS 8.0 now.
struct StrictUnavailable {
    odbc::Error failure;
};

// Whether the server speaks TDS 8.0 now, by a bare handshake that sends no
// TDS byte (none: it cannot be told); a Yes is remembered for the run.
std::optional<bool> speaksStrictNow(const Target& target, const QString& key,
                                    QDeadlineTimer deadline) {
    const auto answer = speaksStrictTds(target.route, deadline);
    if (answer == true) {
        rememberStrict(key);
    }
    return answer;
}

// The Spanish cause of a connection the guard or the relay ended.
QString causeOf(Interception interception) {
    switch (interception) {
    case Interception::WeakerAnswer:
        return kWeakerAnswer;
    case Interception::NoEncryption:
        return kNoEncryptionAnswered;
    case Interception::ClearAfterLogin:
        return kClearAfterLogin;
    case Interception::ClearLogin:
        return kClearLogin;
    case Interception::NameMismatch:
        return kUntrustedCertificate;
    case Interception::NameUncheckable:
        return kNameUncheckable;
    case Interception::ForeignPeer:
        return kForeignPeer;
    }
    return {};
}

// The server reached for one login, and the relay the driver reaches it
// through.  Throws the failure as the user reads it when the server cannot
// be reached by `deadline`.
std::shared_ptr<DriverRelay> relayTo(const Target& target, const TrustRule& rule,
                                     Encryption encryption, QDeadlineTimer deadline) {
    const Route& route = target.route;
    const ServerLink server = linkTo(route.addresses, static_cast<quint16>(route.port), deadline);
    if (server.socket < 0) {
        throw odbc::Error(server.timedOut ? noAnswerInTime()
                                          : cannotConnect(browserInstance(target.address)));
    }
    std::function<bool(const QByteArray&)> namesHost;
    if (!rule.hostName.isEmpty() && !driverChecksName()) {
        namesHost = [host = rule.hostName](const QByteArray& leaf) {
            return connection::namesHost(leaf, host);
        };
    }
    return std::make_shared<DriverRelay>(
        server.socket, PreloginGuard(encryption == Encryption::Strict, std::move(namesHost)),
        deadline);
}

// What is left of `deadline` for the driver's login, in whole seconds.
std::chrono::seconds secondsLeft(QDeadlineTimer deadline) {
    return std::chrono::seconds(std::max<qint64>(1, (deadline.remainingTime() + 999) / 1000));
}

// One login, through a relay of its own for each attempt.  A certificate
// the user trusts after the driver or the guard refused it gets one more
// attempt, and so does a TDS 7.x login at a server that closed the link at
// the clear PRELOGIN yet speaks TDS 8.0, with FreeTDS 1.5, by TDS 8.0.
// Throws StrictUnavailable when a TDS 8.0 login failed because the server
// does not speak it and the caller `mayFallBack`.
std::unique_ptr<odbc::Connection> connectWith(const Request& request, const Target& target,
                                              Encryption encryption, bool mayFallBack) {
    const QString key = serverKey(target);
    for (bool asked = false;;) {
        const Framing framing = encryption == Encryption::Strict ? Framing::Strict : Framing::Tds7;
        const TrustRule rule = trustRule(target, key);
        const QDeadlineTimer deadline(std::chrono::milliseconds(timeouts().login));
        const std::shared_ptr<DriverRelay> relay = relayTo(target, rule, encryption, deadline);
        const QString section = sectionFor(target, rule, relay->port());
        const QString text = connectionString(request, section, encryption);
        auto link = std::make_unique<odbc::Connection>();
        try {
            link->connect(text, secondsLeft(deadline));
            forgetPrivateSection(section);
            // The driver follows a server's routing on a connection of its
            // own, around the relay.
            if (relay->driverLeft()) {
                throw odbc::Error(kRerouted);
            }
            link->setStatementTimeout(driverWait(timeouts().query));
            // The driver gives up on a silent server by itself; the watchdog,
            // a moment later, on one that trickles.
            link->setStatementWatch(
                std::make_shared<LinkWatchdog>(relay, timeouts().query + kWatchdogGrace));
            return link;
        } catch (const odbc::Error& error) {
            forgetPrivateSection(section);
            if (error.records().empty()) {
                throw; // ours, told already
            }
            const auto interception = relay->interception();
            if (interception && interception != Interception::NameMismatch) {
                throw odbc::Error(causeOf(*interception), error.records());
            }
            // A login the server accepted, on a link the driver then left
            // for another: the second login is what failed.
            if (relay->driverLeft() && loginAccepted(error.records())) {
                throw odbc::Error(kRerouted, error.records());
            }
            if (error.serverMessageNumber()) {
                throw;
            }
            // One bound for all that explains this failure.
            const QDeadlineTimer explanation(kExplanationMs);
            const bool handshakeFailed = interception == Interception::NameMismatch ||
                                         onlyTheHandshakeFailed(error.records());
            // A server that cannot be reached, or that stalls, tells nothing
            // of TDS 8.0: only a refused handshake does.
            const bool closed = closedByTheServer(error.records());
            const bool refused = handshakeFailed || closed;
            if (encryption == Encryption::Strict && mayFallBack && refused &&
                speaksStrictNow(target, key, explanation) != true) {
                throw StrictUnavailable{error};
            }
            if (encryption == Encryption::Require && closed && odbc::loadedDriverIsAtLeast15() &&
                speaksStrictNow(target, key, explanation) == true) {
                encryption = Encryption::Strict; // a server that forces strict encryption
                mayFallBack = false;
                continue;
            }
            bool verified = false;
            if (!asked && handshakeFailed) {
                asked = true;
                switch (judgeCertificate(request, target, key, rule, framing, explanation)) {
                case Verdict::Trusted:
                    continue;
                case Verdict::Declined:
                    throw odbc::Error(kCertificateDeclined, error.records());
                case Verdict::Verified:
                    verified = true;
                    break;
                case Verdict::Unknown:
                    break;
                }
            }
            throw explainedLoginFailure(error, target, verified, explanation);
        }
    }
}

} // namespace

void setCertificateQuestion(CertificateQuestion question) {
    const std::lock_guard lock(memory().mutex);
    memory().question = std::move(question);
}

std::unique_ptr<odbc::Connection> connect(const Request& request) {
    Target target = targetOf(request);
    target.route = routeOf(target, QDeadlineTimer(std::chrono::milliseconds(timeouts().login)));
    if (!odbc::loadedDriverIsAtLeast15()) {
        if (sectionWantsStrict(target)) {
            throw odbc::Error(kSectionWantsStrict.arg(target.section->name) + kStrictRemedy);
        }
        return connectWith(request, target, Encryption::Require, false);
    }
    // TDS 8.0 is tried first, unless a handshake of our own says the server
    // does not speak it: the driver's own attempt at such a server costs a
    // failed login.  When the handshake cannot tell, the driver tries.
    const QString key = serverKey(target);
    const bool seenStrict = rememberedStrict(key);
    if (!sectionWantsStrict(target) && !seenStrict &&
        speaksStrictNow(target, key, QDeadlineTimer(kExplanationMs)) == false) {
        return connectWith(request, target, Encryption::Require, false);
    }
    try {
        return connectWith(request, target, Encryption::Strict, !sectionWantsStrict(target));
    } catch (const StrictUnavailable& unavailable) {
        if (seenStrict) {
            // It spoke TDS 8.0 before: someone on the path may have taken it away.
            throw odbc::Error(kStrictWithdrawn, unavailable.failure.records());
        }
        return connectWith(request, target, Encryption::Require, false);
    }
}

} // namespace connection
