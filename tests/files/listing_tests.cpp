#include "HostTree.h"
#include "QStringPrinter.h"
#include "cArchFields.h"
#include "files/cArch.h"
#include "platform/runtime/RuntimeError.h"

#include <QStringList>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using testing_support::HostTree;

struct Listed {
    QString nombre;
    QString relativo;
    QString completo;
    friend bool operator==(const Listed&, const Listed&) = default;
    friend void PrintTo(const Listed& l, std::ostream* os) {
        *os << l.nombre.toStdString() << " | " << l.relativo.toStdString() << " | "
            << l.completo.toStdString();
    }
};

std::vector<Listed> listed(const cArch& a) {
    std::vector<Listed> entries;
    for (int i = 1; i <= a.nArchivos(); ++i) {
        const auto index = static_cast<std::int16_t>(i);
        entries.push_back({a.fNombre(index), a.fNombreRelativo(index), a.fNombreCompleto(index)});
    }
    return entries;
}

QStringList names(const cArch& a) {
    QStringList result;
    for (int i = 1; i <= a.nArchivos(); ++i) {
        result << a.fNombre(static_cast<std::int16_t>(i));
    }
    return result;
}

class Datos : public ::testing::Test {
protected:
    void SetUp() override {
        tree.file("Datos/a.txt");
        tree.file("Datos/Fotos/b.jpg");
        tree.file("Datos/Fotos/Viaje/c.jpg");
    }
    HostTree tree;
    cArch a;
};

TEST_F(Datos, TheExampleListingBreadthFirstWithUpperCaseRelativeParts) {
    const QString base = tree.win("Datos");
    a.ejecutaDir(base, QString(), 0, 1);
    const std::vector<Listed> expected = {
        {"a.txt", "a.txt", base + "\\a.txt"},
        {"b.jpg", "FOTOS\\b.jpg", base + "\\FOTOS\\b.jpg"},
        {"c.jpg", "FOTOS\\VIAJE\\c.jpg", base + "\\FOTOS\\VIAJE\\c.jpg"},
    };
    EXPECT_EQ(listed(a), expected);
    EXPECT_EQ(cArchFields::carpetas(a),
              QStringList({base + "\\Fotos\\", base + "\\Fotos\\Viaje\\"}));
    EXPECT_EQ(cArchFields::filtro(a), QStringLiteral("*.*"));
    EXPECT_EQ(cArchFields::dirBase(a), base + "\\");
}

TEST_F(Datos, TrailingBackslashOrNotGivesTheSameListing) {
    a.ejecutaDir(tree.win("Datos"), "*.*", 0, 1);
    const std::vector<Listed> without = listed(a);
    a.ejecutaDir(tree.win("Datos\\"), "*.*", 0, 1);
    EXPECT_EQ(listed(a), without);
    EXPECT_FALSE(a.fNombreCompleto(1).contains("\\\\"));
}

TEST_F(Datos, ModeOtherThanOneListsTheBaseAlone) {
    a.ejecutaDir(tree.win("Datos"), "*.*", 0, 0);
    EXPECT_EQ(names(a), QStringList({"a.txt"}));
    EXPECT_EQ(cArchFields::nCarpetas(a), 0);
    a.ejecutaDir(tree.win("Datos"), "*.*", 0, 2);
    EXPECT_EQ(names(a), QStringList({"a.txt"}));
}

TEST_F(Datos, WithMaskSixteenFoldersAndTheSpecialEntriesAppear) {
    a.ejecutaDir(tree.win("Datos"), "*.*", 16, 1);
    EXPECT_EQ(names(a), QStringList({".", "..", "a.txt", "Fotos", ".", "..", "b.jpg", "Viaje", ".",
                                     "..", "c.jpg"}));
    EXPECT_EQ(a.fNombreRelativo(8), QStringLiteral("FOTOS\\Viaje"));
    EXPECT_EQ(cArchFields::tipoArch(a), 16);
}

TEST_F(Datos, DottedFoldersAreNotEnteredAndDotlessFilesAreQueued) {
    tree.file("Datos/Fotos.Viejas/d.jpg");
    tree.file("Datos/LEEME");
    tree.file("Datos/.oculta/e.jpg");
    a.ejecutaDir(tree.win("Datos"), "*.*", 0, 1);
    EXPECT_EQ(names(a), QStringList({"a.txt", "LEEME", "b.jpg", "c.jpg"}));
    EXPECT_TRUE(cArchFields::carpetas(a).contains(tree.win("Datos\\LEEME\\")));
    EXPECT_EQ(cArchFields::carpetas(a).size(), 3);
}

TEST_F(Datos, ReadsOutsideTheListingAreEmpty) {
    a.ejecutaDir(tree.win("Datos"), "", 0, 1);
    for (const std::int16_t index : {std::int16_t(0), std::int16_t(-1), std::int16_t(4)}) {
        EXPECT_EQ(a.fNombre(index), QString());
        EXPECT_EQ(a.fNombreCompleto(index), QString());
        EXPECT_EQ(a.fNombreRelativo(index), QString());
    }
    tree.folder("Vacia");
    a.ejecutaDir(tree.win("Vacia"), "*.*", 0, 1);
    EXPECT_EQ(a.nArchivos(), 0);
    EXPECT_EQ(a.fNombre(1), QString());
    a.ejecutaDir(tree.win("NoExiste"), "*.*", 16, 1);
    EXPECT_EQ(a.nArchivos(), 0);
}

TEST_F(Datos, PatternsAndTheLetterCaseOfFolders) {
    tree.file("Datos/fotos2/B.JPG");
    a.ejecutaDir(tree.win("DATOS"), "*.JPG", 0, 1);
    EXPECT_EQ(names(a), QStringList({"b.jpg", "B.JPG", "c.jpg"}));
    EXPECT_EQ(a.fNombreRelativo(2), QStringLiteral("FOTOS2\\B.JPG"));
    EXPECT_EQ(a.fNombreCompleto(2), tree.win("DATOS\\FOTOS2\\B.JPG"));
}

TEST(Listing, AnEmptyBaseListsTheRootOfTheDrive) {
    cArch a;
    a.ejecutaDir("", "*.*", 16, 0);
    EXPECT_EQ(cArchFields::dirBase(a), QStringLiteral("\\"));
    EXPECT_TRUE(names(a).contains("tmp"));
    EXPECT_FALSE(names(a).contains("."));
}

TEST(Listing, TheEntryAfter32767IsAnOverflowAndTheRestStaysReadable) {
    HostTree tree;
    tree.folder("muchos");
    const QByteArray folder = QFile::encodeName(tree.host("muchos"));
    for (int i = 0; i < 32768; ++i) {
        const QByteArray path = folder + "/f" + QByteArray::number(i);
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    cArch a;
    try {
        a.ejecutaDir(tree.win("muchos"), "*.*", 0, 0);
        ADD_FAILURE() << "no overflow";
    } catch (const rt::RuntimeError& e) {
        EXPECT_EQ(e.number(), rt::err::Overflow);
    }
    EXPECT_EQ(a.nArchivos(), 32767);
    EXPECT_FALSE(a.fNombre(32767).isEmpty());
}

} // namespace
