#pragma once
// The endpoint on loopback through which the driver reaches a server, so
// that the connection the driver uses is the one this component sees.  It
// is given a link already made to the server, takes one connection, from a
// socket of this process, and passes every byte on unchanged in both
// directions, while a PreloginGuard reads the clear part of the exchange
// and may end the connection before anything secret leaves.  TLS stays end
// to end between the driver and the server.
//
// It ends with its connection; an endpoint that another program reaches
// first makes that one connection fail, and nothing more.  A login that has
// not ended by its deadline is cut there, whatever the driver's own
// time-out (whole seconds) would allow.  Work that the user gives up cuts
// the relays it uses at once (rt::Abandonment).
//
// What it saw stays with it (observed()), so that a failed login is
// explained from the driver's own connection first.

#include "PreloginGuard.h"
#include "platform/runtime/Abandonment.h"

#include <QDeadlineTimer>

#include <atomic>

#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace connection {

class DriverRelay {
public:
    // Takes `server` (a socket of firstAnswering) and listens on 127.0.0.1
    // for the driver until `loginDeadline`, which also bounds the login.
    // Throws an odbc::Error when it cannot listen.
    DriverRelay(int server, PreloginGuard guard, QDeadlineTimer loginDeadline);
    ~DriverRelay();
    DriverRelay(const DriverRelay&) = delete;
    DriverRelay& operator=(const DriverRelay&) = delete;

    quint16 port() const { return port_; }

    // The login ended (either way): the relay no longer cuts at its deadline.
    void loginEnded();
    // From now on the work the calling thread runs is the one whose
    // abandonment cuts this relay.
    void followCurrentWork();

    enum class Closer { Nobody, Server, Driver, Relay };
    struct Observed {
        PreloginGuard::Seen clear; // the clear part of the exchange
        std::optional<Interception> interception;
        Closer closedFirst = Closer::Nobody;
        bool loginCutAtDeadline = false;
    };
    Observed observed() const;

    // What ended the connection, when the guard or the peer check did.
    std::optional<Interception> interception() const;
    // True when the driver never came or closed its connection to the
    // endpoint itself (it follows a server's routing on a connection of its
    // own); false while it is open, and when the server ended it.
    bool driverLeft() const;
    // True while both links are open and the bytes still flow.
    bool open() const;
    // Shuts both links down at once: the driver's next read fails.
    void cut();

private:
    void run(QDeadlineTimer deadline);
    bool acceptDriver(QDeadlineTimer deadline);
    void pump(QDeadlineTimer deadline);
    // Hands bytes that came `fromDriver` or from the server to the guard and
    // on; false when the connection ends here.
    bool pass(bool fromDriver, const QByteArray& bytes, int to);
    void wake();
    void closeAll();

    PreloginGuard guard_;
    int listener_ = -1;
    int wake_ = -1;
    quint16 port_ = 0;
    mutable std::mutex mutex_;
    int driver_ = -1;
    int server_ = -1;
    bool accepted_ = false;
    bool ended_ = false;
    std::atomic<bool> loginPending_{true};
    std::atomic<bool> stopping_{false};
    Observed observed_;
    std::thread thread_;
    // The work this connection runs for: given up, it cuts the relay.
    std::shared_ptr<rt::Abandonment> work_;
    int cutId_ = 0;
};

} // namespace connection
