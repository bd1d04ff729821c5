#pragma once
// TLS for one connection, as SQL Server runs it over TDS.  TDS 7.x: the
// handshake travels inside PRELOGIN packets, and once it is done TLS records
// go straight on the socket, for the login packet only or for the whole
// session, as the PRELOGIN exchange decided.  TDS 8.0 (strict): TLS from the
// first byte, with the ALPN protocol "tds/8.0", and every TDS packet inside
// it.  GnuTLS does the cryptography; this class only moves bytes between it
// and the session.

#include <QByteArray>
#include <QString>

#include <gnutls/gnutls.h>

#include <memory>

namespace server {

// The server's certificate and key, shared by every connection.
class TlsCredentials {
public:
    // From PEM files.  Null with `error` set when they cannot be used.
    static std::shared_ptr<TlsCredentials> fromFiles(const QString& certificate, const QString& key,
                                                     QString& error);
    // A self-signed certificate made now, as SQL Server makes one at start
    // when it has none of its own.
    static std::shared_ptr<TlsCredentials> selfSigned(QString& error);

    TlsCredentials(const TlsCredentials&) = delete;
    TlsCredentials& operator=(const TlsCredentials&) = delete;
    ~TlsCredentials();

    gnutls_certificate_credentials_t get() const { return credentials_; }

private:
    TlsCredentials() = default;
    gnutls_certificate_credentials_t credentials_ = nullptr;
};

class TlsChannel {
public:
    enum class Progress { Continue, Done, Failed };

    // TDS 7.x handshakes are TLS 1.2 unless told to offer TLS 1.3 as well.
    enum class Kind { Tds7, Tds7WithTls13, Strict };

    TlsChannel(std::shared_ptr<const TlsCredentials> credentials, Kind kind);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Takes the payload of one PRELOGIN message of the handshake (TDS 7.x)
    // or the bytes of the socket (strict); `reply` gets what goes back to
    // the client, inside PRELOGIN packets or straight on the socket.
    Progress handshake(const QByteArray& payload, QByteArray& reply);
    // After the handshake: TLS records from the socket in, clear bytes out.
    // False on a record that does not decrypt, or on the client's close.
    bool decrypt(const QByteArray& records, QByteArray& clear);
    QByteArray encrypt(const QByteArray& clear);
    // The ALPN protocol the client and the server agreed on, if any.
    QByteArray alpn() const;
    // Why the last call failed.
    const QString& error() const { return error_; }

private:
    static ssize_t push(gnutls_transport_ptr_t self, const void* data, size_t size);
    static ssize_t pull(gnutls_transport_ptr_t self, void* data, size_t size);

    std::shared_ptr<const TlsCredentials> credentials_;
    gnutls_session_t session_ = nullptr;
    QByteArray incoming_;
    QByteArray outgoing_;
    QString error_;
};

} // namespace server
