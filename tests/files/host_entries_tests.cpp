// The tree operations act on the entries the listing found, whatever the
// names on disk: "\" inside a name, names that differ only in letter case,
// a link beside a folder of the same name, names that are not UTF-8.
#include "ChildProcess.h"
#include "HostTree.h"
#include "QStringPrinter.h"
#include "files/cArch.h"

#include <QFile>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using testing_support::giveToNobody;
using testing_support::HostTree;
using testing_support::RunAs;
using testing_support::runInChild;

void rawFile(const HostTree& tree, const QByteArray& relative, const QByteArray& content) {
    const QByteArray path = QFile::encodeName(tree.host()) + '/' + relative;
    QFile f;
    ASSERT_TRUE(
        f.open(::fopen(path.constData(), "w"), QIODevice::WriteOnly, QFile::AutoCloseHandle));
    f.write(content);
}

QByteArray rawRead(const HostTree& tree, const QByteArray& relative) {
    QFile f;
    FILE* file = ::fopen((QFile::encodeName(tree.host()) + '/' + relative).constData(), "r");
    if (!file || !f.open(file, QIODevice::ReadOnly, QFile::AutoCloseHandle)) {
        return "<missing>";
    }
    return f.readAll();
}

// One fault of the issue: a tree built in `inside` (the operation's folders)
// and `outside` (what it must never touch), the operation, its expected
// result and what must hold afterwards.
struct Case {
    const char* fault;
    std::function<void(const HostTree& inside, const HostTree& outside)> build;
    std::function<bool(cArch& a, const HostTree& inside)> operation;
    bool expected;
    std::function<void(const HostTree& inside, const HostTree& outside)> check;
    // Who runs it: the tests' own user, nobody as well, or nobody alone
    // (a read-only folder holds nothing back from root).
    enum Who { Self, SelfAndNobody, Nobody } who = Self;
};

// Runs a case as the tests' own user and, where permissions matter, again
// on a fresh tree as nobody.
void run(const Case& c) {
    const bool root = ::geteuid() == 0;
    for (RunAs as : {RunAs::Self, RunAs::Nobody}) {
        if ((as == RunAs::Self && c.who == Case::Nobody && root) ||
            (as == RunAs::Nobody && (c.who == Case::Self || !root))) {
            continue;
        }
        SCOPED_TRACE(std::string(c.fault) + (as == RunAs::Nobody ? " (nobody)" : ""));
        HostTree inside;
        HostTree outside;
        c.build(inside, outside);
        int result = 0;
        if (as == RunAs::Nobody) {
            ASSERT_TRUE(giveToNobody(inside.host()) && giveToNobody(outside.host()));
            result = runInChild(
                [&] {
                    cArch a;
                    return c.operation(a, inside) ? 1 : 0;
                },
                RunAs::Nobody);
        } else {
            cArch a;
            result = c.operation(a, inside) ? 1 : 0;
        }
        EXPECT_EQ(result, c.expected ? 1 : 0);
        c.check(inside, outside);
        ::chmod(QFile::encodeName(inside.host("t")).constData(), 0755);
    }
}

TEST(VaciaCarpetaActsOnListedEntries, EachFault) {
    const Case cases[] = {
        {"a name holding \\..\\ reaches the parent",
         [](const HostTree& in, const HostTree&) {
             in.file("victima.txt", "v");
             in.folder("t/a");
             rawFile(in, "t/a\\..\\..\\victima.txt", "x");
         },
         [](cArch& a, const HostTree& in) { return a.vaciaCarpeta(in.win("t")); }, true,
         [](const HostTree& in, const HostTree&) {
             EXPECT_EQ(in.read("victima.txt"), QByteArray("v"));
             EXPECT_FALSE(in.exists("t"));
         }},
        {"an undeletable link beside the real folder, in upper case",
         [](const HostTree& in, const HostTree& out) {
             out.file("f.txt", "out");
             in.file("t/data/f.txt", "in");
             in.link("t/DATA", out.host());
             ::chmod(QFile::encodeName(in.host("t")).constData(), 0555);
         },
         [](cArch& a, const HostTree& in) { return a.vaciaCarpeta(in.win("t")); }, false,
         [](const HostTree& in, const HostTree& out) {
             EXPECT_EQ(out.read("f.txt"), QByteArray("out"));
             EXPECT_FALSE(in.exists("t/data/f.txt"));
         },
         Case::Nobody},
        {"names that are not UTF-8 and decode alike",
         [](const HostTree& in, const HostTree&) {
             in.folder("t");
             rawFile(in, "t/bad\xff.txt", "ff");
             rawFile(in, "t/bad\xfe.txt", "fe");
         },
         [](cArch& a, const HostTree& in) { return a.vaciaCarpeta(in.win("t")); }, true,
         [](const HostTree& in, const HostTree&) { EXPECT_FALSE(in.exists("t")); }},
    };
    for (const Case& c : cases) {
        run(c);
    }
}

TEST(VaciaCarpetaActsOnListedEntries, DotsThatResolveToTheRootAreRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a throwaway root folder needs root";
    }
    HostTree root;
    root.folder("tmp");
    root.file("keep.txt", "k");
    const int result = runInChild(
        [] {
            cArch a;
            return a.vaciaCarpeta("C:\\tmp\\..") ? 1 : 0;
        },
        RunAs::InRoot, QFile::encodeName(root.host()));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(root.read("keep.txt"), QByteArray("k"));
    EXPECT_TRUE(root.exists("tmp"));
}

bool copySrcToDst(cArch& a, const HostTree& in) {
    return a.CopiaCarpeta(in.win("s1\\s2\\src"), in.win("d1\\d2\\dst"), 1, true);
}

TEST(CopiaCarpetaActsOnListedEntries, EachFault) {
    const Case cases[] = {
        {"a name holding \\..\\ reads and writes outside",
         [](const HostTree& in, const HostTree&) {
             in.file("s1/esc.txt", "source's outside");
             in.folder("s1/s2/src/a");
             rawFile(in, "s1/s2/src/a\\..\\..\\..\\esc.txt", "inside");
             in.file("d1/esc.txt", "keep");
         },
         copySrcToDst, true,
         [](const HostTree& in, const HostTree&) {
             EXPECT_EQ(in.read("d1/esc.txt"), QByteArray("keep"));
             EXPECT_EQ(rawRead(in, "d1/d2/dst/a\\..\\..\\..\\esc.txt"), QByteArray("inside"));
         }},
        {"a link beside the real folder, in upper case",
         [](const HostTree& in, const HostTree& out) {
             out.file("f.txt", "out");
             in.file("s1/s2/src/data/f.txt", "in");
             in.link("s1/s2/src/DATA", out.host());
         },
         copySrcToDst, true,
         [](const HostTree& in, const HostTree&) {
             EXPECT_EQ(in.read("d1/d2/dst/DATA/f.txt"), QByteArray("in"));
         },
         Case::SelfAndNobody},
        {"case-twin folders",
         [](const HostTree& in, const HostTree&) {
             in.file("s1/s2/src/sub/solo.txt", "solo");
             in.file("s1/s2/src/SUB/otro.txt", "otro");
         },
         copySrcToDst, true,
         [](const HostTree& in, const HostTree&) {
             EXPECT_EQ(in.read("d1/d2/dst/SUB/solo.txt"), QByteArray("solo"));
             EXPECT_EQ(in.read("d1/d2/dst/SUB/otro.txt"), QByteArray("otro"));
         }},
        {"names that are not UTF-8 and decode alike",
         [](const HostTree& in, const HostTree&) {
             in.folder("s1/s2/src");
             rawFile(in, "s1/s2/src/bad\xff.txt", "ff");
             rawFile(in, "s1/s2/src/bad\xfe.txt", "fe");
         },
         copySrcToDst, true,
         [](const HostTree& in, const HostTree&) {
             EXPECT_EQ(rawRead(in, "d1/d2/dst/bad\xff.txt"), QByteArray("ff"));
             EXPECT_EQ(rawRead(in, "d1/d2/dst/bad\xfe.txt"), QByteArray("fe"));
         }},
    };
    for (const Case& c : cases) {
        run(c);
    }
}

TEST(BorraTakesOneEntryPerName, CaseTwins) {
    HostTree tree;
    tree.file("t/a.txt", "a");
    tree.file("t/A.txt", "A");
    cArch a;
    EXPECT_FALSE(a.Borra(tree.win("t\\A.TXT")));
    EXPECT_TRUE(tree.exists("t/a.txt") && tree.exists("t/A.txt"));
    EXPECT_TRUE(a.Borra(tree.win("t\\A.txt")));
    EXPECT_EQ(tree.read("t/a.txt"), QByteArray("a"));
    EXPECT_FALSE(tree.exists("t/A.txt"));
}

} // namespace
