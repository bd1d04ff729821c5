#pragma once
// The numbers of the server's messages that a final backup acts on: the
// proof that the backup and its verification succeeded, and the causes of
// a failure that the texts tell apart.

#include <cstdint>

namespace backup_messages {

constexpr std::int32_t kSuccess = 3014;         // BACKUP DATABASE successfully processed
constexpr std::int32_t kValid = 3262;           // the backup set on file is valid
constexpr std::int32_t kPermissionDenied = 262; // the login may not back up or verify
constexpr std::int32_t kNotSupportedOnEdition = 1844;
constexpr std::int32_t kCannotOpenDevice = 3201;
constexpr std::int32_t kWriteFailed = 3202;
constexpr std::int32_t kReadFailed = 3203;
constexpr std::int32_t kDamagedPage = 3043;
constexpr std::int32_t kTerminatedAbnormally = 3013;
constexpr std::int32_t kIncompleteSet = 3256;

} // namespace backup_messages
