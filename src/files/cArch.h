#pragma once
// cArch: the file utility object.  One object bundles a folder picker and a
// file picker, a directory listing kept inside the object (read back by a
// 1-based index), functions on path texts in Windows notation, and file
// operations: copying files and folders, creating chains of folders,
// renaming, deleting, emptying a folder and measuring a file.
//
// Paths use "\" and drive letters or \\server\share; the host file system
// behind them is platform/hostfs.  Counts and indices are 16-bit, so a
// listing holds at most 32767 entries (more is the overflow error 6).

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

class CommonDialog;
namespace hostfs {
class FolderTree;
}
namespace ui {
class ProgressSink;
}

class cArch {
public:
    // Pickers.
    QString BrowseFolder(const QString& szDialogTitle = QStringLiteral("Seleccione Carpeta"));
    QString BrowseFile(CommonDialog* m_CommonDialog, const QString& sFiltro = QString(),
                       std::int32_t Opciones = 0);

    // The directory listing.  modo 1 walks every subfolder breadth-first.
    void ejecutaDir(const QString& dirBase, const QString& filtro, std::int32_t tipoArch,
                    std::int32_t modo);
    std::int16_t nArchivos() const { return m_nArchivos; }
    // Outside 1 to nArchivos: the empty text.
    QString fNombre(std::int16_t Index) const;
    QString fNombreCompleto(std::int16_t Index) const;
    QString fNombreRelativo(std::int16_t Index) const;

    // Path functions (bExiste searches the file system; the others are pure).
    QString ponBarra(const QString& sDir) const;
    QString quitaBarra(const QString& sDir) const;
    bool bExiste(const QString& sNombre, std::int32_t tipoArch);
    QString dimeRutaRel(const QString& sRuta, const QString& sRutaBase) const;

    // Copying.
    bool CopiaFich(const QString& sOrig, const QString& sDest, bool bCrearDirs,
                   bool bSilencioso = false);
    bool CopiaCarpeta(const QString& sOrig, const QString& sDest, std::int32_t modo,
                      bool bCrearDirs, bool bSilencioso = true, ui::ProgressSink* pBar = nullptr);
    bool creaDirs(const QString& sRuta, bool bNombreFich, bool bSilencioso = false);

    QString dimeUnidad(const QString& sRuta) const;
    QString dimeCarpeta(const QString& sArchivo) const;
    QString dimeArchivo(const QString& sArchivo) const;
    QString dimeNombreArchivo(const QString& sArchivo) const;
    QString dimeExtensionArchivo(const QString& sArchivo) const;

    // Rename, delete, empty folder, file size.
    bool Ren(const QString& sOrigen, const QString& sDestino);
    bool Borra(const QString& sArch);
    bool vaciaCarpeta(const QString& sDir);
    // UnidadMedida 0 kilobytes, 1 megabytes, 2 gigabytes; any other: 0.
    double TamFichero(const QString& sFich, std::int32_t UnidadMedida = 0);

private:
    // Lets tests read the fields of the listing.
    friend struct cArchFields;

    // rutaHost: the folder's host path below the base, host names joined by
    // "/" ("" for the base itself).
    void listaCarpeta(const QString& carpeta, const QByteArray& rutaHost, const QString& patron,
                      std::int32_t tipoArch, std::int32_t recursivo);
    void anadeCarpeta(const QString& carpeta, const QByteArray& rutaHost);
    void anadeArchivo(const QString& nombre, const QString& rutaRel, const QByteArray& rutaHost,
                      const QByteArray& nombreHost);
    // The operations on listed files act on the entry the listing found.
    bool borraListado(hostfs::FolderTree& arbol, std::int16_t Index);
    // The destination folder found for the last listed folder copied from;
    // a folder's files are listed together, so each is found once.
    struct CarpetaDestino {
        QByteArray rutaHost;
        QByteArray carpeta;
        bool hallada = false;
    };
    void copiaListado(hostfs::FolderTree& origen, std::int16_t Index, const QByteArray& destinoHost,
                      const QString& destino, bool bCrearDirs, bool bSilencioso,
                      CarpetaDestino& ultima);
    void copiaDesde(hostfs::FolderTree& origen, std::size_t at, const QByteArray& carpeta);

    QString m_dirBase;
    QString m_filtro;
    std::int32_t m_tipoArch = 0;
    std::int16_t m_nArchivos = 0;
    std::vector<QString> m_nombres;
    std::vector<QString> m_rutasRel;
    std::int16_t m_nCarpetas = 0;
    std::vector<QString> m_carpetas;
    // Beside the texts, where the listing found each entry on the host: the
    // base folder, and per entry its folder below the base and its name,
    // byte for byte.  A name may hold "\" or differ from another only in
    // letter case, so the texts do not lead back to the entry.
    QByteArray m_dirBaseHost;
    bool m_dirBaseEsRaiz = false;
    std::vector<QByteArray> m_rutasHost;
    std::vector<QByteArray> m_nombresHost;
    std::vector<QByteArray> m_carpetasHost;
};
