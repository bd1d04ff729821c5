// Tarvelo: shows the one window; closing it ends the program.  There is no
// command line and nothing is read or stored.

#include "SecretHygiene.h"
#include "platform/ui/QtDialogs.h"
#include "platform/ui/QtServices.h"
#include "window/DialogFont.h"
#include "window/frmIni.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char** argv) {
    app::keepSecretsInMemory();

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

    // Controls without a font of their own use the classic dialog font.
    window::installDialogFont();

    ui::QtServices services;
    ui::install(&services);
    ui::QtDialogs choosers;
    ui::installDialogs(&choosers);

    frmIni window;
    window.show();
    return app.exec();
}
