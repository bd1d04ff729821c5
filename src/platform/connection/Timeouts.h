#pragma once
// How long a call waits for a silent server, as the client libraries this
// tool stands in for did: a login gives up after 15 s, a statement after
// 30 s without an answer.  A statement that must not be cut short (a drop,
// which the server may still complete) waits without limit; when its answer
// is lost, the server is watched for 60 s more while it still runs it.
//
// At a statement's time-out the driver asks the server to cancel and waits
// once more as long for the acknowledgement before it drops the link, so
// the driver is given half the statement's time-out (driverWait), and a
// server that has died outright is given up after the time-out in total.

#include <chrono>

namespace connection {

struct Timeouts {
    std::chrono::seconds login;
    std::chrono::seconds query;
    std::chrono::seconds stillRunning;
};

inline constexpr Timeouts kTimeouts{std::chrono::seconds(15), std::chrono::seconds(30),
                                    std::chrono::seconds(60)};

// The time-outs in force: kTimeouts, unless a test shortened them.
Timeouts timeouts();

// What the driver is told for a statement time-out `total`: half of it,
// rounded up to whole seconds, since it waits that twice.
std::chrono::seconds driverWait(std::chrono::seconds total);

// For tests only: replaces the time-outs in force and returns the previous
// ones, so that a silent server need not be waited for 15 or 30 s.
Timeouts replaceTimeoutsForTests(Timeouts shorter);

} // namespace connection
