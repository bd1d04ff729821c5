#pragma once
// The user's regional number settings: the decimal and digit-group
// separators, read from the system locale at the time of each call.  Tests
// pin them for a scope with ScopedRegionalSettings.

#include <QChar>
#include <QLocale>
#include <QString>

namespace rt {

QChar decimalSeparator();
QChar groupSeparator();
// The locale whose number conventions are in force (the system's, or the
// one a test has pinned).
QLocale numberLocale();

class ScopedRegionalSettings {
public:
    explicit ScopedRegionalSettings(const QLocale& locale);
    ~ScopedRegionalSettings();
    ScopedRegionalSettings(const ScopedRegionalSettings&) = delete;
    ScopedRegionalSettings& operator=(const ScopedRegionalSettings&) = delete;

    static ScopedRegionalSettings spanish() {
        return ScopedRegionalSettings(QLocale(QLocale::Spanish, QLocale::Spain));
    }
    static ScopedRegionalSettings english() {
        return ScopedRegionalSettings(QLocale(QLocale::English, QLocale::UnitedStates));
    }

private:
    bool hadPrevious_;
    QLocale previous_;
};

} // namespace rt
