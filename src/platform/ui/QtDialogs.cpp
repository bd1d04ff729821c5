#include "QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QUrl>

namespace ui {

QString QtDialogs::chooseFolder(const QString& title, bool fileSystemOnly) {
    QFileDialog dialog(QApplication::activeWindow(), title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    // Only the local file system's folders can be chosen when asked for.
    dialog.setSupportedSchemes(fileSystemOnly ? QStringList{QStringLiteral("file")}
                                              : QStringList{});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedUrls().isEmpty()) {
        return {};
    }
    // An item without a local path (a network location) comes back as its
    // URL, which names no folder of the file system.
    const QUrl chosen = dialog.selectedUrls().constFirst();
    return chosen.isLocalFile() ? chosen.toLocalFile() : chosen.toString();
}

FileOpenAnswer QtDialogs::chooseFileToOpen(const FileOpenRequest& request) {
    QFileDialog dialog(QApplication::activeWindow());
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The filters carry their patterns in Qt's form after the caller's own
    // description; the description alone is what the user reads.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (!request.nameFilters.isEmpty()) {
        dialog.setNameFilters(request.nameFilters);
        const int index = request.filterIndex - 1;
        if (index >= 0 && index < request.nameFilters.size()) {
            dialog.selectNameFilter(request.nameFilters[index]);
        }
    }
    if (!request.fileName.isEmpty()) {
        dialog.selectFile(request.fileName);
    }
    FileOpenAnswer answer;
    answer.filterIndex = request.filterIndex;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return answer;
    }
    answer.accepted = true;
    answer.fileName = dialog.selectedFiles().constFirst();
    if (const qsizetype shown = request.nameFilters.indexOf(dialog.selectedNameFilter());
        shown >= 0) {
        answer.filterIndex = static_cast<int>(shown) + 1;
    }
    return answer;
}

} // namespace ui
