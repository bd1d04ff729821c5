#include "ChildProcess.h"
#include "HostTree.h"
#include "QStringPrinter.h"
#include "platform/hostfs/FileOps.h"
#include "platform/hostfs/FolderListing.h"
#include "platform/hostfs/HostErrors.h"
#include "platform/hostfs/HostPath.h"
#include "platform/hostfs/Search.h"
#include "platform/hostfs/Wildcard.h"
#include "platform/runtime/RuntimeError.h"

#include <QDir>
#include <QStringList>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testing_support::HostTree;
using testing_support::SmallDisk;

QString hostOf(const QString& windowsPath) {
    return QFile::decodeName(hostfs::resolve(windowsPath).path);
}

std::int32_t errorNumberOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const rt::RuntimeError& e) {
        return e.number();
    }
    return 0;
}

QStringList searchAll(const QString& pattern, std::int32_t mask) {
    QStringList names;
    for (QString name = hostfs::findFirst(pattern, mask); !name.isEmpty();
         name = hostfs::findNext()) {
        names << name;
    }
    return names;
}

// Changes the working folder for one test.
class WorkingFolder {
public:
    explicit WorkingFolder(const QString& path) : previous_(QDir::currentPath()) {
        QDir::setCurrent(path);
    }
    ~WorkingFolder() { QDir::setCurrent(previous_); }

private:
    QString previous_;
};

TEST(HostPath, DrivesTheRootAndRelativePaths) {
    HostTree tree;
    tree.file("Datos/Fotos/b.jpg");
    EXPECT_EQ(hostOf(tree.win("Datos\\Fotos\\b.jpg")), tree.host("Datos/Fotos/b.jpg"));
    EXPECT_EQ(hostOf("D:" + QString(tree.win()).mid(2)), tree.host());
    EXPECT_EQ(hostOf("C:\\"), QStringLiteral("/"));
    EXPECT_EQ(hostOf("\\"), QStringLiteral("/"));
    EXPECT_EQ(hostOf("\\usr\\bin"), QStringLiteral("/usr/bin"));
    EXPECT_TRUE(hostfs::resolve("C:\\").isDriveRoot);
    EXPECT_FALSE(hostfs::resolve(tree.win()).isDriveRoot);

    WorkingFolder here(tree.host());
    EXPECT_EQ(hostOf("C:Datos\\Fotos"), QStringLiteral("Datos/Fotos"));
    EXPECT_EQ(hostOf("datos\\fotos\\B.JPG"), QStringLiteral("Datos/Fotos/b.jpg"));
    EXPECT_EQ(hostOf("C:"), QStringLiteral("."));
}

TEST(HostPath, ComponentsAreFoundExactlyThenWithoutRegardToCase) {
    HostTree tree;
    tree.file("Datos/Fotos/b.jpg");
    tree.file("Datos/fotos2/c.jpg");
    EXPECT_EQ(hostOf(tree.win("DATOS\\FOTOS\\B.JPG")), tree.host("Datos/Fotos/b.jpg"));
    // The slash separates on the host too.
    EXPECT_EQ(hostOf(tree.win("datos/FOTOS2\\c.JPG")), tree.host("Datos/fotos2/c.jpg"));
    // Exact wins over a case variant.
    tree.file("Datos/FOTOS/exact.txt");
    EXPECT_EQ(hostOf(tree.win("Datos\\FOTOS\\exact.txt")), tree.host("Datos/FOTOS/exact.txt"));
    // Nothing matches: used as written, here and for everything after it.
    EXPECT_EQ(hostOf(tree.win("datos\\Nuevo\\Sub")), tree.host("Datos/Nuevo/Sub"));
}

TEST(HostPath, DotsAreResolvedBeforeAnyDecision) {
    HostTree tree;
    HostTree outside;
    tree.folder("t/x");
    outside.folder("lejos");
    tree.link("t/enlace", outside.host("lejos"));
    const struct {
        QString windowsPath;
        QString host;
        bool driveRoot;
    } cases[] = {
        {"C:\\tmp\\..", "/", true},
        {"C:\\tmp\\.\\..\\", "/", true},
        {"\\..\\..", "/", true},
        {tree.win("t\\enlace\\..\\x"), tree.host("t/x"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.windowsPath.toStdString());
        const hostfs::HostPath resolved = hostfs::resolve(c.windowsPath);
        EXPECT_EQ(QFile::decodeName(resolved.path), c.host);
        EXPECT_EQ(resolved.isDriveRoot, c.driveRoot);
    }
}

TEST(HostPath, SharesLiveOnTheGvfsMount) {
    HostTree tree;
    tree.file("gvfs/smb-share:server=srv,share=datos/Informe.txt");
    const QByteArray previous = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(tree.host()));
    EXPECT_EQ(hostOf("\\\\SRV\\Datos\\informe.TXT"),
              tree.host("gvfs/smb-share:server=srv,share=datos/Informe.txt"));
    EXPECT_TRUE(hostfs::resolve("\\\\srv\\datos").isDriveRoot);
    EXPECT_TRUE(hostfs::resolve("\\\\srv\\datos\\").isDriveRoot);
    // A share that is not mounted: its folder is missing, so "path not found".
    EXPECT_EQ(errorNumberOf([] { hostfs::fileLength("\\\\otro\\x\\a.txt"); }),
              rt::err::PathNotFound);
    qputenv("XDG_RUNTIME_DIR", previous);
}

TEST(Wildcard, WindowsRules) {
    using hostfs::matchesPattern;
    EXPECT_TRUE(matchesPattern("a.txt", "*.*"));
    EXPECT_TRUE(matchesPattern("LEEME", "*.*"));
    EXPECT_TRUE(matchesPattern("LEEME", "*"));
    EXPECT_TRUE(matchesPattern("LEEME", "*."));
    EXPECT_FALSE(matchesPattern("a.txt", "*."));
    EXPECT_FALSE(matchesPattern("Fotos.Viejas", "*."));
    EXPECT_TRUE(matchesPattern("Informe.TXT", "*.txt"));
    EXPECT_TRUE(matchesPattern("a.b.tmp", "*.tmp"));
    EXPECT_FALSE(matchesPattern("a.tmpx", "*.tmp"));
    EXPECT_TRUE(matchesPattern("ab.c", "a?.c"));
    EXPECT_FALSE(matchesPattern("a.c", "a?.c"));
    EXPECT_TRUE(matchesPattern("informe", "inf*.*"));
    EXPECT_TRUE(matchesPattern(".", "*.*"));
    EXPECT_TRUE(matchesPattern("..", "*."));
    EXPECT_FALSE(matchesPattern(".", "a*"));
    EXPECT_TRUE(matchesPattern("ñandú.TXT", "Ñ*"));
}

class Search : public ::testing::Test {
protected:
    void SetUp() override {
        tree.file("d/b.txt");
        tree.file("d/A.txt");
        tree.file("d/c");
        tree.file("d/.oculto");
        tree.folder("d/Sub");
        tree.folder("d/.git");
        tree.folder("d/z.dir");
    }
    HostTree tree;
};

TEST_F(Search, OrderWithoutRegardToCaseAndTheMasks) {
    EXPECT_EQ(searchAll(tree.win("d\\*.*"), 0), QStringList({"A.txt", "b.txt", "c"}));
    EXPECT_EQ(searchAll(tree.win("d\\*.*"), 16),
              QStringList({".", "..", "A.txt", "b.txt", "c", "Sub", "z.dir"}));
    EXPECT_EQ(searchAll(tree.win("d\\*.*"), 2), QStringList({".oculto", "A.txt", "b.txt", "c"}));
    EXPECT_EQ(searchAll(tree.win("d\\*.*"), 18),
              QStringList({".", "..", ".git", ".oculto", "A.txt", "b.txt", "c", "Sub", "z.dir"}));
    EXPECT_EQ(searchAll(tree.win("d\\*.*"), 32), QStringList({"A.txt", "b.txt", "c"}));
    EXPECT_EQ(searchAll(tree.win("d\\*."), 16), QStringList({".", "..", "c", "Sub"}));
    EXPECT_EQ(searchAll(tree.win("d\\"), 0), QStringList({"A.txt", "b.txt", "c"}));
}

TEST_F(Search, NamesWithoutWildcardsAndMissingFolders) {
    EXPECT_EQ(searchAll(tree.win("d\\a.TXT"), 0), QStringList({"A.txt"}));
    EXPECT_EQ(searchAll(tree.win("d\\sub"), 0), QStringList());
    EXPECT_EQ(searchAll(tree.win("d\\sub"), 16), QStringList({"Sub"}));
    EXPECT_EQ(searchAll(tree.win("nada\\*.*"), 16), QStringList());
    EXPECT_EQ(searchAll(tree.win("d\\A.txt\\*.*"), 16), QStringList());
    // The root of a drive has no "." and "..".
    EXPECT_FALSE(searchAll("C:\\*.*", 16).contains("."));
}

TEST_F(Search, ANewSearchAbandonsTheOneInProgress) {
    EXPECT_EQ(hostfs::findFirst(tree.win("d\\*.txt"), 0), QStringLiteral("A.txt"));
    EXPECT_EQ(hostfs::findFirst(tree.win("d\\c"), 0), QStringLiteral("c"));
    EXPECT_EQ(hostfs::findNext(), QString());
    EXPECT_EQ(hostfs::findNext(), QString());
}

TEST_F(Search, SymbolicLinksAreOrdinaryEntriesNeverEntered) {
    HostTree outside;
    outside.file("keep.txt");
    tree.link("d/enlace", outside.host());
    EXPECT_TRUE(searchAll(tree.win("d\\*.*"), 0).contains("enlace"));
    EXPECT_EQ(searchAll(tree.win("d\\enlace\\*.*"), 16), QStringList());
}

TEST_F(Search, TheCacheOfAnOperationSeesItsOwnChanges) {
    hostfs::OperationScope scope;
    EXPECT_EQ(searchAll(tree.win("d\\*.txt"), 0).size(), 2);
    hostfs::deleteFiles(tree.win("d\\b.txt"));
    hostfs::copyFile(tree.win("d\\c"), tree.win("d\\n.txt"));
    EXPECT_EQ(searchAll(tree.win("d\\*.txt"), 0), QStringList({"A.txt", "n.txt"}));
    hostfs::removeFolder(tree.win("d\\sub"));
    EXPECT_FALSE(searchAll(tree.win("d\\*.*"), 16).contains("Sub"));
}

TEST(OperationScope, ResolutionsFollowTheOperationsOwnChanges) {
    HostTree tree;
    tree.file("d/Sub/a.txt", "a");
    hostfs::OperationScope scope;
    EXPECT_EQ(hostOf(tree.win("D\\SUB\\A.TXT")), tree.host("d/Sub/a.txt"));
    EXPECT_EQ(hostOf(tree.win("d\\sub\\NUEVO.txt")), tree.host("d/Sub/NUEVO.txt"));
    hostfs::copyFile(tree.win("d\\sub\\a.txt"), tree.win("d\\sub\\Nuevo.txt"));
    EXPECT_EQ(hostOf(tree.win("d\\sub\\NUEVO.txt")), tree.host("d/Sub/Nuevo.txt"));
    // A moved folder takes its cached paths with it.
    EXPECT_EQ(hostfs::moveEntry(tree.win("d\\sub"), tree.win("d\\Otra")), 0);
    EXPECT_EQ(hostOf(tree.win("d\\sub\\a.txt")), tree.host("d/sub/a.txt"));
    EXPECT_EQ(hostOf(tree.win("d\\OTRA\\a.txt")), tree.host("d/Otra/a.txt"));
    EXPECT_FALSE(hostfs::folderExists(tree.win("d\\sub")));
    hostfs::makeFolder(tree.win("d\\sub"));
    EXPECT_TRUE(hostfs::folderExists(tree.win("d\\SUB")));
}

TEST(CopyFile, ReplacesAndKeepsModeButNeverOverwritesReadOnlyOrItself) {
    HostTree tree;
    tree.file("a.txt", "nuevo");
    tree.file("b.txt", "viejo");
    hostfs::copyFile(tree.win("A.TXT"), tree.win("b.txt"));
    EXPECT_EQ(tree.read("b.txt"), QByteArray("nuevo"));

    tree.file("ro.txt", "intacto");
    tree.readOnly("ro.txt");
    EXPECT_EQ(errorNumberOf([&] { hostfs::copyFile(tree.win("a.txt"), tree.win("ro.txt")); }),
              rt::err::PermissionDenied);
    EXPECT_EQ(tree.read("ro.txt"), QByteArray("intacto"));

    EXPECT_EQ(errorNumberOf([&] { hostfs::copyFile(tree.win("a.txt"), tree.win("A.txt")); }),
              rt::err::PermissionDenied);
    EXPECT_EQ(tree.read("a.txt"), QByteArray("nuevo"));

    hostfs::copyFile(tree.win("ro.txt"), tree.win("copia.txt"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(tree.host("copia.txt")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(QDir(tree.host()).entryList(QDir::Hidden | QDir::Files).filter(".~").size(), 0);
}

TEST(CopyFile, FailuresAndTheirNumbers) {
    HostTree tree;
    tree.file("a.txt");
    tree.folder("dir");
    EXPECT_EQ(errorNumberOf([&] { hostfs::copyFile(tree.win("no.txt"), tree.win("b.txt")); }),
              rt::err::FileNotFound);
    EXPECT_EQ(errorNumberOf([&] { hostfs::copyFile(tree.win("a.txt"), tree.win("no\\b.txt")); }),
              rt::err::PathNotFound);
    EXPECT_EQ(errorNumberOf([&] { hostfs::copyFile(tree.win("dir"), tree.win("b.txt")); }),
              rt::err::PathFileAccess);
    EXPECT_FALSE(tree.exists("b.txt"));
    EXPECT_FALSE(tree.exists("no"));
}

TEST(CopyFile, SpecialFilesAreNeitherReadNorWrittenThrough) {
    HostTree tree;
    tree.file("a.txt", "a");
    ASSERT_EQ(::mkfifo(QFile::encodeName(tree.host("fifo")).constData(), 0666), 0);
    const struct {
        const char* from;
        const char* to;
    } cases[] = {{"a.txt", "fifo"}, {"fifo", "b.txt"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
        // In a child with a time limit: a copy that blocks must not hang the tests.
        EXPECT_EQ(testing_support::runInChild(
                      [&] {
                          return errorNumberOf(
                              [&] { hostfs::copyFile(tree.win(c.from), tree.win(c.to)); });
                      },
                      testing_support::RunAs::Self, {}, 5),
                  rt::err::PermissionDenied);
    }
    EXPECT_FALSE(tree.exists("b.txt"));
}

TEST(CopyFile, AFullDiskKeepsTheOldCopyAndLeavesNoPartialFile) {
    HostTree tree;
    SmallDisk disk(tree, "disco", 64);
    if (!disk.mounted()) {
        GTEST_SKIP() << "mounting a tmpfs is refused here";
    }
    tree.file("grande.bin", QByteArray(256 * 1024, 'g'));
    tree.file("disco/grande.bin", "anterior");
    EXPECT_EQ(errorNumberOf(
                  [&] { hostfs::copyFile(tree.win("grande.bin"), tree.win("disco\\grande.bin")); }),
              rt::err::DiskFull);
    EXPECT_EQ(tree.read("disco/grande.bin"), QByteArray("anterior"));
    EXPECT_EQ(errorNumberOf(
                  [&] { hostfs::copyFile(tree.win("grande.bin"), tree.win("disco\\nuevo.bin")); }),
              rt::err::DiskFull);
    EXPECT_FALSE(tree.exists("disco/nuevo.bin"));
    EXPECT_EQ(tree.read("grande.bin").size(), 256 * 1024);
}

TEST(Folders, MakeAndRemove) {
    HostTree tree;
    hostfs::makeFolder(tree.win("nueva"));
    EXPECT_TRUE(hostfs::folderExists(tree.win("NUEVA")));
    EXPECT_EQ(errorNumberOf([&] { hostfs::makeFolder(tree.win("nueva")); }), rt::err::FileExists);
    EXPECT_EQ(errorNumberOf([&] { hostfs::makeFolder(tree.win("x\\y")); }), rt::err::PathNotFound);
    tree.file("nueva/f.txt");
    EXPECT_EQ(errorNumberOf([&] { hostfs::removeFolder(tree.win("nueva")); }),
              rt::err::PathFileAccess);
    hostfs::deleteFiles(tree.win("nueva\\f.txt"));
    hostfs::removeFolder(tree.win("Nueva"));
    EXPECT_FALSE(tree.exists("nueva"));
}

TEST(DeleteFiles, PatternsReadOnlyAndLinks) {
    HostTree tree;
    HostTree outside;
    outside.file("keep.txt", "k");
    tree.file("a.tmp");
    tree.file("b.TMP");
    tree.file("c.txt");
    tree.file(".oculto.tmp");
    tree.link("enlace.tmp", outside.host("keep.txt"));
    hostfs::deleteFiles(tree.win("*.tmp"));
    EXPECT_FALSE(tree.exists("a.tmp"));
    EXPECT_FALSE(tree.exists("b.TMP"));
    EXPECT_FALSE(tree.exists("enlace.tmp"));
    EXPECT_TRUE(tree.exists(".oculto.tmp"));
    EXPECT_TRUE(tree.exists("c.txt"));
    EXPECT_EQ(outside.read("keep.txt"), QByteArray("k"));
    EXPECT_EQ(errorNumberOf([&] { hostfs::deleteFiles(tree.win("*.tmp")); }),
              rt::err::FileNotFound);

    tree.readOnly("c.txt");
    EXPECT_EQ(errorNumberOf([&] { hostfs::deleteFiles(tree.win("c.txt")); }),
              rt::err::PathFileAccess);
    EXPECT_TRUE(tree.exists("c.txt"));
}

TEST(MoveEntry, RenamesWithoutReplacing) {
    HostTree tree;
    tree.file("a.txt", "a");
    tree.file("b.txt", "b");
    tree.file("dir/f.txt", "f");
    EXPECT_EQ(hostfs::moveEntry(tree.win("a.txt"), tree.win("B.TXT")), EEXIST);
    EXPECT_EQ(tree.read("a.txt"), QByteArray("a"));
    EXPECT_EQ(tree.read("b.txt"), QByteArray("b"));
    EXPECT_EQ(hostfs::moveEntry(tree.win("dir"), tree.win("otra")), 0);
    EXPECT_EQ(tree.read("otra/f.txt"), QByteArray("f"));
    EXPECT_EQ(hostfs::moveEntry(tree.win("no.txt"), tree.win("x.txt")), ENOENT);
    // A change of letter case only renames the entry itself.
    EXPECT_EQ(hostfs::moveEntry(tree.win("a.txt"), tree.win("A.TXT")), 0);
    EXPECT_EQ(tree.read("A.TXT"), QByteArray("a"));
    EXPECT_FALSE(tree.exists("a.txt"));
}

TEST(MoveEntry, AcrossFileSystemsFilesMoveFoldersDoNot) {
    HostTree tree;
    SmallDisk disk(tree, "disco", 256);
    if (!disk.mounted()) {
        GTEST_SKIP() << "mounting a tmpfs is refused here";
    }
    tree.file("a.txt", "a");
    tree.file("dir/f.txt", "f");
    EXPECT_EQ(hostfs::moveEntry(tree.win("a.txt"), tree.win("disco\\a.txt")), 0);
    EXPECT_EQ(tree.read("disco/a.txt"), QByteArray("a"));
    EXPECT_FALSE(tree.exists("a.txt"));
    EXPECT_EQ(hostfs::moveEntry(tree.win("dir"), tree.win("disco\\dir")), EXDEV);
    EXPECT_EQ(tree.read("dir/f.txt"), QByteArray("f"));
}

TEST(FileLength, SixtyFourBitsAndErrors) {
    HostTree tree;
    tree.file("vacio.bin", "");
    const QByteArray sparse = QFile::encodeName(tree.host("grande.bin"));
    const int fd = ::open(sparse.constData(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 3LL * 1024 * 1024 * 1024 + 5), 0);
    ::close(fd);
    EXPECT_EQ(hostfs::fileLength(tree.win("GRANDE.BIN")), 3LL * 1024 * 1024 * 1024 + 5);
    EXPECT_EQ(hostfs::fileLength(tree.win("vacio.bin")), 0);
    EXPECT_EQ(errorNumberOf([&] { hostfs::fileLength(tree.win("no.bin")); }),
              rt::err::FileNotFound);
    EXPECT_EQ(errorNumberOf([&] { hostfs::fileLength(tree.win("no\\a.bin")); }),
              rt::err::PathNotFound);
}

TEST(HostErrors, NumbersForHostErrors) {
    using hostfs::Action;
    EXPECT_EQ(hostfs::runtimeNumberFor(ENOSPC, Action::Write, "/x"), rt::err::DiskFull);
    EXPECT_EQ(hostfs::runtimeNumberFor(EACCES, Action::Write, "/x"), rt::err::PermissionDenied);
    EXPECT_EQ(hostfs::runtimeNumberFor(EACCES, Action::Remove, "/x"), rt::err::PathFileAccess);
    EXPECT_EQ(hostfs::runtimeNumberFor(EEXIST, Action::Write, "/x"), rt::err::FileExists);
    EXPECT_EQ(hostfs::runtimeNumberFor(EIO, Action::Read, "/x"), rt::err::DeviceIO);
    EXPECT_EQ(hostfs::runtimeNumberFor(ENOENT, Action::Read, "/x"), rt::err::FileNotFound);
    EXPECT_EQ(hostfs::runtimeNumberFor(ENOENT, Action::Read, "/no-such-folder/x"),
              rt::err::PathNotFound);
}

} // namespace
