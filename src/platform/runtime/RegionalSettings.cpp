#include "RegionalSettings.h"

#include <optional>

namespace rt {

namespace {
std::optional<QLocale>& pinned() {
    static std::optional<QLocale> locale;
    return locale;
}
} // namespace

QLocale numberLocale() { return pinned() ? *pinned() : QLocale::system(); }

QChar decimalSeparator() {
    const QString s = numberLocale().decimalPoint();
    return s.isEmpty() ? QChar('.') : s.front();
}

QChar groupSeparator() {
    const QString s = numberLocale().groupSeparator();
    return s.isEmpty() ? QChar(',') : s.front();
}

ScopedRegionalSettings::ScopedRegionalSettings(const QLocale& locale)
    : hadPrevious_(pinned().has_value()), previous_(numberLocale()) {
    pinned() = locale;
}

ScopedRegionalSettings::~ScopedRegionalSettings() {
    if (hadPrevious_) {
        pinned() = previous_;
    } else {
        pinned().reset();
    }
}

} // namespace rt
