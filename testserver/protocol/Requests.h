#pragma once
// The client requests after login: a SQL batch (its text, after the
// ALL_HEADERS block that TDS 7.2 and later put first) and an RPC request
// (only the procedure's name, so that it can be refused by name).

#include "Bytes.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tds {

std::optional<std::u16string> parseSqlBatch(ByteView payload, std::uint32_t tdsVersion,
                                            std::string& error);

std::optional<std::u16string> parseRpcName(ByteView payload, std::uint32_t tdsVersion,
                                           std::string& error);

} // namespace tds
