#pragma once
// A relay on the path to a server, as an attacker on the network would put
// one: it passes every byte on, except that it turns the encryption offer of
// a client's PRELOGIN in clear from ON to OFF (a server without forced
// encryption then encrypts the login only) and rewrites, in what the client
// sends, every UTF-16 text `from` into `to` of the same length.  Asked to,
// it also turns the server's answer from OFF back to ON, so that the client
// believes in an encryption the server does not keep, and closes (or holds
// back) connections that begin with a TLS handshake (TDS 8.0), so that a
// client that checks for strict encryption first is told no, or nothing.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace testing_support {

struct Tampering {
    bool answerOn = false;
    int dropTlsFirst = 0;    // how many TLS-first connections are closed; -1: all
    int delayTlsFirstMs = 0; // how long the first is held before its first byte goes on
};

class PreloginRelay {
public:
    PreloginRelay(int serverPort, const QString& from, const QString& to, Tampering tampering = {});
    ~PreloginRelay();
    PreloginRelay(const PreloginRelay&) = delete;
    PreloginRelay& operator=(const PreloginRelay&) = delete;

    // "127.0.0.1,PORT", as a user types it.
    QString serverName() const;
    // PRELOGIN messages seen in clear, and how many were rewritten.
    int clearPrelogins() const { return clearPrelogins_; }
    int rewrites() const { return rewrites_; }
    // SQL batches and LOGIN7 packets (which carry the password) seen in clear.
    int clearBatches() const { return clearBatches_; }
    int clearLogins() const { return clearLogins_; }

private:
    void acceptLoop();
    void relay(int client);

    int serverPort_;
    QByteArray from_;
    QByteArray to_;
    Tampering tampering_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> clearPrelogins_{0};
    std::atomic<int> rewrites_{0};
    std::atomic<int> clearBatches_{0};
    std::atomic<int> clearLogins_{0};
    std::atomic<int> tlsFirstSeen_{0};
    std::thread acceptor_;
    std::vector<std::thread> sessions_;
};

} // namespace testing_support
