#pragma once
// How the management objects write a name into T-SQL, so that no name can
// change the statement: an identifier bracket-quoted with "]" doubled, a
// text as an N'…' literal with "'" doubled.

#include <QString>

namespace dmo {

inline QString bracketQuoted(QString name) {
    return u'[' + name.replace(u']', QStringLiteral("]]")) + u']';
}

inline QString quotedText(QString text) {
    return QStringLiteral("N'") + text.replace(u'\'', QStringLiteral("''")) + u'\'';
}

} // namespace dmo
