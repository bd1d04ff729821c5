// Tarvelo: shows the one window; closing it ends the program.  Besides
// --help and --version there is no command line, and nothing is read or
// stored.

#include "CommandLine.h"
#include "SecretHygiene.h"
#include "TerminationSignals.h"
#include "platform/connection/PrivateConf.h"
#include "platform/runtime/Utf8Locale.h"
#include "platform/ui/OffUiThread.h"
#include "platform/ui/QtDialogs.h"
#include "platform/ui/QtServices.h"
#include "window/CertificateQuestion.h"
#include "window/DialogFont.h"
#include "window/frmIni.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    app::keepSecretsInMemory();
    rt::useUtf8WhenNoLocaleIsSet();
    if (const std::optional<int> answered = answerCommandLine(argc, argv)) {
        return *answered;
    }
    // FREETDSCONF may change only while the program has one thread.
    try {
        connection::usePrivateFreeTdsConf();
    } catch (const odbc::Error& e) {
        // Every connection will say the same; the window still opens.
        std::fprintf(stderr, "tarvelo: %s\n", qPrintable(e.description()));
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvelo"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tarvelo"));
    app::quitOnTerminationSignals();

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

    connection::setCertificateQuestion(window::askToTrustCertificate);

    frmIni window;
    window.show();
    const int status = app.exec();
    // A load abandoned by closing the window may still wait for its server:
    // the program ends without tearing down what that work still uses.
    connection::removePrivateFreeTdsConf();
    if (ui::workStillRunning()) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
