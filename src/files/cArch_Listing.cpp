// cArch: the directory listing.
#include "cArch.h"
#include "platform/hostfs/FolderListing.h"
#include "platform/hostfs/HostPath.h"
#include "platform/hostfs/Search.h"
#include "platform/runtime/RuntimeError.h"

#include <limits>
#include <optional>

namespace {

constexpr std::int16_t kMaxCount = std::numeric_limits<std::int16_t>::max();

// The first entry of a search, or nothing when the search cannot start: a
// folder that cannot be searched contributes nothing.
std::optional<hostfs::FoundEntry> firstOrNothing(const QByteArray& hostFolder, bool isDriveRoot,
                                                 const QString& pattern, std::int32_t mask) {
    try {
        return hostfs::findFirstEntryIn(hostFolder, isDriveRoot, pattern, mask);
    } catch (const rt::RuntimeError&) {
        return std::nullopt;
    }
}

QByteArray below(const QByteArray& folder, const QByteArray& name) {
    return folder.isEmpty() ? name : folder + '/' + name;
}

} // namespace

void cArch::ejecutaDir(const QString& dirBase, const QString& filtro, std::int32_t tipoArch,
                       std::int32_t modo) {
    // The walk reads each folder once however many searches touch it.
    hostfs::OperationScope scope;
    m_dirBase = dirBase;
    m_filtro = filtro;
    m_tipoArch = tipoArch;
    if (m_filtro.isEmpty()) {
        m_filtro = QStringLiteral("*.*");
    }
    m_dirBase = ponBarra(m_dirBase);
    m_nArchivos = 0;
    m_nCarpetas = 0;
    const hostfs::HostPath base = hostfs::resolve(m_dirBase);
    m_dirBaseHost = base.path;
    m_dirBaseEsRaiz = base.isDriveRoot;
    listaCarpeta(m_dirBase, QByteArray(), m_filtro, tipoArch, modo);
    if (modo == 1) {
        // The queue grows while it is walked: its count is read afresh.
        for (int i = 1; i <= m_nCarpetas; ++i) {
            const auto at = static_cast<std::size_t>(i);
            const QString carpeta = m_carpetas[at];
            const QByteArray rutaHost = m_carpetasHost[at];
            listaCarpeta(carpeta, rutaHost, m_filtro, tipoArch, 1);
        }
    }
}

void cArch::listaCarpeta(const QString& carpeta, const QByteArray& rutaHost, const QString& patron,
                         std::int32_t tipoArch, std::int32_t recursivo) {
    const QString folder = ponBarra(carpeta);
    // Every entry of one folder has the same relative folder.
    const QString rutaRel = dimeRutaRel(folder, m_dirBase);
    const bool base = rutaHost.isEmpty();
    const QByteArray hostFolder =
        base ? m_dirBaseHost
             : (m_dirBaseHost.endsWith('/') ? m_dirBaseHost : m_dirBaseHost + '/') + rutaHost;
    const bool root = base && m_dirBaseEsRaiz;
    for (auto entry = firstOrNothing(hostFolder, root, patron, tipoArch); entry;
         entry = hostfs::findNextEntry()) {
        anadeArchivo(entry->name, rutaRel, rutaHost, entry->hostName);
    }
    if (recursivo != 1) {
        return;
    }
    for (auto entry = firstOrNothing(hostFolder, root, QStringLiteral("*."), hostfs::attr::Folder);
         entry; entry = hostfs::findNextEntry()) {
        if (entry->name != u"." && entry->name != u"..") {
            anadeCarpeta(ponBarra(folder + entry->name), below(rutaHost, entry->hostName));
        }
    }
}

void cArch::anadeArchivo(const QString& nombre, const QString& rutaRel, const QByteArray& rutaHost,
                         const QByteArray& nombreHost) {
    if (m_nArchivos == kMaxCount) {
        throw rt::RuntimeError(rt::err::Overflow);
    }
    ++m_nArchivos;
    const auto size = static_cast<std::size_t>(m_nArchivos) + 1;
    m_nombres.resize(size);
    m_rutasRel.resize(size);
    m_rutasHost.resize(size);
    m_nombresHost.resize(size);
    m_nombres[m_nArchivos] = nombre;
    m_rutasRel[m_nArchivos] = rutaRel;
    m_rutasHost[m_nArchivos] = rutaHost;
    m_nombresHost[m_nArchivos] = nombreHost;
}

void cArch::anadeCarpeta(const QString& carpeta, const QByteArray& rutaHost) {
    if (m_nCarpetas == kMaxCount) {
        throw rt::RuntimeError(rt::err::Overflow);
    }
    ++m_nCarpetas;
    m_carpetas.resize(static_cast<std::size_t>(m_nCarpetas) + 1);
    m_carpetasHost.resize(static_cast<std::size_t>(m_nCarpetas) + 1);
    m_carpetas[m_nCarpetas] = carpeta;
    m_carpetasHost[m_nCarpetas] = rutaHost;
}

QString cArch::fNombre(std::int16_t Index) const {
    return (Index < 1 || Index > m_nArchivos) ? QString() : m_nombres[Index];
}

QString cArch::fNombreRelativo(std::int16_t Index) const {
    return (Index < 1 || Index > m_nArchivos) ? QString() : m_rutasRel[Index] + m_nombres[Index];
}

QString cArch::fNombreCompleto(std::int16_t Index) const {
    return (Index < 1 || Index > m_nArchivos) ? QString()
                                              : m_dirBase + m_rutasRel[Index] + m_nombres[Index];
}
