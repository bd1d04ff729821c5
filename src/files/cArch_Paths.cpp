// cArch: functions on path texts.
#include "cArch.h"
#include "platform/hostfs/Search.h"
#include "platform/runtime/RegionalSettings.h"
#include "platform/runtime/RuntimeError.h"
#include "text/zuListaTokens.h"

#include <QLocale>
#include <limits>

namespace {

constexpr QChar kBarra = u'\\';

// dimeCarpeta and dimeArchivo scan with a 16-bit position.
void checkScanLength(const QString& text) {
    if (text.size() > std::numeric_limits<std::int16_t>::max()) {
        throw rt::RuntimeError(rt::err::Overflow);
    }
}

} // namespace

QString cArch::ponBarra(const QString& sDir) const {
    return sDir.endsWith(kBarra) ? sDir : sDir + kBarra;
}

QString cArch::quitaBarra(const QString& sDir) const {
    return sDir.endsWith(kBarra) ? sDir.chopped(1) : sDir;
}

bool cArch::bExiste(const QString& sNombre, std::int32_t tipoArch) {
    return !hostfs::findFirst(sNombre, tipoArch).isEmpty();
}

QString cArch::dimeRutaRel(const QString& sRuta, const QString& sRutaBase) const {
    const QLocale locale = rt::regionalLocale();
    const QString r = locale.toUpper(ponBarra(sRuta));
    const QString b = locale.toUpper(ponBarra(sRutaBase));
    if (r == b) {
        return {};
    }
    if (r.startsWith(b)) {
        return r.mid(b.size());
    }
    return QStringLiteral("-");
}

QString cArch::dimeUnidad(const QString& sRuta) const {
    if (sRuta.size() < 2) {
        return {};
    }
    if (sRuta.startsWith(QStringLiteral("\\\\"))) {
        QString rest = sRuta.mid(2);
        zuListaTokens tokens;
        const QString server = tokens.getToken(rest, QString(kBarra));
        const QString share = tokens.getToken(rest, QString(kBarra));
        return QStringLiteral("\\\\") + server + kBarra + share;
    }
    if (sRuta[1] == u':') {
        return sRuta.left(2);
    }
    return {};
}

QString cArch::dimeCarpeta(const QString& sArchivo) const {
    checkScanLength(sArchivo);
    const qsizetype last = sArchivo.lastIndexOf(kBarra);
    return ponBarra(last < 0 ? QString() : sArchivo.left(last + 1));
}

QString cArch::dimeArchivo(const QString& sArchivo) const {
    checkScanLength(sArchivo);
    const qsizetype last = sArchivo.lastIndexOf(kBarra);
    return last < 0 ? QString() : sArchivo.mid(last + 1);
}

QString cArch::dimeNombreArchivo(const QString& sArchivo) const {
    const qsizetype dot = sArchivo.indexOf(u'.');
    return dot < 0 ? sArchivo : sArchivo.left(dot);
}

QString cArch::dimeExtensionArchivo(const QString& sArchivo) const {
    const qsizetype dot = sArchivo.indexOf(u'.');
    return dot < 0 ? QString() : sArchivo.mid(dot + 1);
}
