#include "Utf8Locale.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <langinfo.h>
#include <strings.h>

namespace rt {

namespace {

bool isUtf8(const char* codeset) {
    return strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0;
}

bool isPlainC(const char* name) {
    return std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}

} // namespace

void useUtf8WhenNoLocaleIsSet() {
    // A locale named but not installed is the user's to mend; Qt says so.
    if (!std::setlocale(LC_ALL, "") || isUtf8(nl_langinfo(CODESET)) ||
        !isPlainC(std::setlocale(LC_CTYPE, nullptr))) {
        return;
    }
    // Qt reads the locale again from the environment, where LC_ALL, when
    // set, outranks LC_CTYPE.
    const char* lcAll = std::getenv("LC_ALL");
    const char* variable = lcAll && *lcAll ? "LC_ALL" : "LC_CTYPE";
    for (const char* utf8 : {"C.UTF-8", "C.utf8"}) {
        if (std::setlocale(LC_CTYPE, utf8)) {
            setenv(variable, utf8, 1);
            return;
        }
    }
}

} // namespace rt
