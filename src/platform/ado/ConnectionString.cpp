#include "ConnectionString.h"

#include "Errors.h"

namespace ado {

namespace {

QString canonicalKey(const QString& key) {
    static const std::map<QString, QString> synonyms = {
        {QStringLiteral("DATA SOURCE"), QStringLiteral("SERVER")},
        {QStringLiteral("ADDRESS"), QStringLiteral("SERVER")},
        {QStringLiteral("ADDR"), QStringLiteral("SERVER")},
        {QStringLiteral("NETWORK ADDRESS"), QStringLiteral("SERVER")},
        {QStringLiteral("UID"), QStringLiteral("USER ID")},
        {QStringLiteral("USER"), QStringLiteral("USER ID")},
        {QStringLiteral("PWD"), QStringLiteral("PASSWORD")},
        {QStringLiteral("INITIAL CATALOG"), QStringLiteral("DATABASE")},
    };
    const QString upper = key.simplified().toUpper();
    const auto found = synonyms.find(upper);
    return found == synonyms.end() ? upper : found->second;
}

[[noreturn]] void malformed() {
    throw rt::RuntimeError(err::kUnspecified,
                           QStringLiteral("El formato de la cadena de inicialización no "
                                          "cumple la especificación OLE DB."));
}

class Parser {
public:
    explicit Parser(const QString& text) : text_(text) {}

    std::map<QString, QString> pairs() {
        std::map<QString, QString> result;
        for (;;) {
            skip([](QChar c) { return c.isSpace() || c == u';'; });
            if (atEnd()) {
                return result;
            }
            const QString key = readKey();
            result[canonicalKey(key)] = readValue();
        }
    }

private:
    bool atEnd() const { return pos_ >= text_.size(); }
    QChar peek(qsizetype ahead = 0) const {
        return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : QChar();
    }

    template <typename Predicate> void skip(Predicate p) {
        while (!atEnd() && p(text_[pos_])) {
            ++pos_;
        }
    }

    // Up to the "=" that ends the key; "==" stands for an "=" in the key.
    QString readKey() {
        QString key;
        for (;;) {
            if (atEnd() || peek() == u';') {
                malformed();
            }
            if (peek() == u'=') {
                if (peek(1) != u'=') {
                    ++pos_;
                    break;
                }
                pos_ += 2;
                key += u'=';
                continue;
            }
            key += text_[pos_++];
        }
        if (key.trimmed().isEmpty()) {
            malformed();
        }
        return key;
    }

    QString readValue() {
        skip([](QChar c) { return c.isSpace() && c != u';'; });
        const QChar quote = peek();
        if (quote != u'"' && quote != u'\'') {
            const qsizetype end = text_.indexOf(u';', pos_);
            const QString value = text_.mid(pos_, end < 0 ? -1 : end - pos_);
            pos_ = end < 0 ? text_.size() : end;
            return value.trimmed();
        }
        ++pos_;
        QString value;
        for (;;) {
            if (atEnd()) {
                malformed();
            }
            const QChar c = text_[pos_++];
            if (c != quote) {
                value += c;
            } else if (peek() == quote) {
                value += c;
                ++pos_;
            } else {
                break;
            }
        }
        skip([](QChar c) { return c.isSpace(); });
        if (!atEnd() && peek() != u';') {
            malformed();
        }
        return value;
    }

    const QString& text_;
    qsizetype pos_ = 0;
};

bool needsQuoting(const QString& value) {
    if (value.isEmpty()) {
        return false;
    }
    if (value.front().isSpace() || value.back().isSpace()) {
        return true;
    }
    for (QChar c : value) {
        if (c == u';' || c == u'=' || c == u'"' || c == u'\'') {
            return true;
        }
    }
    return false;
}

} // namespace

std::map<QString, QString> parseConnectionString(const QString& text) {
    return Parser(text).pairs();
}

ConnectionProperties connectionProperties(const QString& text) {
    const std::map<QString, QString> pairs = parseConnectionString(text);
    auto value = [&](const char* key) {
        const auto found = pairs.find(QString::fromLatin1(key));
        return found == pairs.end() ? QString() : found->second;
    };
    return {value("PROVIDER"), value("SERVER"), value("DATABASE"), value("USER ID"),
            value("PASSWORD")};
}

QString quoteValue(const QString& value) {
    if (!needsQuoting(value)) {
        return value;
    }
    if (!value.contains(u'"')) {
        return u'"' + value + u'"';
    }
    if (!value.contains(u'\'')) {
        return u'\'' + value + u'\'';
    }
    QString doubled = value;
    doubled.replace(u'"', QStringLiteral("\"\""));
    return u'"' + doubled + u'"';
}

} // namespace ado
