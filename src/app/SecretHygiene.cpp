#include "SecretHygiene.h"

#include <cstdlib>

#include <sys/prctl.h>
#include <sys/resource.h>

namespace app {

void keepSecretsInMemory() {
    for (const char* name : kFreeTdsOverrides) {
        ::unsetenv(name);
    }
    // Not dumpable: no core file, and no other process of the user may
    // read this one's memory through ptrace or /proc.  A zero core limit
    // covers a core handler that ignores the flag.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
}

} // namespace app
