#include "RegionalSettings.h"

#include <optional>

namespace rt {

namespace {
std::optional<QLocale>& pinned() {
    static std::optional<QLocale> locale;
    return locale;
}
} // namespace

QLocale regionalLocale() { return pinned() ? *pinned() : QLocale::system(); }

QChar decimalSeparator() {
    const QString s = regionalLocale().decimalPoint();
    return s.isEmpty() ? QChar('.') : s.front();
}

QChar groupSeparator() {
    const QString s = regionalLocale().groupSeparator();
    return s.isEmpty() ? QChar(',') : s.front();
}

ScopedRegionalSettings::ScopedRegionalSettings(const QLocale& locale)
    : hadPrevious_(pinned().has_value()), previous_(regionalLocale()) {
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
