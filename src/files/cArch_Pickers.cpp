// cArch: the folder picker and the file picker.
#include "CommonDialog.h"
#include "Declaraciones.h"
#include "cArch.h"
#include "platform/runtime/CurrentError.h"
#include "platform/ui/Services.h"

QString cArch::BrowseFolder(const QString& szDialogTitle) {
    BROWSEINFO info;
    info.lpszTitle = szDialogTitle;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    const std::int32_t itemList = SHBrowseForFolderA(info);
    QString path(512, u' ');
    const std::int32_t found = SHGetPathFromIDListA(itemList, path);
    CoTaskMemFree(itemList);
    if (found == 0) {
        return {};
    }
    return path.left(path.indexOf(QChar(u'\0')));
}

QString cArch::BrowseFile(CommonDialog* m_CommonDialog, const QString& sFiltro,
                          std::int32_t Opciones) {
    QString result;
    rt::withFailurePath(
        [&] {
            if (!m_CommonDialog) {
                ui::MsgBox(QStringLiteral("No se ha establecido la propiedad Set CommondDialog"),
                           ui::style::Ok);
                return;
            }
            m_CommonDialog->setFlags(Opciones);
            m_CommonDialog->setFilter(sFiltro);
            m_CommonDialog->setFilterIndex(1);
            m_CommonDialog->ShowOpen();
            result = m_CommonDialog->FileName();
        },
        [] { reportError(QStringLiteral("cArch.BrowseFile")); });
    return result;
}
