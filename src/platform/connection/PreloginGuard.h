#pragma once
// What a TDS 7.x connection may carry, read from the bytes that pass between
// the driver and the server, without any socket, so that it can be tested
// on its own.  The clear part of the exchange is TDS packets: the
// driver's PRELOGIN, the server's answer, then the TLS handshake inside
// PRELOGIN packets; after it, the stream is TLS records only.
//
// The guard holds back the bytes of a packet until it is whole and judged,
// and stops the connection:
// - when the answer is weaker than the request: the server would encrypt
//   the login only (OFF) or not at all (NOT_SUP), which FreeTDS accepts
//   or reports without a word on the cause;
// - when the server answers in clear after the driver sent its encrypted
//   login: the answer the driver saw was not the one the server gave;
// - when a login would leave in clear;
// - when the certificate's name must be checked here and the leaf of the
//   handshake does not name the host, or the handshake hides it (TLS 1.3).
// With TDS 8.0 ("strict") TLS comes first and the guard passes everything.
//
// What it read stays with it (seen()), so that a failure can be explained
// from the driver's own connection: the server's encryption answer, a TLS
// 1.3 handshake, the certificates of a TLS 1.2 one.

#include <QByteArray>
#include <QList>

#include <functional>
#include <optional>

namespace connection {

enum class Interception {
    WeakerAnswer,    // OFF to a request for encryption
    NoEncryption,    // NOT_SUP to a request for encryption
    ClearAfterLogin, // the server answered the encrypted login in clear
    ClearLogin,      // the driver was about to send its login in clear
    NameMismatch,    // the leaf certificate does not name the host
    NameUncheckable, // the handshake does not show the leaf (TLS 1.3)
    ForeignPeer,     // the endpoint was reached by a socket of another program
};

class PreloginGuard {
public:
    // `namesHost` is asked of the server's leaf certificate (DER) when the
    // driver cannot check its name itself; empty: no name to check here.
    PreloginGuard(bool strict, std::function<bool(const QByteArray&)> namesHost);

    struct Step {
        QByteArray forward;               // what may go on now
        std::optional<Interception> stop; // set: end the connection instead
    };
    Step fromDriver(const QByteArray& bytes);
    Step fromServer(const QByteArray& bytes);

    struct Seen {
        std::optional<std::uint8_t> answer; // the server's encryption answer
        bool tls13 = false;                 // the handshake chose TLS 1.3
        QList<QByteArray> certificates;     // TLS 1.2: the server's, its own first (DER)
    };
    const Seen& seen() const { return seen_; }

private:
    // One direction: TDS packets until the first TLS record, then raw.
    struct Stream {
        QByteArray held;
        bool raw = false;
        int packets = 0;
        std::optional<QByteArray> nextPacket();
    };
    // The server's handshake, from the payloads of its PRELOGIN packets,
    // read until it shows its certificates or cannot.
    struct Flight {
        QByteArray records;
        QByteArray messages;
        bool tls13 = false;
        bool noCertificate = false; // the handshake went on without one
        std::optional<QList<QByteArray>> chain;
        bool over() const { return tls13 || noCertificate || chain; }
        void take(const QByteArray& payload);
    };

    // Takes `bytes` into `stream` and passes on its whole packets as
    // `judge` allows, then, once the stream is TLS, everything.
    using Judge = std::optional<Interception> (PreloginGuard::*)(const QByteArray& packet);
    Step take(Stream& stream, const QByteArray& bytes, Judge judge);
    std::optional<Interception> judgeDriverPacket(const QByteArray& packet);
    std::optional<Interception> judgeServerPacket(const QByteArray& packet);

    bool strict_;
    std::function<bool(const QByteArray&)> namesHost_;
    Stream driver_;
    Stream server_;
    Flight flight_;
    std::optional<std::uint8_t> requested_;
    bool checking_;
    Seen seen_;
};

} // namespace connection
