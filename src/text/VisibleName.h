#pragma once
// A name as the confirmation shows it: every control, format, line
// separator and paragraph separator character (zero-width characters and
// direction overrides among them) is written visibly as <U+XXXX>, so that
// two names that differ only by such a character never read alike.  Every
// other character, blanks included, stays as it is.

#include <QString>

namespace text {

QString visibleName(const QString& name);

} // namespace text
