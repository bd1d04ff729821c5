#include "zuListaTokens.h"

#include "errors/zuErrores_Sencillo.h"
#include "platform/runtime/CurrentError.h"
#include "platform/ui/Services.h"

#include <QLocale>

#include <limits>
#include <utility>

void zuListaTokens::setLista(QString sLista, const QString& sSep) {
    rt::withFailurePath(
        [&] {
            m_lista = sLista;
            m_count = 0;
            // Entries of an earlier list are dropped; the capacity stays, so
            // refilling a list of similar size allocates nothing.
            m_tokens.clear();
            QString rest = sLista;
            while (!rest.isEmpty()) {
                QString token = getToken(rest, sSep);
                if (token.isEmpty()) {
                    continue;
                }
                if (m_count == std::numeric_limits<std::int32_t>::max()) {
                    throw rt::RuntimeError(rt::err::Overflow);
                }
                m_tokens.append(std::move(token));
                ++m_count;
            }
        },
        [] { reportError(QStringLiteral("setLista")); });
}

QString zuListaTokens::item(std::int32_t Index) {
    QString result;
    rt::withFailurePath(
        [&] {
            if (Index < 0 || Index >= m_count) {
                ui::MsgBox(QStringLiteral("Función Item: Index fuera de rango"), ui::style::Critical);
                return;
            }
            result = m_tokens.at(Index);
        },
        [] { reportError(QStringLiteral("item")); });
    return result;
}

bool zuListaTokens::bExisteItem(QString sToken) {
    bool found = false;
    rt::withFailurePath(
        [&] {
            const QLocale locale = QLocale::system();
            const QString wanted = locale.toUpper(sToken);
            for (std::int32_t i = 0; i < m_count && !found; ++i) {
                found = locale.toUpper(m_tokens.at(i)) == wanted;
            }
        },
        [] { reportError(QStringLiteral("bExisteItem")); });
    return found;
}

QString zuListaTokens::getToken(QString& s, QString Sep) {
    QString token;
    rt::withFailurePath(
        [&] {
            const QStringView separators(Sep);
            const qsizetype n = s.size();
            for (qsizetype i = 0; i < n; ++i) {
                if (separators.contains(s.at(i))) {
                    token = s.left(i);
                    // Removing from the front of an unshared QString only
                    // moves its start, so peeling a long text token by token
                    // stays linear.
                    s.remove(0, i + 1);
                    return;
                }
            }
            token = std::exchange(s, QString());
        },
        [] { reportError(QStringLiteral("getToken")); });
    return token;
}
