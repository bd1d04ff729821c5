#pragma once
// The modal choosers of the desktop: a folder chooser and a file-open
// chooser.  The program installs the Qt implementation (QtDialogs.h, over
// QFileDialog); tests install a recording double.

#include <QString>
#include <QStringList>
#include <cstdint>

namespace ui {

struct FileOpenRequest {
    std::int32_t flags = 0;  // the caller's option bits, passed through unchanged
    QStringList nameFilters; // in Qt's form, "Texto (*.txt)"
    int filterIndex = 1;     // 1-based; the filter selected when the chooser opens
    QString fileName;        // the initial file name
};

struct FileOpenAnswer {
    bool accepted = false;
    QString fileName; // a host path
    int filterIndex = 1;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // The chosen folder as an absolute host path; an item that is no folder
    // of the file system as its URL; the empty text on cancel.
    virtual QString chooseFolder(const QString& title, bool fileSystemOnly) = 0;
    virtual FileOpenAnswer chooseFileToOpen(const FileOpenRequest& request) = 0;
};

// The choosers in force.  installDialogs(nullptr) leaves none installed, and
// a call of dialogs() then stops the program; the caller keeps ownership of
// what it installs.
Dialogs& dialogs();
void installDialogs(Dialogs* replacement);

} // namespace ui
