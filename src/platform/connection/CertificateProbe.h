#pragma once
// The certificate a server shows, fetched by a TLS handshake of our own and
// nothing more (no login, no password), and checked by the rules the
// driver applies: the chain against the system's authorities or a PEM
// file, then, when asked, the host name against the first certificate.

#include "Route.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

#include <optional>

namespace connection {

// How the handshake is framed: TDS 7.x carries it inside PRELOGIN packets
// after a PRELOGIN exchange; TDS 8.0 ("strict") starts with it, offering the
// ALPN protocol "tds/8.0".
enum class Framing { Tds7, Strict };

// The certificates the server sent, its own first, in DER.
using CertificateChain = QList<QByteArray>;

// None when no handshake got as far as the server's certificate by
// `deadline`.
std::optional<CertificateChain> presentedCertificates(const Route& route, Framing framing,
                                                      QDeadlineTimer deadline);

// Whether the server completes a TDS 8.0 ("strict") handshake: TLS before
// any TDS byte, agreeing on the ALPN protocol "tds/8.0".  None when it
// cannot be told: no address answered, or the handshake had not ended by
// `deadline`.  Every address is tried in turn.  The certificate is not
// checked: no TDS byte, login or password is sent.
std::optional<bool> speaksStrictTds(const Route& route, QDeadlineTimer deadline);

struct TrustRule {
    QString caFile;   // "system" for the system's authorities, else a PEM file
    QString hostName; // empty: the host name is not checked
    QString crlFile;  // empty: no revocation list
};

bool verifies(const CertificateChain& chain, const TrustRule& rule);

// True when the certificate (DER) names `host`, by the rule `verifies`
// applies to the first certificate of a chain.
bool namesHost(const QByteArray& der, const QString& host);

struct CertificateSummary {
    QString subject;
    QString issuer;
    QString sha256; // upper-case hex pairs joined by ":"
};

CertificateSummary summaryOf(const QByteArray& der);

} // namespace connection
