#include "TlsChannel.h"

#include <gnutls/x509.h>

#include <QFile>
#include <QHostInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

namespace server {

namespace {

// SQL Server speaks TLS 1.2 at most inside TDS 7.x; a TLS 1.3 server would
// also send session tickets after the handshake, which a client that drops
// TLS after the login packet would read as TDS.
constexpr const char* kTds7Priorities = "NORMAL:-VERS-TLS1.3";
constexpr const char* kStrictPriorities = "NORMAL";
constexpr unsigned char kTds8Alpn[] = {'t', 'd', 's', '/', '8', '.', '0'};

QString gnutlsText(int code) { return QString::fromUtf8(gnutls_strerror(code)); }

// Frees a GnuTLS object when the scope ends, unless released.
template <typename T, void (*Free)(T)> struct Owned {
    T value = nullptr;
    ~Owned() {
        if (value) {
            Free(value);
        }
    }
};

} // namespace

TlsCredentials::~TlsCredentials() {
    if (credentials_) {
        gnutls_certificate_free_credentials(credentials_);
    }
}

std::shared_ptr<TlsCredentials> TlsCredentials::fromFiles(const QString& certificate,
                                                          const QString& key, QString& error) {
    std::shared_ptr<TlsCredentials> c(new TlsCredentials);
    int rc = gnutls_certificate_allocate_credentials(&c->credentials_);
    if (rc == GNUTLS_E_SUCCESS) {
        rc = gnutls_certificate_set_x509_key_file(
            c->credentials_, QFile::encodeName(certificate).constData(),
            QFile::encodeName(key).constData(), GNUTLS_X509_FMT_PEM);
    }
    if (rc < 0) {
        error = QStringLiteral("cannot use the certificate %1 with the key %2: %3")
                    .arg(certificate, key, gnutlsText(rc));
        return nullptr;
    }
    return c;
}

std::shared_ptr<TlsCredentials> TlsCredentials::selfSigned(QString& error) {
    Owned<gnutls_x509_privkey_t, gnutls_x509_privkey_deinit> key;
    Owned<gnutls_x509_crt_t, gnutls_x509_crt_deinit> crt;
    const QByteArray host = QHostInfo::localHostName().toUtf8();
    const std::uint8_t serial[] = {0x01, static_cast<std::uint8_t>(std::time(nullptr) & 0x7F)};
    const std::time_t now = std::time(nullptr);
    // ECDSA keys are made in a moment, so every start of the server can make one.
    int rc = gnutls_x509_privkey_init(&key.value);
    auto step = [&rc](int next) {
        if (rc >= 0) {
            rc = next;
        }
    };
    if (rc >= 0) {
        step(gnutls_x509_privkey_generate(key.value, GNUTLS_PK_ECDSA,
                                          GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0));
    }
    step(gnutls_x509_crt_init(&crt.value));
    if (rc >= 0) {
        step(gnutls_x509_crt_set_version(crt.value, 3));
        step(gnutls_x509_crt_set_serial(crt.value, serial, sizeof serial));
        step(gnutls_x509_crt_set_activation_time(crt.value, now - 3600));
        step(gnutls_x509_crt_set_expiration_time(crt.value, now + 365 * 24 * 3600));
        step(gnutls_x509_crt_set_dn_by_oid(crt.value, GNUTLS_OID_X520_COMMON_NAME, 0,
                                           "SSL_Self_Signed_Fallback", 24));
        step(gnutls_x509_crt_set_subject_alt_name(crt.value, GNUTLS_SAN_DNSNAME, host.constData(),
                                                  static_cast<unsigned>(host.size()),
                                                  GNUTLS_FSAN_APPEND));
        step(gnutls_x509_crt_set_key(crt.value, key.value));
        step(gnutls_x509_crt_sign2(crt.value, crt.value, key.value, GNUTLS_DIG_SHA256, 0));
    }
    std::shared_ptr<TlsCredentials> c(new TlsCredentials);
    step(gnutls_certificate_allocate_credentials(&c->credentials_));
    if (rc >= 0) {
        step(gnutls_certificate_set_x509_key(c->credentials_, &crt.value, 1, key.value));
    }
    if (rc < 0) {
        error = QStringLiteral("cannot make a self-signed certificate: %1").arg(gnutlsText(rc));
        return nullptr;
    }
    return c;
}

TlsChannel::TlsChannel(std::shared_ptr<const TlsCredentials> credentials, Kind kind)
    : credentials_(std::move(credentials)) {
    // Failures here leave no session; handshake() then reports them.
    if (gnutls_init(&session_, GNUTLS_SERVER | GNUTLS_NO_TICKETS) < 0) {
        session_ = nullptr;
        return;
    }
    gnutls_priority_set_direct(session_, kind == Kind::Tds7 ? kTds7Priorities : kStrictPriorities,
                               nullptr);
    if (kind == Kind::Strict) {
        const gnutls_datum_t tds8{const_cast<unsigned char*>(kTds8Alpn), sizeof kTds8Alpn};
        gnutls_alpn_set_protocols(session_, &tds8, 1, 0);
    }
    gnutls_credentials_set(session_, GNUTLS_CRD_CERTIFICATE, credentials_->get());
    gnutls_certificate_server_set_request(session_, GNUTLS_CERT_IGNORE);
    gnutls_transport_set_ptr(session_, this);
    gnutls_transport_set_push_function(session_, &TlsChannel::push);
    gnutls_transport_set_pull_function(session_, &TlsChannel::pull);
}

TlsChannel::~TlsChannel() {
    if (session_) {
        gnutls_deinit(session_);
    }
}

ssize_t TlsChannel::push(gnutls_transport_ptr_t self, const void* data, size_t size) {
    static_cast<TlsChannel*>(self)->outgoing_.append(static_cast<const char*>(data),
                                                     static_cast<qsizetype>(size));
    return static_cast<ssize_t>(size);
}

ssize_t TlsChannel::pull(gnutls_transport_ptr_t self, void* data, size_t size) {
    auto* channel = static_cast<TlsChannel*>(self);
    if (channel->incoming_.isEmpty()) {
        gnutls_transport_set_errno(channel->session_, EAGAIN);
        return -1;
    }
    const auto n = std::min<qsizetype>(channel->incoming_.size(), static_cast<qsizetype>(size));
    std::memcpy(data, channel->incoming_.constData(), static_cast<size_t>(n));
    channel->incoming_.remove(0, n);
    return static_cast<ssize_t>(n);
}

TlsChannel::Progress TlsChannel::handshake(const QByteArray& payload, QByteArray& reply) {
    if (!session_) {
        error_ = QStringLiteral("cannot start a TLS session");
        return Progress::Failed;
    }
    incoming_.append(payload);
    int rc = 0;
    do {
        rc = gnutls_handshake(session_);
    } while (rc == GNUTLS_E_INTERRUPTED);
    reply = std::exchange(outgoing_, {});
    if (rc == GNUTLS_E_SUCCESS) {
        return Progress::Done;
    }
    if (rc == GNUTLS_E_AGAIN) {
        return Progress::Continue;
    }
    error_ = QStringLiteral("TLS handshake failed: %1").arg(gnutlsText(rc));
    return Progress::Failed;
}

QByteArray TlsChannel::alpn() const {
    gnutls_datum_t selected{};
    if (!session_ || gnutls_alpn_get_selected_protocol(session_, &selected) < 0) {
        return {};
    }
    return QByteArray(reinterpret_cast<const char*>(selected.data),
                      static_cast<qsizetype>(selected.size));
}

bool TlsChannel::decrypt(const QByteArray& records, QByteArray& clear) {
    incoming_.append(records);
    char buffer[16384];
    for (;;) {
        const ssize_t n = gnutls_record_recv(session_, buffer, sizeof buffer);
        if (n > 0) {
            clear.append(buffer, static_cast<qsizetype>(n));
        } else if (n == GNUTLS_E_AGAIN) {
            return true;
        } else if (n == GNUTLS_E_INTERRUPTED) {
            continue;
        } else {
            error_ =
                n == 0 ? QStringLiteral("the client ended TLS inside the session")
                       : QStringLiteral("bad TLS record: %1").arg(gnutlsText(static_cast<int>(n)));
            return false;
        }
    }
}

QByteArray TlsChannel::encrypt(const QByteArray& clear) {
    qsizetype done = 0;
    while (done < clear.size()) {
        const ssize_t n = gnutls_record_send(session_, clear.constData() + done,
                                             static_cast<size_t>(clear.size() - done));
        if (n < 0) {
            // The push function takes everything, so only a broken session
            // fails here; the client then sees the connection end.
            break;
        }
        done += n;
    }
    return std::exchange(outgoing_, {});
}

} // namespace server
