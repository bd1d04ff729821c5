#include "Parameters.h"

namespace sql {

namespace {

bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'@' || c == u'#' || c == u'$';
}

// Where the quoted part or comment that begins at `i` ends (one past it),
// or `i` when none begins there.
qsizetype skipQuoted(const QString& s, qsizetype i) {
    const QChar c = s[i];
    const QChar next = i + 1 < s.size() ? s[i + 1] : QChar();
    if (c == u'-' && next == u'-') {
        const qsizetype end = s.indexOf(u'\n', i);
        return end < 0 ? s.size() : end;
    }
    if (c == u'/' && next == u'*') {
        int depth = 0;
        for (qsizetype j = i; j + 1 < s.size(); ++j) {
            if (s[j] == u'/' && s[j + 1] == u'*') {
                ++depth;
                ++j;
            } else if (s[j] == u'*' && s[j + 1] == u'/') {
                ++j;
                if (--depth == 0) {
                    return j + 1;
                }
            }
        }
        return s.size();
    }
    const QChar close = c == u'\'' ? u'\'' : c == u'[' ? u']' : c == u'"' ? u'"' : QChar();
    if (close.isNull()) {
        return i;
    }
    for (qsizetype j = i + 1; j < s.size(); ++j) {
        if (s[j] == close) {
            if (j + 1 < s.size() && s[j + 1] == close) {
                ++j; // doubled: part of the text
                continue;
            }
            return j + 1;
        }
    }
    return s.size();
}

} // namespace

QString withParameters(const QString& statement, const ParameterLiterals& literals) {
    QString out;
    out.reserve(statement.size());
    qsizetype i = 0;
    while (i < statement.size()) {
        const qsizetype quotedEnd = skipQuoted(statement, i);
        if (quotedEnd > i) {
            out += QStringView(statement).mid(i, quotedEnd - i);
            i = quotedEnd;
            continue;
        }
        if (statement[i] != u'@' || (i + 1 < statement.size() && statement[i + 1] == u'@')) {
            // @@SPID and its kind are functions, not parameters.
            qsizetype j = i + 1;
            if (statement[i] == u'@') {
                while (j < statement.size() && isNameChar(statement[j])) {
                    ++j;
                }
            }
            out += QStringView(statement).mid(i, j - i);
            i = j;
            continue;
        }
        qsizetype j = i + 1;
        while (j < statement.size() && isNameChar(statement[j])) {
            ++j;
        }
        const QStringView name = QStringView(statement).mid(i, j - i);
        QString replacement = name.toString();
        for (const auto& [parameter, literal] : literals) {
            if (name.compare(parameter, Qt::CaseInsensitive) == 0) {
                replacement = literal;
                break;
            }
        }
        out += replacement;
        i = j;
    }
    return out;
}

QStringList declaredParameters(const QString& declarations) {
    QStringList names;
    int depth = 0;
    bool expectName = true;
    for (qsizetype i = 0; i < declarations.size(); ++i) {
        const QChar c = declarations[i];
        if (c == u'(') {
            ++depth;
        } else if (c == u')') {
            --depth;
        } else if (c == u',' && depth == 0) {
            expectName = true;
        } else if (c == u'@' && expectName) {
            qsizetype j = i + 1;
            while (j < declarations.size() && isNameChar(declarations[j])) {
                ++j;
            }
            names << declarations.mid(i, j - i);
            expectName = false;
            i = j - 1;
        }
    }
    return names;
}

QString textLiteral(const QString& text) {
    return QStringLiteral("N'") + QString(text).replace(u'\'', QStringLiteral("''")) + u'\'';
}

} // namespace sql
