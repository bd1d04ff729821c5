#include "CertificateProbe.h"

#include "PreloginProbe.h"
#include "PreloginReply.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace connection {

namespace {

// The socket under a handshake, with TDS 7.x's packet framing when asked.
struct Transport {
    QTcpSocket& socket;
    Framing framing;
    QDeadlineTimer deadline;
    gnutls_session_t session = nullptr;
    qsizetype packetLeft = 0; // payload bytes of the current packet not yet read
    bool timedOut = false;    // the server had not answered by the deadline

    bool waitForBytes(qsizetype count) {
        while (socket.bytesAvailable() < count) {
            if (deadline.hasExpired() ||
                !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
                timedOut =
                    deadline.hasExpired() || socket.error() == QAbstractSocket::SocketTimeoutError;
                return false;
            }
        }
        return true;
    }
};

ssize_t push(gnutls_transport_ptr_t pointer, const void* data, size_t size) {
    auto& t = *static_cast<Transport*>(pointer);
    const QByteArray bytes(static_cast<const char*>(data), static_cast<qsizetype>(size));
    const QByteArray out = t.framing == Framing::Tds7 ? preloginPacket(bytes) : bytes;
    if (t.socket.write(out) != out.size() ||
        !t.socket.waitForBytesWritten(static_cast<int>(t.deadline.remainingTime()))) {
        gnutls_transport_set_errno(t.session, EPIPE);
        return -1;
    }
    return static_cast<ssize_t>(size);
}

ssize_t pull(gnutls_transport_ptr_t pointer, void* data, size_t size) {
    auto& t = *static_cast<Transport*>(pointer);
    if (t.framing == Framing::Tds7 && t.packetLeft == 0) {
        // Each packet's header is dropped; its payload is the TLS stream.
        if (!t.waitForBytes(static_cast<qsizetype>(kPacketHeaderSize))) {
            gnutls_transport_set_errno(t.session, ETIMEDOUT);
            return -1;
        }
        const QByteArray header = t.socket.read(kPacketHeaderSize);
        const auto length = replyLength(reinterpret_cast<const std::uint8_t*>(header.constData()),
                                        static_cast<std::size_t>(header.size()));
        t.packetLeft =
            length ? static_cast<qsizetype>(*length) - static_cast<qsizetype>(kPacketHeaderSize)
                   : 0;
        if (t.packetLeft <= 0) {
            gnutls_transport_set_errno(t.session, EPROTO);
            return -1;
        }
    }
    if (!t.waitForBytes(1)) {
        gnutls_transport_set_errno(t.session, ETIMEDOUT);
        return -1;
    }
    qint64 wanted = static_cast<qint64>(size);
    if (t.framing == Framing::Tds7) {
        wanted = std::min<qint64>(wanted, t.packetLeft);
    }
    const qint64 n = t.socket.read(static_cast<char*>(data), wanted);
    if (n <= 0) {
        gnutls_transport_set_errno(t.session, EPIPE);
        return -1;
    }
    t.packetLeft -= t.framing == Framing::Tds7 ? n : 0;
    return static_cast<ssize_t>(n);
}

struct SessionDeleter {
    void operator()(gnutls_session_int* s) const { gnutls_deinit(s); }
};
struct CredentialsDeleter {
    void operator()(gnutls_certificate_credentials_st* c) const {
        gnutls_certificate_free_credentials(c);
    }
};
struct CertificateDeleter {
    void operator()(gnutls_x509_crt_int* c) const { gnutls_x509_crt_deinit(c); }
};
struct TrustListDeleter {
    void operator()(gnutls_x509_trust_list_st* l) const { gnutls_x509_trust_list_deinit(l, 1); }
};
using Certificate = std::unique_ptr<gnutls_x509_crt_int, CertificateDeleter>;

Certificate imported(const QByteArray& der) {
    gnutls_x509_crt_t raw = nullptr;
    if (gnutls_x509_crt_init(&raw) < 0) {
        return {};
    }
    Certificate certificate(raw);
    gnutls_datum_t datum{reinterpret_cast<unsigned char*>(const_cast<char*>(der.constData())),
                         static_cast<unsigned>(der.size())};
    if (gnutls_x509_crt_import(raw, &datum, GNUTLS_X509_FMT_DER) < 0) {
        return {};
    }
    return certificate;
}

QString taken(gnutls_datum_t& datum) {
    QString text = QString::fromUtf8(reinterpret_cast<const char*>(datum.data),
                                     static_cast<qsizetype>(datum.size));
    gnutls_free(datum.data);
    return text;
}

// What one handshake showed: the server's certificates, the ALPN protocol
// agreed on when it completed, and whether it ended for want of an answer.
struct Handshake {
    CertificateChain chain;
    QByteArray protocol;
    bool timedOut = false;
};

std::optional<Handshake> handshake(QTcpSocket& socket, const QString& host, Framing framing,
                                   QDeadlineTimer deadline) {
    gnutls_session_t rawSession = nullptr;
    gnutls_certificate_credentials_t rawCredentials = nullptr;
    if (gnutls_init(&rawSession, GNUTLS_CLIENT) < 0) {
        return std::nullopt;
    }
    const std::unique_ptr<gnutls_session_int, SessionDeleter> session(rawSession);
    if (gnutls_certificate_allocate_credentials(&rawCredentials) < 0) {
        return std::nullopt;
    }
    const std::unique_ptr<gnutls_certificate_credentials_st, CredentialsDeleter> credentials(
        rawCredentials);
    gnutls_set_default_priority(rawSession);
    gnutls_credentials_set(rawSession, GNUTLS_CRD_CERTIFICATE, rawCredentials);
    const QByteArray name = host.toUtf8();
    if (QHostAddress(host).isNull()) {
        gnutls_server_name_set(rawSession, GNUTLS_NAME_DNS, name.constData(),
                               static_cast<size_t>(name.size()));
    }
    if (framing == Framing::Strict) {
        static const char kAlpn[] = "tds/8.0";
        gnutls_datum_t protocol{reinterpret_cast<unsigned char*>(const_cast<char*>(kAlpn)),
                                sizeof kAlpn - 1};
        gnutls_alpn_set_protocols(rawSession, &protocol, 1, 0);
    }
    Transport transport{socket, framing, deadline, rawSession, 0};
    gnutls_transport_set_ptr(rawSession, &transport);
    gnutls_transport_set_push_function(rawSession, push);
    gnutls_transport_set_pull_function(rawSession, pull);
    int rc = 0;
    do {
        rc = gnutls_handshake(rawSession);
    } while (rc < 0 && gnutls_error_is_fatal(rc) == 0);
    Handshake shown;
    shown.timedOut = transport.timedOut;
    gnutls_datum_t agreed{};
    if (rc == 0 && gnutls_alpn_get_selected_protocol(rawSession, &agreed) == 0) {
        shown.protocol = QByteArray(reinterpret_cast<const char*>(agreed.data),
                                    static_cast<qsizetype>(agreed.size));
    }
    unsigned count = 0;
    const gnutls_datum_t* peers = gnutls_certificate_get_peers(rawSession, &count);
    for (unsigned i = 0; peers && i < count; ++i) {
        shown.chain << QByteArray(reinterpret_cast<const char*>(peers[i].data),
                                  static_cast<qsizetype>(peers[i].size));
    }
    return shown;
}

} // namespace

std::optional<CertificateChain> presentedCertificates(const Route& route, Framing framing,
                                                      QDeadlineTimer deadline) {
    QTcpSocket socket;
    if (!connectWithin(socket, route, deadline)) {
        return std::nullopt;
    }
    if (framing == Framing::Tds7) {
        const auto encryption = preloginEncryption(socket, deadline);
        if (!encryption || *encryption == kEncryptNotSupported) {
            return std::nullopt;
        }
    }
    const auto shown = handshake(socket, route.host, framing, deadline);
    if (!shown || shown->chain.isEmpty()) {
        return std::nullopt;
    }
    return shown->chain;
}

std::optional<bool> speaksStrictTds(const Route& route, QDeadlineTimer deadline) {
    QTcpSocket socket;
    if (!connectWithin(socket, route, deadline)) {
        return std::nullopt;
    }
    const auto shown = handshake(socket, route.host, Framing::Strict, deadline);
    if (shown && shown->protocol == "tds/8.0") {
        return true;
    }
    if (!shown || shown->timedOut || deadline.hasExpired()) {
        return std::nullopt;
    }
    return false;
}

bool verifies(const CertificateChain& chain, const TrustRule& rule) {
    std::vector<Certificate> owned;
    std::vector<gnutls_x509_crt_t> certificates;
    for (const QByteArray& der : chain) {
        owned.push_back(imported(der));
        if (!owned.back()) {
            return false;
        }
        certificates.push_back(owned.back().get());
    }
    gnutls_x509_trust_list_t rawList = nullptr;
    if (certificates.empty() || gnutls_x509_trust_list_init(&rawList, 0) < 0) {
        return false;
    }
    const std::unique_ptr<gnutls_x509_trust_list_st, TrustListDeleter> list(rawList);
    const int added = rule.caFile.compare(QLatin1String("system"), Qt::CaseInsensitive) == 0
                          ? gnutls_x509_trust_list_add_system_trust(rawList, 0, 0)
                          : gnutls_x509_trust_list_add_trust_file(
                                rawList, QFile::encodeName(rule.caFile).constData(), nullptr,
                                GNUTLS_X509_FMT_PEM, 0, 0);
    // A revocation list the driver is told of revokes here too; one that
    // cannot be read verifies nothing, as the driver then verifies nothing.
    if (!rule.crlFile.isEmpty() &&
        gnutls_x509_trust_list_add_trust_file(rawList, nullptr,
                                              QFile::encodeName(rule.crlFile).constData(),
                                              GNUTLS_X509_FMT_PEM, 0, 0) < 0) {
        return false;
    }
    unsigned status = 0;
    if (added <= 0 ||
        gnutls_x509_trust_list_verify_crt(rawList, certificates.data(),
                                          static_cast<unsigned>(certificates.size()), 0, &status,
                                          nullptr) < 0 ||
        status != 0) {
        return false;
    }
    return rule.hostName.isEmpty() || namesHost(chain.front(), rule.hostName);
}

bool namesHost(const QByteArray& der, const QString& host) {
    const Certificate certificate = imported(der);
    return certificate &&
           gnutls_x509_crt_check_hostname(certificate.get(), host.toUtf8().constData()) != 0;
}

CertificateSummary summaryOf(const QByteArray& der) {
    CertificateSummary summary;
    const Certificate certificate = imported(der);
    if (!certificate) {
        return summary;
    }
    gnutls_datum_t text{};
    if (gnutls_x509_crt_get_dn3(certificate.get(), &text, 0) >= 0) {
        summary.subject = taken(text);
    }
    if (gnutls_x509_crt_get_issuer_dn3(certificate.get(), &text, 0) >= 0) {
        summary.issuer = taken(text);
    }
    unsigned char digest[32];
    size_t size = sizeof digest;
    if (gnutls_x509_crt_get_fingerprint(certificate.get(), GNUTLS_DIG_SHA256, digest, &size) >= 0) {
        summary.sha256 = QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(size))
                .toHex(':')
                .toUpper());
    }
    return summary;
}

} // namespace connection
