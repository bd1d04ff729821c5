#include "HostTree.h"
#include "QStringPrinter.h"
#include "RecordingUi.h"
#include "files/Declaraciones.h"
#include "files/cArch.h"
#include "platform/runtime/RegionalSettings.h"
#include "platform/runtime/RuntimeError.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using testing_support::HostTree;
using testing_support::RecordingUi;

TEST(Ren, RenamesButNeverReplaces) {
    HostTree tree;
    tree.file("a.txt", "a");
    tree.file("b.txt", "b");
    tree.file("dir/f.txt", "f");
    cArch a;
    EXPECT_FALSE(a.Ren(tree.win("a.txt"), tree.win("b.txt")));
    EXPECT_EQ(lastDllError(), 183);
    EXPECT_EQ(tree.read("a.txt"), QByteArray("a"));
    EXPECT_EQ(tree.read("b.txt"), QByteArray("b"));
    EXPECT_TRUE(a.Ren(tree.win("DIR"), tree.win("nuevo")));
    EXPECT_EQ(lastDllError(), 0);
    EXPECT_EQ(tree.read("nuevo/f.txt"), QByteArray("f"));
    EXPECT_FALSE(a.Ren(tree.win("no.txt"), tree.win("c.txt")));
    EXPECT_EQ(lastDllError(), 2);
}

TEST(Borra, PatternsNothingMatchingAndReadOnly) {
    HostTree tree;
    tree.file("tmp/a.tmp");
    tree.file("tmp/b.tmp");
    tree.file("tmp/c.TMP");
    tree.file("tmp/d.txt", "d");
    cArch a;
    EXPECT_TRUE(a.Borra(tree.win("tmp\\*.tmp")));
    EXPECT_FALSE(tree.exists("tmp/a.tmp") || tree.exists("tmp/b.tmp") || tree.exists("tmp/c.TMP"));
    EXPECT_TRUE(tree.exists("tmp/d.txt"));
    EXPECT_FALSE(a.Borra(tree.win("tmp\\*.tmp")));
    EXPECT_FALSE(a.Borra(tree.win("no\\x.txt")));
    tree.readOnly("tmp/d.txt");
    EXPECT_FALSE(a.Borra(tree.win("tmp\\d.txt")));
    EXPECT_EQ(tree.read("tmp/d.txt"), QByteArray("d"));
}

TEST(VaciaCarpeta, RemovesEverythingBelowAndTheFolder) {
    HostTree tree;
    tree.file("t/a.txt");
    tree.file("t/sub/b.txt");
    tree.folder("t/sub/vacia");
    tree.folder("otra");
    cArch a;
    EXPECT_TRUE(a.vaciaCarpeta(tree.win("T")));
    EXPECT_FALSE(tree.exists("t"));
    EXPECT_TRUE(tree.exists("otra"));
    tree.folder("e");
    EXPECT_TRUE(a.vaciaCarpeta(tree.win("e\\")));
    EXPECT_FALSE(tree.exists("e"));
}

TEST(VaciaCarpeta, AMissingFolderTouchesNothingNotEvenTheListing) {
    HostTree tree;
    tree.file("d/a.txt");
    cArch a;
    a.ejecutaDir(tree.win("d"), "*.*", 0, 0);
    EXPECT_TRUE(a.vaciaCarpeta(tree.win("no")));
    EXPECT_EQ(a.nArchivos(), 1);
    EXPECT_EQ(a.fNombre(1), QStringLiteral("a.txt"));
}

TEST(VaciaCarpeta, WhatCannotGoStaysAndTheResultIsFalse) {
    HostTree tree;
    tree.file("t/a.txt");
    tree.file("t/.oculto", "h");
    tree.file("t/ro/solo.txt", "r");
    tree.readOnly("t/ro/solo.txt");
    tree.file("t/Fotos.Viejas/v.jpg", "v");
    tree.file("t/sub/b.txt");
    cArch a;
    EXPECT_FALSE(a.vaciaCarpeta(tree.win("t")));
    EXPECT_FALSE(tree.exists("t/a.txt"));
    EXPECT_FALSE(tree.exists("t/sub"));
    EXPECT_EQ(tree.read("t/.oculto"), QByteArray("h"));
    EXPECT_EQ(tree.read("t/ro/solo.txt"), QByteArray("r"));
    EXPECT_EQ(tree.read("t/Fotos.Viejas/v.jpg"), QByteArray("v"));
}

TEST(VaciaCarpeta, AFilePathStays) {
    HostTree tree;
    tree.file("f.txt", "f");
    cArch a;
    EXPECT_FALSE(a.vaciaCarpeta(tree.win("f.txt")));
    EXPECT_EQ(tree.read("f.txt"), QByteArray("f"));
}

TEST(VaciaCarpeta, LinksAreRemovedNeverFollowed) {
    HostTree tree;
    HostTree outside;
    outside.file("keep.txt", "k");
    outside.file("sub/deep.txt", "d");
    tree.file("t/a.txt");
    tree.link("t/enlace", outside.host());
    tree.link("t/archivo.lnk", outside.host("keep.txt"));
    cArch a;
    EXPECT_TRUE(a.vaciaCarpeta(tree.win("t")));
    EXPECT_FALSE(tree.exists("t"));
    EXPECT_EQ(outside.read("keep.txt"), QByteArray("k"));
    EXPECT_EQ(outside.read("sub/deep.txt"), QByteArray("d"));
}

TEST(VaciaCarpeta, ADriveRootOrAnEmptyTextIsRefused) {
    cArch a;
    EXPECT_FALSE(a.vaciaCarpeta(""));
    EXPECT_FALSE(a.vaciaCarpeta("C:"));
    EXPECT_FALSE(a.vaciaCarpeta("C:\\"));
    EXPECT_FALSE(a.vaciaCarpeta("\\"));
    EXPECT_TRUE(QFile::exists("/tmp"));
}

class TamFichero : public ::testing::Test {
protected:
    void sized(const QString& name, long long size) {
        const QByteArray path = QFile::encodeName(tree.host(name));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
    }
    HostTree tree;
    cArch a;
};

TEST_F(TamFichero, EachUnitUnderBothSettings) {
    sized("mega.bin", 1048576);
    sized("mil.bin", 1000);
    sized("vacio.bin", 0);
    sized("raro.bin", 1536 * 1024 + 10);
    for (auto settings :
         {rt::ScopedRegionalSettings::spanish, rt::ScopedRegionalSettings::english}) {
        const rt::ScopedRegionalSettings pinned = settings();
        EXPECT_EQ(a.TamFichero(tree.win("mega.bin")), 1024);
        EXPECT_EQ(a.TamFichero(tree.win("mega.bin"), 1), 1);
        EXPECT_EQ(a.TamFichero(tree.win("mega.bin"), 2), 0);
        EXPECT_EQ(a.TamFichero(tree.win("mil.bin"), 0), 1);
        EXPECT_EQ(a.TamFichero(tree.win("raro.bin"), 1), 1.5);
        for (int unit : {0, 1, 2}) {
            EXPECT_EQ(a.TamFichero(tree.win("vacio.bin"), unit), 0);
        }
    }
}

TEST_F(TamFichero, FilesOfTwoGigabytesAndMoreGetTheirRealSize) {
    sized("grande.bin", 5LL * 1024 * 1024 * 1024 + 300 * 1024 * 1024);
    EXPECT_EQ(a.TamFichero(tree.win("grande.bin"), 2), 5.29);
    EXPECT_EQ(a.TamFichero(tree.win("grande.bin"), 1), 5420);
    EXPECT_EQ(a.TamFichero(tree.win("grande.bin"), 0), 5550080);
    // 1.5 TiB: more kilobytes than the field shows (ten digits).
    sized("enorme.bin", 1649267441664LL);
    EXPECT_EQ(a.TamFichero(tree.win("enorme.bin"), 0), 1610612736);
    EXPECT_EQ(a.TamFichero(tree.win("enorme.bin"), 2), 1536);
}

TEST_F(TamFichero, OtherUnitsGiveZeroAndMissingFilesAreErrors) {
    EXPECT_EQ(a.TamFichero(tree.win("no.bin"), 3), 0);
    EXPECT_EQ(a.TamFichero(tree.win("no.bin"), -1), 0);
    for (int unit : {0, 1, 2}) {
        try {
            a.TamFichero(tree.win("no.bin"), unit);
            ADD_FAILURE() << "no error for unit " << unit;
        } catch (const rt::RuntimeError& e) {
            EXPECT_EQ(e.number(), rt::err::FileNotFound);
        }
    }
}

} // namespace
