#include "Search.h"

#include "FolderListing.h"
#include "HostErrors.h"
#include "HostPath.h"
#include "Wildcard.h"

#include <QFile>
#include <QStringList>
#include <cerrno>
#include <sys/stat.h>

namespace hostfs {

namespace {

struct SearchState {
    QStringList names;
    qsizetype next = 0;
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

void addSpecials(const HostPath& folder, const QString& upperPattern, std::int32_t mask,
                 std::vector<FoundEntry>& found) {
    if (!(mask & attr::Folder) || folder.isDriveRoot) {
        return;
    }
    for (const QString& special : {QStringLiteral("."), QStringLiteral("..")}) {
        if (matchesUpper(special, upperPattern)) {
            found.push_back(
                {special, joinHost(folder.path, QFile::encodeName(special)), true, false, false});
        }
    }
}

// A name without wildcards that exists exactly as written needs no listing.
bool findExact(const ParentAndName& target, std::int32_t mask, std::vector<FoundEntry>& found) {
    if (target.name == u"." || target.name == u"..") {
        return false;
    }
    const QByteArray hostPath = joinHost(target.folder.path, QFile::encodeName(target.name));
    struct stat st {};
    if (::lstat(hostPath.constData(), &st) != 0) {
        return false;
    }
    const bool folder = S_ISDIR(st.st_mode);
    if (admitted(folder, target.name.startsWith(u'.'), mask)) {
        found.push_back(
            {target.name, hostPath, folder, true, S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)});
    }
    return true;
}

} // namespace

std::vector<FoundEntry> findAll(const QString& pattern, std::int32_t mask) {
    ParentAndName target = resolveParent(pattern);
    if (target.name.isEmpty()) {
        target.name = QStringLiteral("*.*");
    }
    std::vector<FoundEntry> found;
    if (!hasWildcards(target.name) && findExact(target, mask, found)) {
        return found;
    }
    int error = 0;
    const auto entries = readFolder(target.folder.path, false, error);
    if (!entries) {
        if (folderIsMissing(error)) {
            return found;
        }
        raiseHostError(error, Action::Read, target.folder.path);
    }
    const QString upperPattern = upperCase(target.name);
    addSpecials(target.folder, upperPattern, mask, found);
    for (const FolderEntry& entry : *entries) {
        if (admitted(entry.folder, entry.hidden, mask) &&
            matchesUpper(entry.upperName, upperPattern)) {
            found.push_back(
                {entry.name, joinHost(target.folder.path, entry.hostName), entry.folder});
        }
    }
    return found;
}

QString findFirst(const QString& pattern, std::int32_t mask) {
    gSearch = SearchState{};
    for (const FoundEntry& entry : findAll(pattern, mask)) {
        gSearch.names << entry.name;
    }
    return findNext();
}

QString findNext() {
    if (gSearch.next >= gSearch.names.size()) {
        return {};
    }
    return gSearch.names[gSearch.next++];
}

} // namespace hostfs
