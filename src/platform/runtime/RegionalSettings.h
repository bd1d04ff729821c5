#pragma once
// The user's regional settings: the decimal and digit-group separators and
// the rules of upper case, read from the system locale at the time of each
// call.  Tests pin them for a scope with ScopedRegionalSettings, so that no
// outcome depends on the machine's LANG.

#include <QChar>
#include <QLocale>
#include <QString>

namespace rt {

QChar decimalSeparator();
QChar groupSeparator();
// The locale whose conventions are in force (the system's, or the one a
// test has pinned).
QLocale regionalLocale();
// Upper case by that locale's rules, as names are compared without regard
// to case.
inline QString upperCase(const QString& text) { return regionalLocale().toUpper(text); }

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
