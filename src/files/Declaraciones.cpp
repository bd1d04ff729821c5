#include "Declaraciones.h"

#include "platform/hostfs/FileOps.h"
#include "platform/hostfs/HostPath.h"
#include "platform/ui/Dialogs.h"

#include <cerrno>
#include <map>

namespace {

thread_local std::int32_t tLastDllError = 0;

// The Windows system error code that stands for a host errno value.
std::int32_t systemErrorFor(int errnoValue) {
    switch (errnoValue) {
    case 0:
        return 0;
    case ENOENT:
        return 2;
    case ENOTDIR:
        return 3;
    case EACCES:
    case EPERM:
    case EROFS:
        return 5;
    case EXDEV:
        return 17;
    case EBUSY:
        return 32;
    case ENOSPC:
        return 112;
    case ENOTEMPTY:
        return 145;
    case EEXIST:
        return 183;
    case ENAMETOOLONG:
        return 206;
    default:
        return 31; // a device attached to the system is not functioning
    }
}

// The chosen folders behind the item identifier lists handed out.
std::map<std::int32_t, QString>& chosenItems() {
    static std::map<std::int32_t, QString> items;
    return items;
}

std::int32_t gNextItem = 1;

} // namespace

std::int32_t MoveFileA(const QString& lpExistingFileName, const QString& lpNewFileName) {
    const int error = hostfs::moveEntry(lpExistingFileName, lpNewFileName);
    tLastDllError = systemErrorFor(error);
    return error == 0 ? 1 : 0;
}

std::int32_t SHBrowseForFolderA(BROWSEINFO& lpbi) {
    const QString chosen =
        ui::dialogs().chooseFolder(lpbi.lpszTitle, (lpbi.ulFlags & BIF_RETURNONLYFSDIRS) != 0);
    tLastDllError = 0;
    if (chosen.isEmpty()) {
        return 0;
    }
    const std::int32_t item = gNextItem++;
    chosenItems()[item] = chosen;
    return item;
}

std::int32_t SHGetPathFromIDListA(std::int32_t pidl, QString& lpBuffer) {
    const auto found = chosenItems().find(pidl);
    // Only an absolute host path is a folder of the file system.
    if (found == chosenItems().end() || !found->second.startsWith(u'/')) {
        return 0;
    }
    const QString path = hostfs::windowsPathOf(found->second) + QChar(u'\0');
    // The path replaces the start of the buffer, which grows if it must
    // rather than cut the path.
    lpBuffer = path + lpBuffer.mid(path.size());
    return 1;
}

void CoTaskMemFree(std::int32_t pidl) { chosenItems().erase(pidl); }

std::int32_t lastDllError() { return tLastDllError; }
