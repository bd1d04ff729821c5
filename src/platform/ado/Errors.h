#pragma once
// The data-access objects' own failure numbers and texts.

#include "platform/runtime/RuntimeError.h"

#include <cstdint>

namespace ado::err {

// Any failure of the provider or the driver (E_FAIL), with the driver's text.
constexpr std::int32_t kUnspecified = -2147467259;
constexpr std::int32_t kInvalidArgument = 3001;
constexpr std::int32_t kNoCurrentRecord = 3021;
constexpr std::int32_t kItemNotFound = 3265;
constexpr std::int32_t kObjectClosed = 3704;
constexpr std::int32_t kObjectOpen = 3705;
constexpr std::int32_t kProviderNotFound = 3706;
constexpr std::int32_t kConnectionUnusable = 3709;

// The RuntimeError of one of the numbers above, with its Spanish text.
rt::RuntimeError failure(std::int32_t number);

} // namespace ado::err
