#include "Search.h"

#include "FolderListing.h"
#include "HostErrors.h"
#include "HostPath.h"
#include "Wildcard.h"
#include "platform/runtime/RegionalSettings.h"

#include <QFile>
#include <QStringList>
#include <cerrno>
#include <sys/stat.h>

namespace hostfs {

namespace {

struct SearchState {
    std::vector<FoundEntry> entries;
    std::size_t next = 0;
};

// One search per process, as the platform's search is.
SearchState gSearch;

bool admitted(bool folder, bool hidden, std::int32_t mask) {
    return (!folder || (mask & attr::Folder)) && (!hidden || (mask & attr::Hidden));
}

QByteArray joinHost(const QByteArray& folder, const QByteArray& name) {
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

bool folderIsMissing(int error) { return error == ENOENT || error == ENOTDIR || error == ELOOP; }

void addSpecials(const QByteArray& hostFolder, bool isDriveRoot, const QString& upperPattern,
                 std::int32_t mask, std::vector<FoundEntry>& found) {
    if (!(mask & attr::Folder) || isDriveRoot) {
        return;
    }
    for (const QString& special : {QStringLiteral("."), QStringLiteral("..")}) {
        if (matchesUpper(special, upperPattern)) {
            const QByteArray hostName = QFile::encodeName(special);
            found.push_back({special, hostName, joinHost(hostFolder, hostName), true});
        }
    }
}

// A name without wildcards takes one entry: the exact one if it exists,
// else the only one equal to it without regard to case (none when several
// are).  "." and ".." are left to the listing, which holds them.
bool findOne(const QByteArray& hostFolder, const QString& name, std::int32_t mask,
             std::vector<FoundEntry>& found) {
    if (name == u"." || name == u"..") {
        return false;
    }
    QByteArray hostName = QFile::encodeName(name);
    struct stat st {};
    if (::lstat(joinHost(hostFolder, hostName).constData(), &st) != 0) {
        const std::optional<QByteArray> other = findWithoutCase(hostFolder, rt::upperCase(name));
        if (!other || ::lstat(joinHost(hostFolder, *other).constData(), &st) != 0) {
            return true;
        }
        hostName = *other;
    }
    const bool folder = S_ISDIR(st.st_mode);
    if (admitted(folder, hostName.startsWith('.'), mask)) {
        found.push_back({QFile::decodeName(hostName), hostName, joinHost(hostFolder, hostName),
                         folder, true, S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)});
    }
    return true;
}

} // namespace

std::vector<FoundEntry> findAllIn(const QByteArray& hostFolder, bool isDriveRoot,
                                  const QString& namePattern, std::int32_t mask) {
    std::vector<FoundEntry> found;
    if (!hasWildcards(namePattern) && findOne(hostFolder, namePattern, mask, found)) {
        return found;
    }
    int error = 0;
    const auto entries = readFolder(hostFolder, false, error);
    if (!entries) {
        if (folderIsMissing(error)) {
            return found;
        }
        raiseHostError(error, Action::Read, hostFolder);
    }
    const QString upperPattern = rt::upperCase(namePattern);
    addSpecials(hostFolder, isDriveRoot, upperPattern, mask, found);
    for (const FolderEntry& entry : *entries) {
        if (admitted(entry.folder, entry.hidden, mask) &&
            matchesUpper(entry.upperName, upperPattern)) {
            found.push_back({entry.name, entry.hostName, {}, entry.folder});
        }
    }
    return found;
}

std::vector<FoundEntry> findAll(const QString& pattern, std::int32_t mask) {
    ParentAndName target = resolveParent(pattern);
    if (target.name.isEmpty()) {
        target.name = QStringLiteral("*.*");
    }
    std::vector<FoundEntry> found =
        findAllIn(target.folder.path, target.folder.isDriveRoot, target.name, mask);
    for (FoundEntry& entry : found) {
        entry.hostPath = joinHost(target.folder.path, entry.hostName);
    }
    return found;
}

std::optional<FoundEntry> findFirstEntryIn(const QByteArray& hostFolder, bool isDriveRoot,
                                           const QString& namePattern, std::int32_t mask) {
    gSearch = SearchState{};
    gSearch.entries = findAllIn(hostFolder, isDriveRoot, namePattern, mask);
    return findNextEntry();
}

std::optional<FoundEntry> findNextEntry() {
    if (gSearch.next >= gSearch.entries.size()) {
        return std::nullopt;
    }
    return gSearch.entries[gSearch.next++];
}

QString findFirst(const QString& pattern, std::int32_t mask) {
    gSearch = SearchState{};
    gSearch.entries = findAll(pattern, mask);
    return findNext();
}

QString findNext() {
    const std::optional<FoundEntry> entry = findNextEntry();
    return entry ? entry->name : QString();
}

} // namespace hostfs
