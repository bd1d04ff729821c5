#pragma once
// Keeps the password the user types out of every file: FreeTDS's
// environment overrides (a dump file, a TDS version without TLS, another
// host or port) are dropped before anything reads them, and the process
// can leave no core dump.  Called first thing in main(), before any other
// thread exists.

namespace app {

// The environment variables FreeTDS would read in place of the program's
// own settings.
inline constexpr const char* kFreeTdsOverrides[] = {"TDSDUMP", "TDSDUMPCONFIG", "TDSVER", "TDSHOST",
                                                    "TDSPORT"};

void keepSecretsInMemory();

} // namespace app
