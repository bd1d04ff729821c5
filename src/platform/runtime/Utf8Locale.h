#pragma once
// Qt depends on a UTF-8 character set.  Started with no locale at all (no
// LANG, LC_ALL or LC_CTYPE, as from a service or a bare root) or with the
// plain "C" or "POSIX" one, the process would run in ASCII and Qt would say
// so on stderr at every start.  This turns such a start into "C.UTF-8" for
// the character set only, before Qt reads the locale; any locale of the
// user's, and every category but the character set, stays as it is.

namespace rt {

// Call first thing in main(), before the Qt application object exists.
void useUtf8WhenNoLocaleIsSet();

} // namespace rt
