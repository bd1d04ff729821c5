#include "HostTree.h"
#include "QStringPrinter.h"
#include "RecordingUi.h"
#include "files/cArch.h"
#include "platform/runtime/RuntimeError.h"

#include <gtest/gtest.h>

namespace {

using testing_support::HostTree;

struct Case {
    const char* argument;
    const char* expected;
};

QString q(const char* text) { return QString::fromUtf8(text); }

TEST(PathFunctions, PonBarraAndQuitaBarra) {
    cArch a;
    for (const Case& c :
         {Case{"C:\\Datos", "C:\\Datos\\"}, Case{"C:\\Datos\\", "C:\\Datos\\"}, Case{"C:", "C:\\"},
          Case{"", "\\"}, Case{"C:\\a\\\\", "C:\\a\\\\"}, Case{"C:/Datos/", "C:/Datos/\\"}}) {
        EXPECT_EQ(a.ponBarra(q(c.argument)), q(c.expected)) << c.argument;
    }
    for (const Case& c :
         {Case{"C:\\Datos\\", "C:\\Datos"}, Case{"C:\\", "C:"}, Case{"\\", ""},
          Case{"C:\\Datos", "C:\\Datos"}, Case{"", ""}, Case{"C:\\a\\\\", "C:\\a\\"}}) {
        EXPECT_EQ(a.quitaBarra(q(c.argument)), q(c.expected)) << c.argument;
    }
}

TEST(PathFunctions, DimeRutaRel) {
    cArch a;
    struct Rel {
        const char* ruta;
        const char* base;
        const char* expected;
    };
    for (const Rel& c :
         {Rel{"C:\\Datos\\Fotos", "C:\\Datos", "FOTOS\\"},
          Rel{"c:\\datos\\fotos\\viaje", "C:\\DATOS\\", "FOTOS\\VIAJE\\"},
          Rel{"C:\\Datos", "c:\\datos\\", ""}, Rel{"C:\\DatosViejos", "C:\\Datos", "-"},
          Rel{"D:\\Otros", "C:\\Datos", "-"}, Rel{"C:\\", "C:\\Datos", "-"}, Rel{"", "", ""},
          Rel{"C:\\Datos\\ñu", "C:\\datos", "ÑU\\"}}) {
        EXPECT_EQ(a.dimeRutaRel(q(c.ruta), q(c.base)), q(c.expected)) << c.ruta << " | " << c.base;
    }
}

TEST(PathFunctions, DimeUnidad) {
    cArch a;
    for (const Case& c : {Case{"C:\\Datos\\a.txt", "C:"}, Case{"c:a.txt", "c:"},
                          Case{"\\\\servidor\\datos\\a.txt", "\\\\servidor\\datos"},
                          Case{"\\\\servidor", "\\\\servidor\\"}, Case{"\\\\", "\\\\\\"},
                          Case{"\\Datos\\a.txt", ""}, Case{"X", ""}, Case{"", ""}}) {
        EXPECT_EQ(a.dimeUnidad(q(c.argument)), q(c.expected)) << c.argument;
    }
}

TEST(PathFunctions, DimeCarpetaAndDimeArchivo) {
    cArch a;
    for (const Case& c :
         {Case{"C:\\Datos\\a.txt", "C:\\Datos\\"}, Case{"C:\\Datos\\", "C:\\Datos\\"},
          Case{"a.txt", "\\"}, Case{"C:a.txt", "\\"}, Case{"", "\\"}}) {
        EXPECT_EQ(a.dimeCarpeta(q(c.argument)), q(c.expected)) << c.argument;
    }
    for (const Case& c : {Case{"C:\\Datos\\a.txt", "a.txt"}, Case{"C:\\Datos\\", ""},
                          Case{"a.txt", ""}, Case{"C:/Datos/a.txt", ""}}) {
        EXPECT_EQ(a.dimeArchivo(q(c.argument)), q(c.expected)) << c.argument;
    }
}

TEST(PathFunctions, DimeCarpetaAndDimeArchivoOverflowBeyond32767Characters) {
    cArch a;
    const QString longest = QString(32766, u'a') + u'\\';
    EXPECT_EQ(a.dimeCarpeta(longest), longest);
    const QString tooLong = longest + u'b';
    for (auto call : {&cArch::dimeCarpeta, &cArch::dimeArchivo}) {
        try {
            (a.*call)(tooLong);
            ADD_FAILURE() << "no overflow";
        } catch (const rt::RuntimeError& e) {
            EXPECT_EQ(e.number(), rt::err::Overflow);
        }
    }
}

TEST(PathFunctions, DimeNombreAndDimeExtensionSplitAtTheFirstDot) {
    cArch a;
    for (const Case& c : {Case{"informe.final.doc", "informe"}, Case{"LEEME", "LEEME"},
                          Case{"C:\\v.1\\a.txt", "C:\\v"}}) {
        EXPECT_EQ(a.dimeNombreArchivo(q(c.argument)), q(c.expected)) << c.argument;
    }
    for (const Case& c : {Case{"informe.final.doc", "final.doc"}, Case{"LEEME", ""}, Case{"a.", ""},
                          Case{"C:\\v.1\\a.txt", "1\\a.txt"}}) {
        EXPECT_EQ(a.dimeExtensionArchivo(q(c.argument)), q(c.expected)) << c.argument;
    }
}

TEST(PathFunctions, BExisteUsesTheSearchAndItsMask) {
    HostTree tree;
    tree.file("Datos/a.txt");
    tree.folder("Datos/Fotos");
    cArch a;
    EXPECT_TRUE(a.bExiste(tree.win("datos\\A.TXT"), 0));
    EXPECT_FALSE(a.bExiste(tree.win("Datos\\Fotos"), 0));
    EXPECT_TRUE(a.bExiste(tree.win("Datos\\fotos"), 16));
    EXPECT_TRUE(a.bExiste(tree.win("Datos\\*.txt"), 0));
    EXPECT_FALSE(a.bExiste(tree.win("Datos\\*.jpg"), 16));
    EXPECT_FALSE(a.bExiste(tree.win("Nada\\a.txt"), 16));
    EXPECT_TRUE(a.bExiste(tree.win("Datos\\"), 16));
}

} // namespace
