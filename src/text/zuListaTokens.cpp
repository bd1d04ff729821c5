#include "zuListaTokens.h"

#include "errors/zuErrores_Sencillo.h"
#include "platform/runtime/CurrentError.h"
#include "platform/runtime/RegionalSettings.h"
#include "platform/ui/Services.h"

#include <limits>
#include <string_view>
#include <utility>

namespace {

// The position of the first character of s that occurs in separators, or -1.
qsizetype firstSeparator(QStringView s, QStringView separators) {
    if (separators.size() == 1) {
        return s.indexOf(separators.front());
    }
    const std::u16string_view text(reinterpret_cast<const char16_t*>(s.utf16()), s.size());
    const std::u16string_view set(reinterpret_cast<const char16_t*>(separators.utf16()),
                                  separators.size());
    const std::size_t at = text.find_first_of(set);
    return at == std::u16string_view::npos ? -1 : static_cast<qsizetype>(at);
}

// getToken's step on a view: the first token of rest, which then starts
// after the separator that ended it (or is empty when none did).
QStringView takeToken(QStringView& rest, QStringView separators) {
    const qsizetype at = firstSeparator(rest, separators);
    if (at < 0) {
        return std::exchange(rest, QStringView());
    }
    const QStringView token = rest.first(at);
    rest = rest.sliced(at + 1);
    return token;
}

} // namespace

void zuListaTokens::setLista(QString sLista, const QString& sSep) {
    rt::withFailurePath(
        [&] {
            m_lista = sLista;
            m_count = 0;
            // Entries of an earlier list are dropped; the capacity stays, so
            // refilling a list of similar size allocates nothing.
            m_tokens.clear();
            // The tokens getToken would take off a copy of the text, one by
            // one, without copying the text: only stored tokens are copied.
            QStringView rest(sLista);
            while (!rest.isEmpty()) {
                const QStringView token = takeToken(rest, sSep);
                if (token.isEmpty()) {
                    continue;
                }
                if (m_count == std::numeric_limits<std::int32_t>::max()) {
                    throw rt::RuntimeError(rt::err::Overflow);
                }
                m_tokens.append(token.toString());
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
                ui::MsgBox(QStringLiteral("Función Item: Index fuera de rango"),
                           ui::style::Critical);
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
            const QLocale locale = rt::regionalLocale();
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
            QStringView rest(s);
            token = takeToken(rest, Sep).toString();
            // Removing from the front of an unshared QString only moves its
            // start, so peeling a long text token by token stays linear.
            s.remove(0, s.size() - rest.size());
        },
        [] { reportError(QStringLiteral("getToken")); });
    return token;
}
