// cArch: rename, delete, empty a folder, file size.
#include "Declaraciones.h"
#include "cArch.h"
#include "platform/hostfs/FileOps.h"
#include "platform/hostfs/FolderListing.h"
#include "platform/hostfs/HostPath.h"
#include "platform/hostfs/Search.h"
#include "platform/runtime/CurrentError.h"
#include "text/Formato.h"
#include "text/NumberText.h"

#include <cmath>

namespace {

bool removeFolderQuietly(const QString& path) {
    return rt::withFailurePath([&] { hostfs::removeFolder(path); }, [] {});
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

bool cArch::vaciaCarpeta(const QString& sDir) {
    // An empty text or a bare drive would have the listing below walk the
    // whole drive from its root (ponBarra turns both into a root), while the
    // existence test looks at the working folder.  Emptying a drive root is
    // never what a caller of this operation means: it is refused.
    if (hostfs::resolve(ponBarra(sDir)).isDriveRoot) {
        return false;
    }
    hostfs::OperationScope scope;
    bool result = true;
    if (!bExiste(sDir, hostfs::attr::Folder)) {
        return true;
    }
    ejecutaDir(sDir, QStringLiteral("*.*"), hostfs::attr::Normal, 1);
    for (int i = 1; i <= nArchivos(); ++i) {
        if (!Borra(fNombreCompleto(static_cast<std::int16_t>(i)))) {
            result = false;
        }
    }
    ejecutaDir(sDir, QStringLiteral("*.*"), hostfs::attr::Folder, 1);
    // Breadth-first, so walking backwards removes every folder after the
    // folders below it.
    for (int i = nArchivos(); i >= 1; --i) {
        const QString name = fNombre(static_cast<std::int16_t>(i));
        if (name != u"." && name != u".." &&
            !removeFolderQuietly(fNombreCompleto(static_cast<std::int16_t>(i)))) {
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
