#include "Wildcard.h"

#include "FolderListing.h"
#include "platform/runtime/RegionalSettings.h"

namespace hostfs {

namespace {

// Plain glob matching of "*" and "?" with one point of backtracking.
bool globMatch(QStringView name, QStringView pattern) {
    qsizetype n = 0;
    qsizetype p = 0;
    qsizetype starP = -1;
    qsizetype starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') {
        ++p;
    }
    return p == pattern.size();
}

bool isSpecialEntry(QStringView name) { return name == u"." || name == u".."; }

bool onlyStarsAndDots(QStringView pattern) {
    bool star = false;
    for (QChar c : pattern) {
        if (c == u'*') {
            star = true;
        } else if (c != u'.') {
            return false;
        }
    }
    return star;
}

} // namespace

bool hasWildcards(const QString& pattern) {
    return pattern.contains(u'*') || pattern.contains(u'?');
}

bool matchesUpper(const QString& upperName, const QString& upperPattern) {
    if (isSpecialEntry(upperName)) {
        return upperName == upperPattern || onlyStarsAndDots(upperPattern);
    }
    QStringView pattern(upperPattern);
    if (pattern.endsWith(u'.')) {
        while (pattern.endsWith(u'.')) {
            pattern.chop(1);
        }
        // A trailing dot asks for a name without an extension.
        if (!pattern.contains(u'.') && upperName.contains(u'.')) {
            return false;
        }
        return globMatch(upperName, pattern);
    }
    if (globMatch(upperName, pattern)) {
        return true;
    }
    return pattern.endsWith(u".*") && !upperName.contains(u'.') &&
           globMatch(upperName, pattern.chopped(2));
}

bool matchesPattern(const QString& name, const QString& pattern) {
    return matchesUpper(rt::upperCase(name), rt::upperCase(pattern));
}

} // namespace hostfs
