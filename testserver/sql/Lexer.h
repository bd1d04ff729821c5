#pragma once
// Splits T-SQL text into words, quoted identifiers, literals and
// punctuation, dropping white space and comments.  Used by the statement
// recogniser only.

#include <QList>
#include <QString>

#include <optional>

namespace sql {

struct Token {
    enum class Kind { Word, QuotedIdent, String, Number, Binary, Punct, End };
    Kind kind = Kind::End;
    // The value: unquoted for identifiers and strings, the hex digits (upper
    // case, without 0x) for a binary constant.
    QString text;
    bool national = false; // N'...'
};

struct LexError {
    int number;
    QString text;
};

struct LexResult {
    QList<Token> tokens; // always ends with an End token
    std::optional<LexError> error;
};

LexResult tokenize(const QString& sql);

} // namespace sql
