#pragma once
// Read access to the listing fields of a cArch for tests.
#include "files/cArch.h"

#include <QStringList>

struct cArchFields {
    static QString filtro(const cArch& a) { return a.m_filtro; }
    static QString dirBase(const cArch& a) { return a.m_dirBase; }
    static std::int32_t tipoArch(const cArch& a) { return a.m_tipoArch; }
    static std::int16_t nCarpetas(const cArch& a) { return a.m_nCarpetas; }
    static QStringList carpetas(const cArch& a) {
        QStringList queued;
        for (int i = 1; i <= a.m_nCarpetas; ++i) {
            queued << a.m_carpetas[static_cast<std::size_t>(i)];
        }
        return queued;
    }
};
