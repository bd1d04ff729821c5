// Tarvelo: shows the one window; closing it ends the program.  There is no
// command line and nothing is read or stored.

#include "window/frmIni.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvelo"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tarvelo"));

    // The program speaks Spanish whatever the session's language, so the
    // standard buttons read "Sí", "No" and "Aceptar".
    QTranslator qtSpanish;
    if (qtSpanish.load(QStringLiteral("qtbase_es"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(&qtSpanish);
    }

    // Controls without a font of their own use the classic dialog font, whose
    // narrow metrics the window's captions were measured for.  Where it is
    // missing, faces of the same width stand in before the system's
    // sans-serif face, so that captions such as "Contraseña" fit their labels.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica")});
    QFont dialogFont(QStringLiteral("MS Sans Serif"));
    dialogFont.setStyleHint(QFont::SansSerif);
    dialogFont.setPointSizeF(8.25);
    QApplication::setFont(dialogFont);

    frmIni window;
    window.show();
    return app.exec();
}
