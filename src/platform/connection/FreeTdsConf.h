#pragma once
// The administrator's FreeTDS configuration for one server, read by the
// rules of FreeTDS's own reader (src/tds/config.c), so that what this
// component concludes about a server is what the driver will do:
// - the files, in order: $FREETDSCONF, $FREETDS/etc/freetds.conf,
//   ~/.config/freetds.conf (FreeTDS 1.5 and later), ~/.freetds.conf (the
//   home of the user's account, not $HOME), /etc/freetds/freetds.conf; the
//   search stops at the first file that has the section, and the [global]
//   section of every file opened on the way applies;
// - lines are read 255 bytes at a time; one that starts with ";" or "#" is
//   a comment; an option's name is matched without regard to case, its
//   value ends at ";" or "#", and runs of blanks in both count as one;
// - a section starts at "[" and its name ends at "]" or the end of the
//   line; names match without regard to ASCII case, and sections of the
//   same name add up.
// The FreeTDS ODBC driver reads these files only for a connection by
// SERVERNAME, so a server typed by the name of a section is reached
// through it, and its host, port and certificate checks ("ca file",
// "check certificate hostname") apply as they do to FreeTDS's own tools.

#include "PrivateConf.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace connection {

struct FreeTdsSection {
    QString name; // the SERVERNAME that reaches it
    QString file; // where it was found
    QString host; // empty: none given
    std::optional<int> port;
    QString instance;
    QString caFile; // empty: FreeTDS accepts any certificate
    QString crlFile;
    QString encryption;
    QString certificateHostname; // empty: the host's own name
    std::optional<bool> checkCertificateHostname;
    // Every option read, in the order FreeTDS applies them: the [global]
    // sections of the files on the way, then the section.
    QList<ConfLine> lines;
};

// Reads one file's text into `settings` as FreeTDS does: its [global]
// section, then the section named `server`.  True when that section is in
// the text.
bool readFreeTdsConf(const QByteArray& text, const QString& server, FreeTdsSection& settings);

// The section named `server`, if a file has one.  Throws an odbc::Error
// naming the file when one that FreeTDS would open is a pipe, a socket or a
// device other than /dev/null: reading it could wait for ever.
std::optional<FreeTdsSection> freeTdsSection(const QString& server);

} // namespace connection
