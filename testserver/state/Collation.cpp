#include "Collation.h"

#include <QLocale>
#include <QRegularExpression>

namespace state {

namespace {

// The collation flags of the TDS collation value (bits 20 to 27).
constexpr std::uint32_t IgnoreCase = 0x01;
constexpr std::uint32_t IgnoreAccent = 0x02;
constexpr std::uint32_t IgnoreKana = 0x04;
constexpr std::uint32_t IgnoreWidth = 0x08;
constexpr std::uint32_t Binary = 0x10;
constexpr std::uint32_t Binary2 = 0x20;

struct Family {
    QString prefix;
    std::uint32_t lcid;
    const char* locale; // whose sorting rules ORDER BY follows
};

const Family families[] = {
    {QStringLiteral("SQL_Latin1_General_CP1"), 0x0409, "en_US"},
    {QStringLiteral("Latin1_General"), 0x0409, "en_US"},
    {QStringLiteral("Modern_Spanish"), 0x0C0A, "es_ES"},
    {QStringLiteral("Traditional_Spanish"), 0x040A, "es_ES"},
};

// The sort ids of the SQL collations served; Windows collations have none.
std::optional<std::uint8_t> sqlSortId(const QString& style) {
    if (style == u"CS_AS") {
        return 51;
    }
    if (style == u"CI_AS") {
        return 52;
    }
    if (style == u"CI_AI") {
        return 54;
    }
    return std::nullopt;
}

} // namespace

Collation::Collation() : Collation(*named(QString::fromLatin1(DefaultName))) {}

std::optional<Collation> Collation::named(const QString& name) {
    static const QRegularExpression shape(
        QStringLiteral("^(.+)_(CI_AS|CI_AI|CS_AS|CS_AI|BIN|BIN2)$"));
    const QRegularExpressionMatch m = shape.match(name);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    const QString prefix = m.captured(1);
    const QString style = m.captured(2);
    for (const Family& family : families) {
        if (family.prefix != prefix) {
            continue;
        }
        const bool sql = prefix.startsWith(u"SQL_");
        const std::optional<std::uint8_t> sortId = sql ? sqlSortId(style) : std::uint8_t{0};
        if (!sortId) {
            return std::nullopt;
        }
        std::uint32_t flags = 0;
        if (style == u"BIN") {
            flags = Binary;
        } else if (style == u"BIN2") {
            flags = Binary2;
        } else {
            flags = IgnoreKana | IgnoreWidth | (style.startsWith(u"CI") ? IgnoreCase : 0) |
                    (style.endsWith(u"AI") ? IgnoreAccent : 0);
        }
        Collation c{Blank{}};
        c.name_ = name;
        c.ignoreCase_ = (flags & IgnoreCase) != 0;
        c.binary_ = (flags & (Binary | Binary2)) != 0;
        const std::uint32_t info = family.lcid | (flags << 20);
        c.bytes_ = {static_cast<std::uint8_t>(info), static_cast<std::uint8_t>(info >> 8),
                    static_cast<std::uint8_t>(info >> 16), static_cast<std::uint8_t>(info >> 24),
                    *sortId};
        c.collator_ = std::make_shared<QCollator>(QLocale(QString::fromLatin1(family.locale)));
        c.collator_->setCaseSensitivity(c.ignoreCase_ ? Qt::CaseInsensitive : Qt::CaseSensitive);
        return c;
    }
    return std::nullopt;
}

bool Collation::same(QStringView a, QStringView b) const {
    return a.compare(b, ignoreCase_ ? Qt::CaseInsensitive : Qt::CaseSensitive) == 0;
}

int Collation::compare(QStringView a, QStringView b) const {
    if (binary_) {
        return a.compare(b, Qt::CaseSensitive);
    }
    return collator_->compare(a, b);
}

} // namespace state
