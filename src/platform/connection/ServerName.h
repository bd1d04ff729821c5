#pragma once
// The server name as users type it in SQL Server tools, turned into what the
// FreeTDS driver needs: "host", "host\instance", "host,port",
// "tcp:host,port", "(local)" and "." (this machine).

#include "PrivateConf.h"

#include <QString>

#include <optional>

namespace connection {

struct ServerAddress {
    QString host;
    QString instance;         // empty: the default instance
    std::optional<int> port;  // none: the driver's default, or the instance's
    bool thisMachine = false; // typed as "(local)", "." or "localhost"
    friend bool operator==(const ServerAddress&, const ServerAddress&) = default;
};

// Throws a RuntimeError naming the server when the text cannot be a server
// name (empty host, an instance or port left empty, a port that is no
// number from 1 to 65535).
ServerAddress parseServerName(const QString& typed);

// The instance the driver asks the host's SQL Server Browser for: empty
// when the address names a port or the default instance.
QString browserInstance(const ServerAddress& address);

// The host and, when known, the port, as freetds.conf options.  With a port
// the instance is left out: the port already says where the server listens.
QList<ConfLine> serverConfLines(const ServerAddress& address);

} // namespace connection
