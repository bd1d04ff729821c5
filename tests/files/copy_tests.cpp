#include "HostTree.h"
#include "QStringPrinter.h"
#include "RecordingUi.h"
#include "files/cArch.h"
#include "platform/hostfs/HostPath.h"
#include "platform/ui/QProgressBarSink.h"

#include <QProgressBar>
#include <gtest/gtest.h>

namespace {

using testing_support::HostTree;
using testing_support::Message;
using testing_support::RecordingUi;
using testing_support::SmallDisk;

// Records what a copy tells its progress display, in order.
class RecordingProgress final : public ui::ProgressSink {
public:
    void setValue(float value) override { steps.push_back("value " + QString::number(value)); }
    void setMaximum(float maximum) override { steps.push_back("max " + QString::number(maximum)); }
    QStringList steps;
};

TEST(CopiaFich, MissingFolderWithoutCreatingIt) {
    HostTree tree;
    RecordingUi ui;
    ui.allow(1);
    tree.file("a.txt", "A");
    cArch a;
    const QString dest = tree.win("nueva\\a.txt");
    EXPECT_FALSE(a.CopiaFich(tree.win("a.txt"), dest, false));
    EXPECT_EQ(
        ui.messages(),
        std::vector<Message>(
            {{"Error copiando '" + dest + "'.\r\nNo se ha encontrado la ruta de acceso", 0}}));
    EXPECT_FALSE(tree.exists("nueva"));
}

TEST(CopiaFich, CreatesFoldersReplacesAndStaysSilentWhenAsked) {
    HostTree tree;
    RecordingUi ui;
    tree.file("a.txt", "A");
    cArch a;
    EXPECT_TRUE(a.CopiaFich(tree.win("a.txt"), tree.win("x\\y\\a.txt"), true));
    EXPECT_EQ(tree.read("x/y/a.txt"), QByteArray("A"));
    tree.file("b.txt", "B");
    EXPECT_TRUE(a.CopiaFich(tree.win("b.txt"), tree.win("X\\Y\\A.TXT"), false));
    EXPECT_EQ(tree.read("x/y/a.txt"), QByteArray("B"));
    EXPECT_FALSE(a.CopiaFich(tree.win("no.txt"), tree.win("c.txt"), false, true));
    EXPECT_TRUE(ui.messages().empty());
}

TEST(CopiaFich, AFullDiskSaysDiscoLleno) {
    HostTree tree;
    RecordingUi ui;
    ui.allow(1);
    SmallDisk disk(tree, "disco", 64);
    tree.file("grande.bin", QByteArray(256 * 1024, 'g'));
    // Where mounting is refused, the full device of the system stands in.
    if (!disk.mounted() && !QFile::exists("/dev/full")) {
        GTEST_SKIP() << "neither a tmpfs can be mounted nor is there a /dev/full";
    }
    const QString dest =
        disk.mounted() ? tree.win("disco\\grande.bin") : QStringLiteral("C:\\dev\\full");
    cArch a;
    EXPECT_FALSE(a.CopiaFich(tree.win("grande.bin"), dest, false));
    EXPECT_EQ(ui.messageTexts(), QStringList({"Error copiando '" + dest + "'.\r\nDisco Lleno."}));
    EXPECT_EQ(tree.read("grande.bin").size(), 256 * 1024);
}

TEST(CopiaFich, AReadOnlyDestinationSurvives) {
    HostTree tree;
    RecordingUi ui;
    ui.allow(1);
    tree.file("a.txt", "nuevo");
    tree.file("ro.txt", "viejo");
    tree.readOnly("ro.txt");
    cArch a;
    EXPECT_FALSE(a.CopiaFich(tree.win("a.txt"), tree.win("ro.txt"), false));
    EXPECT_EQ(ui.messageTexts(),
              QStringList({"Error copiando '" + tree.win("ro.txt") + "'.\r\nPermiso denegado"}));
    EXPECT_EQ(tree.read("ro.txt"), QByteArray("viejo"));
}

TEST(CreaDirs, EachListedPath) {
    HostTree tree;
    RecordingUi ui;
    cArch a;
    EXPECT_TRUE(a.creaDirs(tree.win("a\\b\\c.txt"), true));
    EXPECT_TRUE(tree.exists("a/b"));
    EXPECT_FALSE(tree.exists("a/b/c.txt"));
    EXPECT_TRUE(a.creaDirs(tree.win("d\\e"), false));
    EXPECT_TRUE(tree.exists("d/e"));
    EXPECT_TRUE(a.creaDirs(tree.win("f\\g\\"), true));
    EXPECT_TRUE(tree.exists("f"));
    EXPECT_FALSE(tree.exists("f/g"));
    EXPECT_TRUE(a.creaDirs(tree.win("h\\\\i"), false));
    EXPECT_TRUE(tree.exists("h"));
    EXPECT_FALSE(tree.exists("h/i"));
    EXPECT_TRUE(a.creaDirs(tree.win("d\\e"), false));
    EXPECT_TRUE(a.creaDirs("C:", false));
    // The character after the drive is skipped untested.
    EXPECT_TRUE(a.creaDirs("C:x" + tree.win("j\\k").mid(3), false));
    EXPECT_TRUE(tree.exists("j/k"));
    EXPECT_TRUE(ui.messages().empty());
}

TEST(CreaDirs, NoDriveAndFailures) {
    HostTree tree;
    RecordingUi ui;
    ui.allow(2);
    tree.file("archivo");
    cArch a;
    EXPECT_FALSE(a.creaDirs("carpeta\\sub", false));
    EXPECT_FALSE(a.creaDirs(tree.win("archivo\\sub"), false));
    EXPECT_FALSE(a.creaDirs("carpeta\\sub", false, true));
    EXPECT_EQ(ui.messageTexts(), QStringList({"creaDirs... Ruta incorrecta: 'carpeta\\sub'",
                                              "Error en creaDirs '" + tree.win("archivo\\sub") +
                                                  "'.\r\nEl archivo ya existe"}));
    EXPECT_FALSE(QFile::exists("carpeta"));
}

TEST(CreaDirs, OnAShare) {
    HostTree tree;
    RecordingUi ui;
    tree.folder("gvfs/smb-share:server=srv,share=datos");
    const QByteArray previous = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(tree.host()));
    cArch a;
    EXPECT_TRUE(a.creaDirs("\\\\srv\\datos\\a", false));
    EXPECT_TRUE(tree.exists("gvfs/smb-share:server=srv,share=datos/a"));
    qputenv("XDG_RUNTIME_DIR", previous);
}

class CopiaCarpeta : public ::testing::Test {
protected:
    void SetUp() override {
        tree.file("src/raiz.txt", "r");
        tree.file("src/x/y.txt", "y");
        tree.file("src/x/z/w.txt", "w");
        tree.file("src/v.1/punto.txt", "p");
        tree.file("src/.oculto", "o");
    }
    HostTree tree;
    RecordingUi ui;
    cArch a;
    RecordingProgress progress;
};

TEST_F(CopiaCarpeta, IntoUpperCaseFoldersWithProgress) {
    EXPECT_TRUE(a.CopiaCarpeta(tree.win("src"), tree.win("dst"), 1, true, true, &progress));
    EXPECT_EQ(tree.read("dst/raiz.txt"), QByteArray("r"));
    EXPECT_EQ(tree.read("dst/X/y.txt"), QByteArray("y"));
    EXPECT_EQ(tree.read("dst/X/Z/w.txt"), QByteArray("w"));
    EXPECT_FALSE(tree.exists("dst/x"));
    EXPECT_FALSE(tree.exists("dst/V.1"));
    EXPECT_FALSE(tree.exists("dst/.oculto"));
    EXPECT_EQ(progress.steps, QStringList({"value 0", "max 3", "value 1", "value 2", "value 3"}));
    EXPECT_TRUE(ui.messages().empty());
}

TEST_F(CopiaCarpeta, ModeZeroCopiesTheTopFolderOnly) {
    EXPECT_TRUE(a.CopiaCarpeta(tree.win("src"), tree.win("dst"), 0, true));
    EXPECT_TRUE(tree.exists("dst/raiz.txt"));
    EXPECT_FALSE(tree.exists("dst/X"));
}

TEST_F(CopiaCarpeta, NothingToCopy) {
    EXPECT_TRUE(a.CopiaCarpeta(tree.win("nada"), tree.win("dst"), 1, false, true, &progress));
    EXPECT_EQ(progress.steps, QStringList({"value 0", "max 0"}));
    EXPECT_FALSE(tree.exists("dst"));
}

TEST_F(CopiaCarpeta, FailedFilesDoNotMakeItFalseAndCountInTheProgress) {
    // Without creating folders the copy into the missing X fails, silently.
    tree.folder("dst");
    EXPECT_TRUE(a.CopiaCarpeta(tree.win("src"), tree.win("dst"), 1, false, true, &progress));
    EXPECT_TRUE(tree.exists("dst/raiz.txt"));
    EXPECT_FALSE(tree.exists("dst/X"));
    EXPECT_EQ(progress.steps.last(), QStringLiteral("value 3"));
    EXPECT_TRUE(ui.messages().empty());
}

TEST_F(CopiaCarpeta, NotSilentShowsEachFailedFile) {
    tree.folder("dst");
    ui.allow(2);
    EXPECT_TRUE(a.CopiaCarpeta(tree.win("src"), tree.win("dst"), 1, false, false));
    EXPECT_EQ(ui.messageTexts().size(), 2);
    EXPECT_TRUE(
        ui.messageTexts()[0].startsWith("Error copiando '" + tree.win("dst") + "\\X\\y.txt'."));
}

TEST_F(CopiaCarpeta, AFailingListingIsReportedEvenWhenSilent) {
    // More than 32767 files: the listing overflows.
    tree.folder("muchos");
    for (int i = 0; i < 32768; ++i) {
        QFile(tree.host("muchos/f" + QString::number(i))).open(QIODevice::WriteOnly);
    }
    ui.allow(1);
    EXPECT_FALSE(a.CopiaCarpeta(tree.win("muchos"), tree.win("dst"), 0, false, true, &progress));
    EXPECT_EQ(ui.messageTexts(), QStringList({"CopiaCarpeta. Error 6: Desbordamiento"}));
    EXPECT_TRUE(progress.steps.isEmpty());
}

TEST_F(CopiaCarpeta, AFullDiskKeepsTheSourcesAndReportsOnlyWhenAsked) {
    SmallDisk disk(tree, "disco", 64);
    if (!disk.mounted()) {
        GTEST_SKIP() << "mounting a tmpfs is refused here";
    }
    tree.file("src/grande.bin", QByteArray(256 * 1024, 'g'));
    ui.allow(1);
    EXPECT_TRUE(a.CopiaCarpeta(tree.win("src"), tree.win("disco\\dst"), 0, true, false));
    EXPECT_EQ(ui.messageTexts(), QStringList({"Error copiando '" + tree.win("disco\\dst") +
                                              "\\grande.bin'.\r\nDisco Lleno."}));
    EXPECT_EQ(tree.read("src/grande.bin").size(), 256 * 1024);
    EXPECT_TRUE(tree.exists("disco/dst/raiz.txt"));
}

TEST(ProgressBarSink, DrivesAQProgressBar) {
    QProgressBar bar;
    ui::QProgressBarSink sink(bar);
    sink.setValue(0);
    sink.setMaximum(5);
    sink.setValue(3);
    EXPECT_EQ(bar.maximum(), 5);
    EXPECT_EQ(bar.value(), 3);
}

} // namespace
