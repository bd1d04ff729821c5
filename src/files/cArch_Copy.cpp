// cArch: copying files and folders, creating chains of folders.
#include "Declaraciones.h"
#include "cArch.h"
#include "platform/hostfs/FileOps.h"
#include "platform/hostfs/FolderListing.h"
#include "platform/hostfs/Search.h"
#include "platform/runtime/CurrentError.h"
#include "platform/ui/ProgressSink.h"
#include "platform/ui/Services.h"
#include "text/zuListaTokens.h"

#include <QLocale>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// The second line of a copy's failure message.
QString failureText() {
    const rt::ErrorRecord& error = rt::currentError();
    return error.number == rt::err::DiskFull ? QStringLiteral("Disco Lleno.") : error.description;
}

} // namespace

bool cArch::CopiaFich(const QString& sOrig, const QString& sDest, bool bCrearDirs,
                      bool bSilencioso) {
    bool result = false;
    if (bCrearDirs) {
        creaDirs(sDest, true, bSilencioso);
    }
    rt::withFailurePath(
        [&] {
            hostfs::copyFile(sOrig, sDest);
            result = true;
        },
        [&] {
            if (!bSilencioso) {
                ui::MsgBox(QStringLiteral("Error copiando '") + sDest + QStringLiteral("'.") +
                               kCrLf + failureText(),
                           ui::style::Ok);
            }
        });
    return result;
}

// The failure path covers the whole walk, the existence tests included, so
// that every failure of the walk ends here with its message and false
// rather than escaping to the caller once a folder has been made.
bool cArch::creaDirs(const QString& sRuta, bool bNombreFich, bool bSilencioso) {
    bool result = false;
    rt::withFailurePath(
        [&] {
            const QString unidad = dimeUnidad(sRuta);
            if (unidad.isEmpty()) {
                if (!bSilencioso) {
                    ui::MsgBox(QStringLiteral("creaDirs... Ruta incorrecta: '") + sRuta + u'\'',
                               ui::style::Ok);
                }
                return;
            }
            // The character after the drive is taken to be "\" and skipped.
            QString rest = sRuta.mid(unidad.size() + 1);
            QString built = ponBarra(unidad);
            const QString barra = QStringLiteral("\\");
            zuListaTokens tokens;
            for (QString token = tokens.getToken(rest, barra); !token.isEmpty();
                 token = tokens.getToken(rest, barra)) {
                if (!rest.isEmpty() || !bNombreFich) {
                    built += ponBarra(token);
                    if (!hostfs::folderExists(built)) {
                        hostfs::makeFolder(built);
                    }
                }
            }
            result = true;
        },
        [&] {
            if (!bSilencioso) {
                ui::MsgBox(QStringLiteral("Error en creaDirs '") + sRuta + QStringLiteral("'.") +
                               kCrLf + failureText(),
                           ui::style::Ok);
            }
        });
    return result;
}

bool cArch::CopiaCarpeta(const QString& sOrig, const QString& sDest, std::int32_t modo,
                         bool bCrearDirs, bool bSilencioso, ui::ProgressSink* pBar) {
    bool result = false;
    // Source folders are read once, destination folders resolved once.
    hostfs::OperationScope scope;
    if (bCrearDirs) {
        creaDirs(sDest, false, bSilencioso);
    }
    rt::withFailurePath(
        [&] {
            ejecutaDir(sOrig, QStringLiteral("*.*"), hostfs::attr::Archive, modo);
            const int count = nArchivos();
            if (pBar) {
                pBar->setValue(0);
                pBar->setMaximum(static_cast<float>(count));
            }
            const QLocale locale = QLocale::system();
            const QString origUpper = locale.toUpper(sOrig);
            const qsizetype baseLength = ponBarra(sOrig).size();
            const QString destFolder = ponBarra(sDest);
            for (int i = 1; i <= count; ++i) {
                const QString full = fNombreCompleto(static_cast<std::int16_t>(i));
                const qsizetype p = locale.toUpper(full).indexOf(origUpper) + 1;
                const QString rel = full.mid(p + baseLength - 1);
                CopiaFich(full, destFolder + rel, bCrearDirs, bSilencioso);
                if (pBar) {
                    pBar->setValue(static_cast<float>(i));
                }
            }
            result = true;
        },
        [] { reportError(QStringLiteral("CopiaCarpeta")); });
    return result;
}
