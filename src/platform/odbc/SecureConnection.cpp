#include "SecureConnection.h"

#include "KerberosCheck.h"
#include "Odbc.h"
#include "PreloginProbe.h"

#include <QHostInfo>

namespace odbc {

namespace {

constexpr int kDefaultPort = 1433;
// A server answers PRELOGIN at once; the probe only explains a failure,
// so it may not hold the user long.
constexpr int kProbeTimeoutMs = 2000;

const QString kNoEncryption =
    QStringLiteral("El servidor no admite conexiones cifradas; no se ha enviado la contraseña.");
const QString kUntrustedCertificate = QStringLiteral(
    "El certificado del servidor no es de confianza o no corresponde a su nombre (\"ca file\" "
    "de freetds.conf); no se ha enviado la contraseña.");

// Where the server listens, when that is known without asking a browser.
std::optional<std::pair<QString, int>> endpoint(const ConnectionTarget& target) {
    if (target.section) {
        if (target.section->host.isEmpty()) {
            return std::nullopt;
        }
        return std::pair(target.section->host, target.section->port.value_or(kDefaultPort));
    }
    if (!target.address.port && !target.address.instance.isEmpty()) {
        return std::nullopt;
    }
    return std::pair(target.address.host, target.address.port.value_or(kDefaultPort));
}

QString cause(const ConnectionTarget& target) {
    const auto where = endpoint(target);
    if (!where) {
        return {};
    }
    const auto answer = serverEncryption(where->first, where->second, kProbeTimeoutMs);
    if (!answer) {
        return {};
    }
    if (*answer == prelogin::EncryptNotSupported) {
        return kNoEncryption;
    }
    // A Kerberos cause found in the user's own credentials is certain.
    if (target.integrated) {
        if (QString kerberos = kerberosCause(where->first, where->second); !kerberos.isEmpty()) {
            return kerberos;
        }
    }
    // The server offers TLS, yet the driver gave up before it answered the
    // login: with certificate checks configured, the check refused it.
    if (target.section && !target.section->caFile.isEmpty()) {
        return kUntrustedCertificate;
    }
    return {};
}

} // namespace

ConnectionTarget connectionTarget(const QString& typedServer, bool integrated) {
    ConnectionTarget target{parseServerName(typedServer), freeTdsSection(typedServer), integrated};
    if (integrated && target.address.thisMachine) {
        target.address.host = QHostInfo::localHostName();
    }
    return target;
}

void addTargetKeys(ConnectionStringBuilder& builder, const ConnectionTarget& target) {
    if (target.section) {
        builder.add(QStringLiteral("SERVERNAME"), target.section->name);
    } else {
        addServerKeys(builder, target.address);
    }
    builder.add(QStringLiteral("Encryption"), QStringLiteral("require"));
}

void connectTo(Connection& connection, const QString& connectionString,
               const ConnectionTarget& target) {
    try {
        connection.connect(connectionString, browserInstance(target.address));
    } catch (const Error& error) {
        if (error.serverMessageNumber()) {
            throw;
        }
        const QString why = cause(target);
        if (why.isEmpty()) {
            throw;
        }
        throw Error(why, error.records());
    }
}

} // namespace odbc
