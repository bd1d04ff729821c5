#include "Timeouts.h"

#include <mutex>
#include <utility>

namespace connection {

namespace {
// Read by connections on any thread.
std::mutex inForceMutex;
Timeouts inForce = kTimeouts;
} // namespace

Timeouts timeouts() {
    const std::lock_guard lock(inForceMutex);
    return inForce;
}

std::chrono::seconds driverWait(std::chrono::seconds total) { return (total + total % 2) / 2; }

Timeouts replaceTimeoutsForTests(Timeouts shorter) {
    const std::lock_guard lock(inForceMutex);
    return std::exchange(inForce, shorter);
}

} // namespace connection
