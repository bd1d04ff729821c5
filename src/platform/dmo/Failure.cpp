#include "Failure.h"

#include "platform/connection/DriverMessages.h"

namespace dmo {

std::int32_t foldedNumber(std::optional<std::int32_t> serverMessage) {
    if (!serverMessage) {
        return kNoServerMessage;
    }
    return static_cast<std::int32_t>(0x80044000u + static_cast<std::uint32_t>(*serverMessage));
}

rt::RuntimeError failureFrom(const odbc::Error& error) {
    return rt::RuntimeError(foldedNumber(error.serverMessageNumber()),
                            connection::explained(error).description());
}

} // namespace dmo
