// cArch: copying files and folders, creating chains of folders.
#include "Declaraciones.h"
#include "cArch.h"
#include "platform/hostfs/FileOps.h"
#include "platform/hostfs/FolderListing.h"
#include "platform/hostfs/FolderTree.h"
#include "platform/hostfs/HostPath.h"
#include "platform/hostfs/Search.h"
#include "platform/runtime/CurrentError.h"
#include "platform/runtime/RegionalSettings.h"
#include "platform/ui/ProgressSink.h"
#include "platform/ui/Services.h"
#include "text/zuListaTokens.h"

#include <QByteArrayList>
#include <QFile>
#include <QLocale>
#include <unistd.h>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// The second line of a copy's failure message.
QString failureText() {
    const rt::ErrorRecord& error = rt::currentError();
    return error.number == rt::err::DiskFull ? QStringLiteral("Disco Lleno.") : error.description;
}

// A copy's failure message, two lines, unless the caller asked for silence.
void showUnlessSilent(bool silent, const QString& text) {
    if (!silent) {
        ui::MsgBox(text + kCrLf + failureText(), ui::style::Ok);
    }
}

// The destination folders of a listed file: its folders below the source,
// in upper case, as the relative folder of the listing has them.
QStringList upperFolders(const QByteArray& hostFolder) {
    QStringList names;
    if (hostFolder.isEmpty()) {
        return names;
    }
    const QLocale locale = rt::regionalLocale();
    for (const QByteArray& part : hostFolder.split('/')) {
        names << locale.toUpper(QFile::decodeName(part));
    }
    return names;
}

class OpenFile {
public:
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile() { ::close(fd_); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

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
            showUnlessSilent(bSilencioso,
                             QStringLiteral("Error copiando '") + sDest + QStringLiteral("'."));
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
            showUnlessSilent(bSilencioso,
                             QStringLiteral("Error en creaDirs '") + sRuta + QStringLiteral("'."));
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
            const QLocale locale = rt::regionalLocale();
            const QString origUpper = locale.toUpper(sOrig);
            const qsizetype baseLength = ponBarra(sOrig).size();
            const QString destFolder = ponBarra(sDest);
            const QByteArray destHost = hostfs::resolve(destFolder).path;
            hostfs::FolderTree origen(m_dirBaseHost);
            CarpetaDestino ultima;
            for (int i = 1; i <= count; ++i) {
                const QString full = fNombreCompleto(static_cast<std::int16_t>(i));
                const qsizetype p = locale.toUpper(full).indexOf(origUpper) + 1;
                const QString rel = full.mid(p + baseLength - 1);
                copiaListado(origen, static_cast<std::int16_t>(i), destHost, destFolder + rel,
                             bCrearDirs, bSilencioso, ultima);
                if (pBar) {
                    pBar->setValue(static_cast<float>(i));
                }
            }
            result = true;
        },
        [] { reportError(QStringLiteral("CopiaCarpeta")); });
    return result;
}

// CopiaFich for a listed file: it is read from the entry the listing found
// and written to the same place below the destination, found folder by
// folder, so that no name can lead outside either folder.  Messages and
// results are CopiaFich's, with the destination as its text.
void cArch::copiaDesde(hostfs::FolderTree& origen, std::size_t at, const QByteArray& carpeta) {
    struct stat st {};
    const OpenFile in(origen.openFile(m_rutasHost[at], m_nombresHost[at], st));
    hostfs::copyOpenFile(in.get(), st, carpeta, m_nombresHost[at]);
}

void cArch::copiaListado(hostfs::FolderTree& origen, std::int16_t Index,
                         const QByteArray& destinoHost, const QString& destino, bool bCrearDirs,
                         bool bSilencioso, CarpetaDestino& ultima) {
    const auto at = static_cast<std::size_t>(Index);
    if (ultima.hallada && ultima.rutaHost == m_rutasHost[at]) {
        rt::withFailurePath([&] { copiaDesde(origen, at, ultima.carpeta); },
                            [&] {
                                showUnlessSilent(bSilencioso, QStringLiteral("Error copiando '") +
                                                                  destino + QStringLiteral("'."));
                            });
        return;
    }
    ultima = CarpetaDestino{m_rutasHost[at], {}, false};
    const QStringList carpetas = upperFolders(m_rutasHost[at]);
    if (bCrearDirs) {
        rt::withFailurePath([&] { hostfs::folderBelow(destinoHost, carpetas, true); },
                            [&] {
                                showUnlessSilent(bSilencioso,
                                                 QStringLiteral("Error en creaDirs '") + destino +
                                                     QStringLiteral("'."));
                            });
    }
    rt::withFailurePath(
        [&] {
            const QByteArray folder = hostfs::folderBelow(destinoHost, carpetas, false);
            ultima.carpeta = folder;
            ultima.hallada = true;
            copiaDesde(origen, at, folder);
        },
        [&] {
            showUnlessSilent(bSilencioso,
                             QStringLiteral("Error copiando '") + destino + QStringLiteral("'."));
        });
}
