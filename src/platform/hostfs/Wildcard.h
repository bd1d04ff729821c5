#pragma once
// Name patterns by the Windows wildcard rules, without regard to case:
//   "*" any run of characters, dots included; "?" exactly one character;
//   "*" and "*.*" match every name, one without a dot too, and in general a
//   pattern ending in ".*" also matches a dotless name by what precedes it;
//   a pattern ending in "." (such as "*.") matches only names without a dot;
//   the special entries "." and ".." match a pattern made of "*" and "."
//   alone ("*", "*.*", "*.") or written out.

#include <QString>

namespace hostfs {

// Both texts already upper-cased by the caller (names are compared as
// upper-case copies, so a listing upper-cases each name once).
bool matchesUpper(const QString& upperName, const QString& upperPattern);

// The same for texts in any letter case.
bool matchesPattern(const QString& name, const QString& pattern);

bool hasWildcards(const QString& pattern);

} // namespace hostfs
