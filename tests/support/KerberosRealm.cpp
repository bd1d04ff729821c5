#include "KerberosRealm.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <netdb.h>

#include <cstring>
#include <stdexcept>

namespace testing_support {

namespace {

constexpr int kWaitMs = 10000;

int freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) {
        throw std::runtime_error("KerberosRealm: no free loopback port");
    }
    return probe.serverPort();
}

} // namespace

QString kerberosHostName() {
    const QByteArray host = QHostInfo::localHostName().toUtf8();
    if (host.contains('.')) {
        return QString::fromUtf8(host);
    }
    addrinfo hints = {};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    QString name = QString::fromUtf8(host);
    if (getaddrinfo(host.constData(), nullptr, &hints, &found) == 0) {
        if (found->ai_canonname && std::strchr(found->ai_canonname, '.')) {
            name = QString::fromUtf8(found->ai_canonname);
        }
        freeaddrinfo(found);
    }
    return name;
}

std::optional<QString> kerberosHostAddress() {
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(kerberosHostName().toUtf8().constData(), nullptr, &hints, &found) != 0) {
        return std::nullopt;
    }
    std::optional<QString> address;
    for (const addrinfo* a = found; a && !address; a = a->ai_next) {
        const QHostAddress candidate(a->ai_addr);
        if (candidate.isLoopback()) {
            address = candidate.toString();
        }
    }
    freeaddrinfo(found);
    return address;
}

KerberosRealm::KerberosRealm()
    : savedConfig_(qgetenv("KRB5_CONFIG")), savedCache_(qgetenv("KRB5CCNAME")) {
    if (!dir_.isValid()) {
        throw std::runtime_error("KerberosRealm: cannot create a temporary folder");
    }
    const QByteArray port = QByteArray::number(freePort());
    const QByteArray realm = kRealm;
    const QByteArray d = QFile::encodeName(dir_.path());
    write("krb5.conf", "[libdefaults]\n\tdefault_realm = " + realm +
                           "\n\tdns_lookup_kdc = false\n\tdns_lookup_realm = false\n"
                           "\trdns = false\n\tdns_canonicalize_hostname = false\n"
                           "\tudp_preference_limit = 1\n[realms]\n\t" +
                           realm + " = {\n\t\tkdc = 127.0.0.1:" + port + "\n\t}\n");
    write("kdc.conf", "[kdcdefaults]\n\tkdc_ports = " + port + "\n\tkdc_tcp_ports = " + port +
                          "\n[realms]\n\t" + realm + " = {\n\t\tdatabase_name = " + d +
                          "/principal\n\t\tkey_stash_file = " + d + "/stash\n\t\tacl_file = " + d +
                          "/kadm5.acl\n\t}\n[logging]\n\tkdc = FILE:" + d + "/kdc.log\n");
    write("kadm5.acl", "");
    qputenv("KRB5_CONFIG", d + "/krb5.conf");
    qputenv("KRB5CCNAME", "FILE:" + d + "/ccache");
    run(QStringLiteral("kdb5_util"), {"create", "-s", "-r", kRealm, "-P", "Maestra.de.pruebas"});
    run(QStringLiteral("kadmin.local"),
        {"-q", QStringLiteral("addprinc -pw Clave.de.alicia %1").arg(kUser)});
    kdc_ = std::make_unique<QProcess>();
    kdc_->setProcessChannelMode(QProcess::MergedChannels);
    kdc_->setProcessEnvironment(environment());
    kdc_->start(QStringLiteral("krb5kdc"), {"-n"});
    // The KDC answers once its port takes connections.
    for (int waited = 0;; waited += 50) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port.toInt()));
        if (probe.waitForConnected(200)) {
            break;
        }
        if (waited > kWaitMs || kdc_->state() == QProcess::NotRunning) {
            throw std::runtime_error("KerberosRealm: the KDC did not start within 10 s: " +
                                     kdc_->readAll().toStdString());
        }
        QThread::msleep(50);
    }
}

KerberosRealm::~KerberosRealm() {
    if (kdc_) {
        kdc_->terminate();
        if (!kdc_->waitForFinished(kWaitMs)) {
            kdc_->kill();
            kdc_->waitForFinished(kWaitMs);
        }
    }
    auto restore = [](const char* name, const QByteArray& value) {
        if (value.isNull()) {
            qunsetenv(name);
        } else {
            qputenv(name, value);
        }
    };
    restore("KRB5_CONFIG", savedConfig_);
    restore("KRB5CCNAME", savedCache_);
}

QProcessEnvironment KerberosRealm::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KRB5_KDC_PROFILE"), dir_.filePath(QStringLiteral("kdc.conf")));
    return env;
}

void KerberosRealm::addService(const QString& principal) {
    run(QStringLiteral("kadmin.local"), {"-q", "addprinc -randkey " + principal});
    run(QStringLiteral("kadmin.local"), {"-q", "ktadd -k " + keytab() + " " + principal});
}

void KerberosRealm::kinit() {
    run(QStringLiteral("kinit"), {QString::fromLatin1(kUser)}, "Clave.de.alicia\n");
}

QString KerberosRealm::keytab() const { return dir_.filePath(QStringLiteral("servicio.keytab")); }

void KerberosRealm::run(const QString& program, const QStringList& arguments,
                        const QByteArray& input) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setProcessEnvironment(environment());
    p.start(program, arguments);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(kWaitMs) || p.exitStatus() != QProcess::NormalExit ||
        p.exitCode() != 0) {
        throw std::runtime_error(
            QStringLiteral("KerberosRealm: %1 %2 failed (waited up to 10 s): %3")
                .arg(program, arguments.join(u' '), QString::fromLocal8Bit(p.readAll()))
                .toStdString());
    }
}

void KerberosRealm::write(const QString& name, const QByteArray& text) {
    QFile file(dir_.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        throw std::runtime_error("KerberosRealm: cannot write " + name.toStdString());
    }
}

} // namespace testing_support
