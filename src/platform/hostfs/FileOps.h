#pragma once
// File operations on Windows paths.  Failures are run-time errors with the
// classic numbers.  A read-only entry (no owner write bit) is honoured here
// for every user, root included: it is neither deleted nor overwritten.  A
// symbolic link is an entry of its own: deleting removes the link, never
// what it points to.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <sys/stat.h>

namespace hostfs {

// Whether path names an existing folder; a path given through a linked
// folder counts, as it does for the user who typed it.
bool folderExists(const QString& path);

// Copies the file from onto to, replacing an existing file unless it is
// read-only.  Neither side may be a pipe, a device or a socket (permission
// denied): such a file is never read or written through.  The copy keeps the source's permission
// bits and modification time.  A replaced file is swapped in only once the copy is complete, so a
// failure leaves both the source and the old destination as they were.
void copyFile(const QString& from, const QString& to);

// The same for a source file a walk has opened: the copy goes to name in
// targetFolder (or to the one entry there equal to it without regard to
// case).
void copyOpenFile(int in, const struct stat& sourceStat, const QByteArray& targetFolder,
                  const QByteArray& name);
// The host folder reached from root through the folder names, each found
// exactly or else without regard to case; with create, the missing ones are
// made, else a missing one is "path not found".  A name that finds a file or
// a symbolic link is "path not found" too: a copy never goes through one.
QByteArray folderBelow(const QByteArray& root, const QStringList& names, bool create);

void makeFolder(const QString& path);
// Removes an empty folder.
void removeFolder(const QString& path);
// Deletes every ordinary file (not hidden, not a folder) that pattern
// matches, in name order, stopping at the first that cannot go; "file not
// found" when none matches.
void deleteFiles(const QString& pattern);

// Renames or moves a file or folder; a file also moves to another file
// system, a folder does not.  Fails when to exists already.  Returns 0 on
// success, else the errno value of the failure.
int moveEntry(const QString& from, const QString& to);

// The byte length of a file (64-bit).
std::int64_t fileLength(const QString& path);

} // namespace hostfs
