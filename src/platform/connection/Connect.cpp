#include "Connect.h"

#include "Bounded.h"
#include "DriverMessages.h"
#include "FreeTdsConf.h"
#include "KerberosCheck.h"
#include "PreloginProbe.h"
#include "ServerName.h"
#include "StrictProbe.h"
#include "Timeouts.h"
#include "platform/odbc/ConnectionString.h"
#include "platform/odbc/DriverVersion.h"

#include <QHostInfo>

namespace connection {

namespace {

constexpr int kDefaultPort = 1433;
// The explanation of a failure (the probe, the Kerberos check) may not
// hold the user longer than this, whatever stalls.
constexpr int kExplanationMs = 2000;

const QString kNoEncryption =
    QStringLiteral("El servidor no admite conexiones cifradas; no se ha enviado la contraseña.");
const QString kUntrustedCertificate = QStringLiteral(
    "El certificado del servidor no es de confianza o no corresponde a su nombre (\"ca file\" "
    "de freetds.conf); no se ha enviado la contraseña.");

const QString kStrictOnly = QStringLiteral(
    "El servidor solo admite cifrado estricto (TDS 8.0); no se ha enviado la contraseña.");
const QString kStrictRemedy = QStringLiteral(
    " El controlador FreeTDS instalado no lo ofrece: instale FreeTDS 1.5 o posterior (por "
    "ejemplo, el paquete tdsodbc de trixie-backports).");

struct Target {
    ServerAddress address;                 // as typed
    std::optional<FreeTdsSection> section; // the configured server, if any
    bool integrated = false;               // a Kerberos login
};

Target targetOf(const Request& request) {
    const bool integrated = !request.login;
    Target target{parseServerName(request.server), freeTdsSection(request.server), integrated};
    if (integrated && target.address.thisMachine) {
        target.address.host = QHostInfo::localHostName();
    }
    return target;
}

// The one connection string of every connection.
QString connectionString(const Request& request, const Target& target) {
    odbc::ConnectionStringBuilder builder;
    builder.add(QStringLiteral("DRIVER"), QStringLiteral("FreeTDS"));
    if (target.section) {
        builder.add(QStringLiteral("SERVERNAME"), target.section->name);
    } else {
        addServerKeys(builder, target.address);
    }
    builder.add(QStringLiteral("Encryption"), QStringLiteral("require"));
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

// Where the server listens, when that is known without asking a browser.
std::optional<std::pair<QString, int>> endpoint(const Target& target) {
    if (const auto& section = target.section) {
        // FreeTDS asks the Browser for an instance unless a port is given,
        // and puts the port into 16 bits as it stands.
        if (section->host.isEmpty() || (section->port && *section->port < 1) ||
            (!section->port && !section->instance.isEmpty())) {
            return std::nullopt;
        }
        return std::pair(section->host, section->port.value_or(kDefaultPort) & 0xFFFF);
    }
    if (!target.address.port && !target.address.instance.isEmpty()) {
        return std::nullopt;
    }
    return std::pair(target.address.host, target.address.port.value_or(kDefaultPort));
}

QString probedCause(const Target& target) {
    const auto where = endpoint(target);
    if (!where) {
        return {};
    }
    const QDeadlineTimer deadline(kExplanationMs);
    const auto answer = serverEncryption(where->first, where->second, deadline);
    if (!answer) {
        return {};
    }
    if (*answer == kEncryptNotSupported) {
        return kNoEncryption;
    }
    // A Kerberos cause found in the user's own credentials is certain.
    if (target.integrated) {
        const auto kerberos = finishedBy(
            [host = where->first, port = where->second] { return kerberosCause(host, port); },
            deadline);
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
    // login: with certificate checks configured, the check refused it.
    if (target.section && !target.section->caFile.isEmpty()) {
        return kUntrustedCertificate;
    }
    return {};
}

// A server that closed the link on the PRELOGIN in clear yet completes a
// TDS 8.0 handshake takes strict encryption only.
QString strictOnlyCause(const Target& target) {
    const auto where = endpoint(target);
    if (!where || !speaksStrictTds(where->first, where->second, QDeadlineTimer(kExplanationMs))) {
        return {};
    }
    bool strictDriver = false;
    try {
        strictDriver = odbc::loadedDriverVersion() >= odbc::DriverVersion{1, 5};
    } catch (const odbc::Error&) {
        // A driver that cannot say its version is taken for an older one.
    }
    return strictDriver ? kStrictOnly : kStrictOnly + kStrictRemedy;
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
odbc::Error explainedLoginFailure(const odbc::Error& failure, const Target& target) {
    if (failure.serverMessageNumber() || failure.records().empty()) {
        return failure;
    }
    QString why;
    if (onlyTheHandshakeFailed(failure.records())) {
        why = probedCause(target);
    } else if (closedByTheServer(failure.records())) {
        why = strictOnlyCause(target);
    }
    if (why.isEmpty()) {
        why = driverFailureDescription(failure.records(), browserInstance(target.address));
    }
    return odbc::Error(why, failure.records());
}

} // namespace

std::unique_ptr<odbc::Connection> connect(const Request& request) {
    const Target target = targetOf(request);
    const QString text = connectionString(request, target);
    auto link = std::make_unique<odbc::Connection>();
    try {
        link->connect(text, timeouts().login);
    } catch (const odbc::Error& error) {
        throw explainedLoginFailure(error, target);
    }
    link->setStatementTimeout(driverWait(timeouts().query));
    return link;
}

} // namespace connection
