// cArch: the directory listing.
#include "cArch.h"
#include "platform/hostfs/FolderListing.h"
#include "platform/hostfs/Search.h"
#include "platform/runtime/RuntimeError.h"

#include <limits>

namespace {

constexpr std::int16_t kMaxCount = std::numeric_limits<std::int16_t>::max();

// The first name of a search, or nothing when the search cannot start: a
// folder that cannot be searched contributes nothing.
QString firstOrNothing(const QString& pattern, std::int32_t mask) {
    try {
        return hostfs::findFirst(pattern, mask);
    } catch (const rt::RuntimeError&) {
        return {};
    }
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
    listaCarpeta(m_dirBase, m_filtro, tipoArch, modo);
    if (modo == 1) {
        // The queue grows while it is walked: its count is read afresh.
        for (int i = 1; i <= m_nCarpetas; ++i) {
            const QString carpeta = m_carpetas[static_cast<std::size_t>(i)];
            listaCarpeta(carpeta, m_filtro, tipoArch, 1);
        }
    }
}

void cArch::listaCarpeta(const QString& carpeta, const QString& patron, std::int32_t tipoArch,
                         std::int32_t recursivo) {
    const QString folder = ponBarra(carpeta);
    // Every entry of one folder has the same relative folder.
    const QString rutaRel = dimeRutaRel(folder, m_dirBase);
    for (QString name = firstOrNothing(folder + patron, tipoArch); !name.isEmpty();
         name = hostfs::findNext()) {
        anadeArchivo(name, rutaRel);
    }
    if (recursivo != 1) {
        return;
    }
    for (QString name = firstOrNothing(folder + QStringLiteral("*."), hostfs::attr::Folder);
         !name.isEmpty(); name = hostfs::findNext()) {
        if (name != u"." && name != u"..") {
            anadeCarpeta(ponBarra(folder + name));
        }
    }
}

void cArch::anadeArchivo(const QString& nombre, const QString& rutaRel) {
    if (m_nArchivos == kMaxCount) {
        throw rt::RuntimeError(rt::err::Overflow);
    }
    ++m_nArchivos;
    m_nombres.resize(static_cast<std::size_t>(m_nArchivos) + 1);
    m_rutasRel.resize(static_cast<std::size_t>(m_nArchivos) + 1);
    m_nombres[m_nArchivos] = nombre;
    m_rutasRel[m_nArchivos] = rutaRel;
}

void cArch::anadeCarpeta(const QString& carpeta) {
    if (m_nCarpetas == kMaxCount) {
        throw rt::RuntimeError(rt::err::Overflow);
    }
    ++m_nCarpetas;
    m_carpetas.resize(static_cast<std::size_t>(m_nCarpetas) + 1);
    m_carpetas[m_nCarpetas] = carpeta;
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
