#pragma once
// The server's collation, as named in the state file: whether database names
// compare with or without regard to case, how names sort, and the five bytes
// a TDS client receives for it.  Known names: SQL_Latin1_General_CP1_CI_AS,
// _CS_AS and _CI_AI, and the Windows collations Latin1_General,
// Modern_Spanish and Traditional_Spanish with _CI_AS, _CI_AI, _CS_AS,
// _CS_AI, _BIN or _BIN2.

#include <QCollator>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

namespace state {

class Collation {
public:
    static constexpr const char* DefaultName = "SQL_Latin1_General_CP1_CI_AS";

    // Nothing for a name this server does not know.
    static std::optional<Collation> named(const QString& name);
    Collation(); // the default

    const QString& name() const { return name_; }
    bool caseSensitive() const { return !ignoreCase_; }
    // Whether two names are the same name under this collation.
    bool same(QStringView a, QStringView b) const;
    // How ORDER BY sorts two names: below, at or above zero.
    int compare(QStringView a, QStringView b) const;
    const std::array<std::uint8_t, 5>& tdsBytes() const { return bytes_; }

private:
    struct Blank {};
    explicit Collation(Blank) {}

    QString name_;
    bool ignoreCase_ = true;
    bool binary_ = false;
    std::array<std::uint8_t, 5> bytes_{};
    std::shared_ptr<QCollator> collator_; // shared: a QCollator is costly to copy
};

} // namespace state
