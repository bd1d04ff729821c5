#pragma once
// The operating-system entry points that cArch calls, in place of those of
// kernel32 and shell32, and the shared error reporter oErrores.  Texts pass
// as wide text: host file names are Unicode, so no ANSI conversion is made.
//
// An item identifier list is a 32-bit handle to a chosen folder; 0 is none.

#include "errors/zuErrores_Sencillo.h"

#include <QString>
#include <cstdint>

// The platform's BROWSEINFO, field for field.
struct BROWSEINFO {
    std::int32_t hwndOwner = 0;
    std::int32_t pidlRoot = 0;
    QString pszDisplayName;
    QString lpszTitle;
    std::int32_t ulFlags = 0;
    std::int32_t lpfn = 0;
    std::int32_t lParam = 0;
    std::int32_t iImage = 0;
};

// ulFlags: only file-system folders may be chosen.
constexpr std::int32_t BIF_RETURNONLYFSDIRS = 1;

// Renames or moves a file or folder; non-zero on success.  The system error
// code of the call is kept for lastDllError().
std::int32_t MoveFileA(const QString& lpExistingFileName, const QString& lpNewFileName);

// Shows the modal folder chooser; the item identifier list of the chosen
// folder, 0 when the user cancelled.
std::int32_t SHBrowseForFolderA(BROWSEINFO& lpbi);

// Writes the item's file-system path (Windows notation) into lpBuffer,
// followed by a NUL; non-zero on success, 0 when the item has none.
std::int32_t SHGetPathFromIDListA(std::int32_t pidl, QString& lpBuffer);

// Releases an item identifier list (0 is ignored).
void CoTaskMemFree(std::int32_t pidl);

// The system error code of the last entry point call on this thread
// (0 success, 2 file not found, 3 path not found, 5 access denied,
// 17 not the same device, 183 already exists, 112 disk full, ...).
std::int32_t lastDllError();
