#include "QStringPrinter.h"
#include "RecordingDialogs.h"
#include "RecordingUi.h"
#include "files/CommonDialog.h"
#include "files/Declaraciones.h"
#include "files/cArch.h"

#include <gtest/gtest.h>

namespace {

using testing_support::FolderRequest;
using testing_support::Message;
using testing_support::RecordingDialogs;
using testing_support::RecordingUi;

TEST(BrowseFolder, TitleOnlyFileSystemFoldersAndTheChosenPath) {
    RecordingDialogs dialogs;
    dialogs.chooseFolder("/srv/Datos").chooseFolder("/tmp");
    cArch a;
    EXPECT_EQ(a.BrowseFolder(), QStringLiteral("C:\\srv\\Datos"));
    EXPECT_EQ(a.BrowseFolder(""), QStringLiteral("C:\\tmp"));
    EXPECT_EQ(dialogs.folderRequests(),
              std::vector<FolderRequest>({{"Seleccione Carpeta", true}, {"", true}}));
}

TEST(BrowseFolder, CancelOrAnItemWithoutAPathGiveTheEmptyText) {
    RecordingDialogs dialogs;
    dialogs.chooseFolder("").chooseFolder("network:///");
    cArch a;
    EXPECT_EQ(a.BrowseFolder("Elija"), QString());
    EXPECT_EQ(a.BrowseFolder("Elija"), QString());
}

TEST(BrowseFolder, ALongPathIsNotCut) {
    RecordingDialogs dialogs;
    const QString longPath = "/" + QString(600, u'p');
    dialogs.chooseFolder(longPath);
    cArch a;
    EXPECT_EQ(a.BrowseFolder(), "C:\\" + QString(600, u'p'));
}

TEST(BrowseFile, WithoutAControlShowsTheMessage) {
    RecordingUi ui;
    RecordingDialogs dialogs;
    ui.allow(1);
    cArch a;
    EXPECT_EQ(a.BrowseFile(nullptr, "Texto (*.txt)|*.txt"), QString());
    EXPECT_EQ(ui.messages(),
              std::vector<Message>({{"No se ha establecido la propiedad Set CommondDialog", 0}}));
    EXPECT_TRUE(dialogs.fileRequests().empty());
}

TEST(BrowseFile, SetsFlagsFilterAndTheFirstFilterEntry) {
    RecordingDialogs dialogs;
    dialogs.chooseFile("/home/u/informe.txt", 2);
    CommonDialog control;
    control.setFilterIndex(3);
    control.setFlags(99);
    cArch a;
    EXPECT_EQ(a.BrowseFile(&control, "Texto (*.txt)|*.txt|Todos (*.*)|*.*", 0x1004),
              QStringLiteral("C:\\home\\u\\informe.txt"));
    ASSERT_EQ(dialogs.fileRequests().size(), 1u);
    const ui::FileOpenRequest& request = dialogs.fileRequests().front();
    EXPECT_EQ(request.flags, 0x1004);
    EXPECT_EQ(request.filterIndex, 1);
    EXPECT_EQ(request.nameFilters, QStringList({"Texto (*.txt) (*.txt)", "Todos (*.*) (*)"}));
    EXPECT_EQ(control.FilterIndex(), 2);
}

TEST(BrowseFile, OnlyTheControlGivesEmptyFilterAndNoFlags) {
    RecordingDialogs dialogs;
    CommonDialog control;
    control.setFilter("X|*.x");
    control.setFlags(5);
    cArch a;
    EXPECT_EQ(a.BrowseFile(&control), QString());
    EXPECT_EQ(control.Flags(), 0);
    EXPECT_EQ(control.Filter(), QString());
    EXPECT_TRUE(dialogs.fileRequests().front().nameFilters.isEmpty());
}

TEST(BrowseFile, ACancelledDialogReturnsWhatTheControlHeld) {
    RecordingDialogs dialogs;
    CommonDialog control;
    control.setFileName("C:\\tmp\\previo.txt");
    cArch a;
    EXPECT_EQ(a.BrowseFile(&control, "Todos|*.*"), QStringLiteral("C:\\tmp\\previo.txt"));
    EXPECT_EQ(dialogs.fileRequests().front().fileName, QStringLiteral("/tmp/previo.txt"));
}

TEST(BrowseFile, AnErrorIsReportedOnceAndTheResultIsEmpty) {
    RecordingUi ui;
    RecordingDialogs dialogs;
    ui.allow(1);
    dialogs.failFileChooser(70);
    CommonDialog control;
    control.setFileName("C:\\tmp\\previo.txt");
    cArch a;
    EXPECT_EQ(a.BrowseFile(&control, "Todos|*.*"), QString());
    EXPECT_EQ(ui.messages(),
              std::vector<Message>({{"cArch.BrowseFile. Error 70: Permiso denegado", 0}}));
}

TEST(CommonDialogFilter, TheControlFormatInQtForm) {
    EXPECT_EQ(qtNameFilters(""), QStringList());
    // The chooser hides the last parentheses: the description reads as written.
    EXPECT_EQ(qtNameFilters("Imágenes|*.jpg;*.png|Texto (*.txt)|*.txt|Todos (*.*)|*.*"),
              QStringList({"Imágenes (*.jpg *.png)", "Texto (*.txt) (*.txt)", "Todos (*.*) (*)"}));
    EXPECT_EQ(qtNameFilters("Sin patrón"), QStringList({"Sin patrón (*)"}));
}

} // namespace
