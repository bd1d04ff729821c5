#include "Timeouts.h"

#include <utility>

namespace connection {

namespace {
// Read and replaced on the user-interface thread only, like every call here.
Timeouts inForce = kTimeouts;
} // namespace

Timeouts timeouts() { return inForce; }

std::chrono::seconds driverWait(std::chrono::seconds total) { return (total + total % 2) / 2; }

Timeouts replaceTimeoutsForTests(Timeouts shorter) { return std::exchange(inForce, shorter); }

} // namespace connection
