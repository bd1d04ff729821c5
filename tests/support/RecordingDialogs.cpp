#include "RecordingDialogs.h"

#include "platform/runtime/RuntimeError.h"

namespace testing_support {

RecordingDialogs::RecordingDialogs() { ui::installDialogs(this); }

RecordingDialogs::~RecordingDialogs() { ui::installDialogs(nullptr); }

RecordingDialogs& RecordingDialogs::chooseFolder(const QString& path) {
    folders_.push_back(path);
    return *this;
}

RecordingDialogs& RecordingDialogs::chooseFile(const QString& fileName, int filterIndex) {
    files_.push_back({true, fileName, filterIndex});
    return *this;
}

RecordingDialogs& RecordingDialogs::failFileChooser(int number) {
    failure_ = number;
    return *this;
}

QString RecordingDialogs::chooseFolder(const QString& title, bool fileSystemOnly) {
    folderRequests_.push_back({title, fileSystemOnly});
    if (folders_.empty()) {
        return {};
    }
    QString path = folders_.front();
    folders_.pop_front();
    return path;
}

ui::FileOpenAnswer RecordingDialogs::chooseFileToOpen(const ui::FileOpenRequest& request) {
    fileRequests_.push_back(request);
    if (failure_) {
        const int number = *failure_;
        failure_.reset();
        throw rt::RuntimeError(number);
    }
    if (files_.empty()) {
        return {false, {}, request.filterIndex};
    }
    ui::FileOpenAnswer answer = files_.front();
    files_.pop_front();
    return answer;
}

} // namespace testing_support
