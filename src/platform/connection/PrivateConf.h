#pragma once
// The program's own freetds.conf.  FreeTDS takes certificate checks, strict
// encryption and the dump file only from freetds.conf, so every connection
// goes through a section this component writes, in a file in a folder that
// only the user can read, removed when the program ends; the folders of
// killed runs are removed at the next start.  FREETDSCONF names that file
// from start-up on, set once while the program has one thread; the user's
// own value of it stays what the configuration reader follows.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace connection {

// Creates the folder and points FREETDSCONF at the file.  The program calls
// it at start-up, before any thread starts, as the environment may only
// change then; a connection without it is refused.  Throws an odbc::Error
// when the folder cannot be made.
void usePrivateFreeTdsConf();

// Removes the folder and all in it.
void removePrivateFreeTdsConf();

// FREETDSCONF as the user set it before start-up, or none.
std::optional<QString> userFreeTdsConf();

// For tests only: the file to take for the user's FREETDSCONF from now on
// (none: no such file); returns the previous one.
std::optional<QString> replaceUserFreeTdsConfForTests(std::optional<QString> path);

// One option of a section, its name in lower case, as FreeTDS reads it.
using ConfLine = std::pair<QByteArray, QByteArray>;

// The name of a section holding exactly these lines, in this order; the same
// lines give the same section.  Throws an odbc::Error for a value FreeTDS
// could not read back as it stands (a line break, ";" or "#", or a line
// longer than FreeTDS reads at once).
QString privateSection(const QList<ConfLine>& lines);

// Takes a section of privateSection out of the file again, once the
// connection that named it has been made or has failed: the driver reads
// the file only while it connects.
void forgetPrivateSection(const QString& name);

// A PEM file in the folder that holds exactly this certificate, so that a
// "ca file" naming it trusts that certificate and no other.
QString pinnedCertificateFile(const QByteArray& der);

} // namespace connection
