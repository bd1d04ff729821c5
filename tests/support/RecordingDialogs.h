#pragma once
// A recording double of the modal choosers.  It keeps every folder request
// (title, file-system only) and every file-open request, and answers from a
// script; with nothing scripted it answers as a cancelled chooser.  A
// scripted failure is raised as the run-time error it names.
//
// Installed for its lifetime; the Qt choosers come back when it goes.

#include "platform/ui/Dialogs.h"

#include <QString>
#include <deque>
#include <optional>
#include <vector>

namespace testing_support {

struct FolderRequest {
    QString title;
    bool fileSystemOnly = false;
    friend bool operator==(const FolderRequest&, const FolderRequest&) = default;
};

class RecordingDialogs final : public ui::Dialogs {
public:
    RecordingDialogs();
    ~RecordingDialogs() override;
    RecordingDialogs(const RecordingDialogs&) = delete;
    RecordingDialogs& operator=(const RecordingDialogs&) = delete;

    // The next folder chooser returns path (the empty text: cancelled).
    RecordingDialogs& chooseFolder(const QString& path);
    // The next file-open chooser accepts fileName (with the filter shown).
    RecordingDialogs& chooseFile(const QString& fileName, int filterIndex = 1);
    // The next file-open chooser fails with the run-time error number.
    RecordingDialogs& failFileChooser(int number);

    QString chooseFolder(const QString& title, bool fileSystemOnly) override;
    ui::FileOpenAnswer chooseFileToOpen(const ui::FileOpenRequest& request) override;

    const std::vector<FolderRequest>& folderRequests() const { return folderRequests_; }
    const std::vector<ui::FileOpenRequest>& fileRequests() const { return fileRequests_; }

private:
    std::deque<QString> folders_;
    std::deque<ui::FileOpenAnswer> files_;
    std::optional<int> failure_;
    std::vector<FolderRequest> folderRequests_;
    std::vector<ui::FileOpenRequest> fileRequests_;
};

} // namespace testing_support
