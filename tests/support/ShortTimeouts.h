#pragma once
// Shortens the login and statement time-outs of every connection while it
// lives, so that tests of a silent server wait a second, not 15 or 30, and
// the watch of a statement whose answer was lost a few seconds, not 60.

#include "platform/connection/Timeouts.h"

namespace testing_support {

class ShortTimeouts {
public:
    explicit ShortTimeouts(std::chrono::seconds login = std::chrono::seconds(1),
                           std::chrono::seconds query = std::chrono::seconds(1),
                           std::chrono::seconds stillRunning = std::chrono::seconds(3))
        : previous_(connection::replaceTimeoutsForTests({login, query, stillRunning})) {}
    ~ShortTimeouts() { connection::replaceTimeoutsForTests(previous_); }
    ShortTimeouts(const ShortTimeouts&) = delete;
    ShortTimeouts& operator=(const ShortTimeouts&) = delete;

private:
    connection::Timeouts previous_;
};

} // namespace testing_support
