#pragma once
// The Qt implementation of the modal choosers.

#include "Dialogs.h"

namespace ui {

class QtDialogs final : public Dialogs {
public:
    QString chooseFolder(const QString& title, bool fileSystemOnly) override;
    FileOpenAnswer chooseFileToOpen(const FileOpenRequest& request) override;
};

} // namespace ui
