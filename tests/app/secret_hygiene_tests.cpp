// The program's start leaves FreeTDS no way to write the password to a
// file or to weaken the login, and leaves no core dump behind.

#include "app/SecretHygiene.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs `body` in a child so the test process keeps its own settings; the
// child's exit status is the number of the first check that failed.
int inChild(int (*body)()) {
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(SecretHygiene, DropsFreeTdsOverridesKeepsTheRestAndLeavesNoCore) {
    const int failed = inChild([] {
        setenv("TDSDUMP", "/tmp/dump.log", 1);
        setenv("TDSDUMPCONFIG", "/tmp/config.log", 1);
        setenv("TDSVER", "5.0", 1);
        setenv("TDSHOST", "elsewhere", 1);
        setenv("TDSPORT", "1434", 1);
        setenv("FREETDSCONF", "/home/admin/freetds.conf", 1);
        const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
        setrlimit(RLIMIT_CORE, &unlimited);
        prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);

        app::keepSecretsInMemory();

        int check = 1;
        for (const char* name : app::kFreeTdsOverrides) {
            if (getenv(name)) {
                return check;
            }
            ++check;
        }
        // The administrator's own freetds.conf still counts.
        if (!getenv("FREETDSCONF")) {
            return 10;
        }
        if (prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 0) {
            return 11;
        }
        rlimit core{};
        getrlimit(RLIMIT_CORE, &core);
        return core.rlim_cur == 0 && core.rlim_max == 0 ? 0 : 12;
    });
    EXPECT_EQ(failed, 0) << "check " << failed << " failed";
}

} // namespace
