#pragma once
// Where a server listens, worked out once per connection (the name resolved,
// a named instance's port asked of the Browser), and the one way this
// component reaches it: the first of its addresses that answers, tried in
// turn as the driver tries them.  The relay's link and every probe take
// that way, so all of them reach the same server the driver would.

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QString>

namespace connection {

struct Route {
    QString host; // as named, for the certificate's name
    int port = 0;
    QList<QHostAddress> addresses; // tried in turn
};

// A connected TCP socket to the server, or whether there is none for want
// of an answer in time.
struct ServerLink {
    int socket = -1; // owned by the caller; -1: none
    bool timedOut = false;
};

// The first of the route's addresses that accepts a connection by
// `deadline`.  "localhost" may lead to ::1 first while the server listens
// on 127.0.0.1 only, so a refusal moves on to the next address.
ServerLink firstAnswering(const Route& route, QDeadlineTimer deadline);

} // namespace connection
