#pragma once
// The process-wide file-name search (first, then next) over Windows paths.
//
// A pattern is a path whose last component may hold "*" and "?" (an empty
// last component means "*.*").  Entries without the hidden, system or folder
// attributes are always admitted; the mask bits Hidden and Folder admit those
// too (an entry must have each of its attributes admitted).  With Folder, a
// folder other than a drive root also yields "." and ".." where the pattern
// matches them.  Entries come in case-insensitive name order, "." and ".."
// first.  A folder that does not exist has no entries; a folder that cannot
// be read is a run-time error.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace hostfs {

namespace attr {
constexpr std::int32_t Normal = 0;
constexpr std::int32_t ReadOnly = 1;
constexpr std::int32_t Hidden = 2;
constexpr std::int32_t System = 4;
constexpr std::int32_t Folder = 16;
constexpr std::int32_t Archive = 32;
} // namespace attr

struct FoundEntry {
    QString name;        // the bare name
    QByteArray hostName; // the bare name as the host holds it, byte for byte
    QByteArray hostPath; // where it is on the host; findAllIn leaves it empty (a walk
                         // reaches its entries by folder and name)
    bool folder = false;
    // Whether the entry's permission bits were read, and what they say.
    bool modeKnown = false;
    bool readOnly = false;
};

// Every entry that pattern and mask select, without touching the search in
// progress.
std::vector<FoundEntry> findAll(const QString& pattern, std::int32_t mask);

// The same, but without hostPath, for the entries of a host folder that a walk has found, matched
// against namePattern (a bare name, with or without wildcards).  A folder
// reached through a symbolic link has no entries.
std::vector<FoundEntry> findAllIn(const QByteArray& hostFolder, bool isDriveRoot,
                                  const QString& namePattern, std::int32_t mask);

// The search of findFirst and findNext, entry by entry, in a host folder.
std::optional<FoundEntry> findFirstEntryIn(const QByteArray& hostFolder, bool isDriveRoot,
                                           const QString& namePattern, std::int32_t mask);
std::optional<FoundEntry> findNextEntry();

// Starts a new search (abandoning the one in progress) and returns its first
// name, or the empty text when nothing matches.
QString findFirst(const QString& pattern, std::int32_t mask);
// The next name of the search in progress; the empty text once exhausted.
QString findNext();

} // namespace hostfs
