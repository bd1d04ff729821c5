#pragma once
// Shortens the login and statement time-outs of every connection while it
// lives, so that tests of a silent server wait a second, not 15 or 30.

#include "platform/connection/Timeouts.h"

namespace testing_support {

class ShortTimeouts {
public:
    explicit ShortTimeouts(std::chrono::seconds login = std::chrono::seconds(1),
                           std::chrono::seconds query = std::chrono::seconds(1))
        : previous_(connection::replaceTimeoutsForTests({login, query})) {}
    ~ShortTimeouts() { connection::replaceTimeoutsForTests(previous_); }
    ShortTimeouts(const ShortTimeouts&) = delete;
    ShortTimeouts& operator=(const ShortTimeouts&) = delete;

private:
    connection::Timeouts previous_;
};

} // namespace testing_support
