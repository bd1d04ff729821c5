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
// first makes that one connection fail, and nothing more.  Work that the
// user gives up cuts its relays at once (rt::Abandonment).

#include "PreloginGuard.h"
#include "platform/runtime/Abandonment.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>

#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace connection {

// A connected TCP socket to the server, or whether there is none for want
// of an answer in time.
struct ServerLink {
    int socket = -1; // owned; -1: none
    bool timedOut = false;
};

// The first of `addresses` that accepts a connection on `port` by
// `deadline`, tried in turn as the driver tries them.
ServerLink linkTo(const QList<QHostAddress>& addresses, quint16 port, QDeadlineTimer deadline);

class DriverRelay {
public:
    // Takes `server` (a socket of linkTo) and listens on 127.0.0.1 until
    // `deadline` for the driver.  Throws an odbc::Error when it cannot listen.
    DriverRelay(int server, PreloginGuard guard, QDeadlineTimer deadline);
    ~DriverRelay();
    DriverRelay(const DriverRelay&) = delete;
    DriverRelay& operator=(const DriverRelay&) = delete;

    quint16 port() const { return port_; }

    // What ended the connection, when the guard or the peer check did.
    std::optional<Interception> interception() const;
    // True when the driver never came or closed its connection to the
    // endpoint itself (it follows a server's routing on a connection of its
    // own); false while it is open, and when the server ended it.
    bool driverLeft() const;
    // Shuts both links down at once: the driver's next read fails.
    void cut();

private:
    void run(QDeadlineTimer deadline);
    bool acceptDriver(QDeadlineTimer deadline);
    void pump();
    void stop(Interception why);
    void closeAll();

    PreloginGuard guard_;
    int listener_ = -1;
    int wake_ = -1;
    quint16 port_ = 0;
    mutable std::mutex mutex_;
    int driver_ = -1;
    int server_ = -1;
    bool accepted_ = false;
    bool driverClosed_ = false;
    std::optional<Interception> interception_;
    std::thread thread_;
    // The work this connection runs for: given up, it cuts the relay.
    std::shared_ptr<rt::Abandonment> work_ = rt::currentAbandonment();
    int cutId_ = 0;
};

} // namespace connection
