// cArch: rename, delete, empty a folder, file size.
#include "Declaraciones.h"
#include "cArch.h"
#include "platform/hostfs/FileOps.h"
#include "platform/hostfs/FolderListing.h"
#include "platform/hostfs/FolderTree.h"
#include "platform/hostfs/HostPath.h"
#include "platform/hostfs/Search.h"
#include "platform/runtime/CurrentError.h"
#include "text/Formato.h"
#include "text/NumberText.h"

#include <cmath>
#include <cstdlib>

namespace {

bool removeFolderQuietly(const QString& path) {
    return rt::withFailurePath([&] { hostfs::removeFolder(path); }, [] {});
}

// Whether the folder text leads, once its "." and ".." are resolved, to a
// drive root or to the host's root: an empty text or a bare drive would
// have the listing walk the whole drive, and "C:\tmp\.." is the root too.
// Emptying a root is never what a caller of vaciaCarpeta means.
bool namesARoot(const QString& folder) {
    const hostfs::HostPath resolved = hostfs::resolve(folder);
    if (resolved.isDriveRoot) {
        return true;
    }
    char* real = ::realpath(resolved.path.constData(), nullptr);
    const bool root = real && QByteArray(real) == "/";
    std::free(real);
    return root;
}

struct SizeUnit {
    double divisor;
    std::int16_t decimals;
};

} // namespace

bool cArch::Ren(const QString& sOrigen, const QString& sDestino) {
    return MoveFileA(sOrigen, sDestino) != 0;
}

bool cArch::Borra(const QString& sArch) {
    return rt::withFailurePath([&] { hostfs::deleteFiles(sArch); }, [] {});
}

bool cArch::borraListado(hostfs::FolderTree& arbol, std::int16_t Index) {
    const auto at = static_cast<std::size_t>(Index);
    return rt::withFailurePath([&] { arbol.removeFile(m_rutasHost[at], m_nombresHost[at]); },
                               [] {});
}

// Deletes what the listings found, entry by entry, through the folder tree
// opened at the listed base: never through a link, never outside it.
bool cArch::vaciaCarpeta(const QString& sDir) {
    if (namesARoot(ponBarra(sDir))) {
        return false;
    }
    hostfs::OperationScope scope;
    bool result = true;
    if (!bExiste(sDir, hostfs::attr::Folder)) {
        return true;
    }
    ejecutaDir(sDir, QStringLiteral("*.*"), hostfs::attr::Normal, 1);
    {
        hostfs::FolderTree arbol(m_dirBaseHost);
        for (int i = 1; i <= nArchivos(); ++i) {
            if (!borraListado(arbol, static_cast<std::int16_t>(i))) {
                result = false;
            }
        }
    }
    ejecutaDir(sDir, QStringLiteral("*.*"), hostfs::attr::Folder, 1);
    hostfs::FolderTree arbol(m_dirBaseHost);
    // Breadth-first, so walking backwards removes every folder after the
    // folders below it.
    for (int i = nArchivos(); i >= 1; --i) {
        const auto at = static_cast<std::size_t>(i);
        const QString name = m_nombres[at];
        if (name != u"." && name != u".." &&
            !rt::withFailurePath([&] { arbol.removeFolder(m_rutasHost[at], m_nombresHost[at]); },
                                 [] {})) {
            result = false;
        }
    }
    if (!removeFolderQuietly(sDir)) {
        result = false;
    }
    return result;
}

double cArch::TamFichero(const QString& sFich, std::int32_t UnidadMedida) {
    static constexpr SizeUnit kUnits[] = {{1024.0, 0}, {1048576.0, 2}, {1073741824.0, 2}};
    if (UnidadMedida < 0 || UnidadMedida > 2) {
        return 0;
    }
    const SizeUnit unit = kUnits[UnidadMedida];
    // The real 64-bit length: a 32-bit one would be wrong from 2 GiB on.
    const double value = static_cast<double>(hostfs::fileLength(sFich)) / unit.divisor;
    const QString text =
        formateaCampo(rt::Variant(value), 11, unit.decimals, QStringLiteral("D"), true);
    const double shown = text::readNumber(text);
    // A size wider than the field (from about a terabyte in kilobytes) comes
    // back cut, as another number; it is rounded here as the field rounds.
    const double step = unit.decimals == 0 ? 1.0 : 0.01;
    if (std::abs(shown - value) > step) {
        return std::round(value / step) * step;
    }
    return shown;
}
