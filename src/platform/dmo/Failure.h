#pragma once
// How the management objects number their failures: a message from the
// server becomes 0x80044000 plus its number, read as a signed 32-bit value;
// a failure without one (no connection, a broken link, a name not in a
// collection) carries the generic failure number.

#include "platform/odbc/Odbc.h"
#include "platform/runtime/RuntimeError.h"

#include <cstdint>
#include <optional>

namespace dmo {

constexpr std::int32_t kNoServerMessage = odbc::Error::kUnspecified;

std::int32_t foldedNumber(std::optional<std::int32_t> serverMessage);

// The driver's failure as the management objects raise it.
rt::RuntimeError failureFrom(const odbc::Error& error);

// Runs an ODBC step and raises its failure the management objects' way.
template <typename Step> decltype(auto) guarded(Step&& step) {
    try {
        return step();
    } catch (const odbc::Error& error) {
        throw failureFrom(error);
    }
}

} // namespace dmo
