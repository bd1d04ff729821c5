#pragma once
// The administrator's FreeTDS configuration for one server.  The FreeTDS
// ODBC driver reads freetds.conf only for a connection by SERVERNAME, so
// a server typed by the name of a section of that file is reached through
// the section: its host, port and certificate checks ("ca file",
// "check certificate hostname") then apply as they do to FreeTDS's own
// tools.  The file is the one FreeTDS itself would read: $FREETDSCONF,
// $FREETDS/etc/freetds.conf, ~/.freetds.conf, /etc/freetds/freetds.conf,
// the first that has the section.

#include <QString>

#include <optional>

namespace connection {

struct FreeTdsSection {
    QString name; // as written in the file
    QString host;
    std::optional<int> port;
    QString caFile; // empty: FreeTDS accepts any certificate
};

// The section named like `server` (without regard to case), if any;
// "global" is never a server.
std::optional<FreeTdsSection> freeTdsSection(const QString& server);

} // namespace connection
