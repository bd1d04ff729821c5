#pragma once
// Where a server listens, worked out once per connection (the name resolved,
// a named instance's port asked of the Browser), so that every check of
// this component reaches the same server the driver does, without asking
// again.

#include <QHostAddress>
#include <QList>
#include <QString>

namespace connection {

struct Route {
    QString host; // as named, for the certificate's name
    int port = 0;
    QList<QHostAddress> addresses; // tried in turn
};

} // namespace connection
