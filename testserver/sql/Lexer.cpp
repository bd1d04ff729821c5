#include "Lexer.h"

namespace sql {

namespace {

bool isWordStart(QChar c) { return c.isLetter() || c == u'_' || c == u'@' || c == u'#'; }

bool isHexDigit(QChar c) {
    return c.isDigit() || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool isWordChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'@' || c == u'#' || c == u'$';
}

// Reads a quoted run starting after the opening quote at `i`; `close` doubled
// stands for itself.  Returns false when the text ends first.
bool readQuoted(const QString& s, qsizetype& i, QChar close, QString& out) {
    while (i < s.size()) {
        if (s[i] == close) {
            if (i + 1 < s.size() && s[i + 1] == close) {
                out += close;
                i += 2;
                continue;
            }
            ++i;
            return true;
        }
        out += s[i++];
    }
    return false;
}

} // namespace

LexResult tokenize(const QString& s) {
    LexResult result;
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n) {
        const QChar c = s[i];
        if (c.isSpace()) {
            ++i;
            continue;
        }
        if (c == u'-' && i + 1 < n && s[i + 1] == u'-') {
            while (i < n && s[i] != u'\n') {
                ++i;
            }
            continue;
        }
        if (c == u'/' && i + 1 < n && s[i + 1] == u'*') {
            int depth = 0;
            while (i < n) {
                if (s[i] == u'/' && i + 1 < n && s[i + 1] == u'*') {
                    ++depth;
                    i += 2;
                } else if (s[i] == u'*' && i + 1 < n && s[i + 1] == u'/') {
                    i += 2;
                    if (--depth == 0) {
                        break;
                    }
                } else {
                    ++i;
                }
            }
            if (depth > 0) {
                result.error = LexError{113, QStringLiteral("Missing end comment mark '*/'.")};
                return result;
            }
            continue;
        }
        Token t;
        if ((c == u'N' || c == u'n') && i + 1 < n && s[i + 1] == u'\'') {
            t.national = true;
            ++i;
        }
        if (s[i] == u'\'') {
            t.kind = Token::Kind::String;
            ++i;
            if (!readQuoted(s, i, u'\'', t.text)) {
                result.error = LexError{
                    105, QStringLiteral("Unclosed quotation mark after the character string '%1'.")
                             .arg(t.text)};
                return result;
            }
        } else if (c == u'[' || c == u'"') {
            t.kind = Token::Kind::QuotedIdent;
            ++i;
            if (!readQuoted(s, i, c == u'[' ? u']' : u'"', t.text)) {
                result.error = LexError{
                    105, QStringLiteral("Unclosed quotation mark after the character string '%1'.")
                             .arg(t.text)};
                return result;
            }
        } else if (c == u'0' && i + 1 < n && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
            // 0x01: a binary constant, as SUSER_SNAME takes a security id.
            t.kind = Token::Kind::Binary;
            i += 2;
            while (i < n && isHexDigit(s[i])) {
                t.text += s[i++].toUpper();
            }
        } else if (c.isDigit()) {
            t.kind = Token::Kind::Number;
            while (i < n && s[i].isDigit()) {
                t.text += s[i++];
            }
        } else if (isWordStart(c)) {
            t.kind = Token::Kind::Word;
            while (i < n && isWordChar(s[i])) {
                t.text += s[i++];
            }
        } else {
            t.kind = Token::Kind::Punct;
            t.text = c;
            ++i;
        }
        result.tokens.append(t);
    }
    result.tokens.append(Token{});
    return result;
}

} // namespace sql
