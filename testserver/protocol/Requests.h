#pragma once
// The client requests after login: a SQL batch (its text, after the
// ALL_HEADERS block that TDS 7.2 and later put first) and an RPC request
// (the procedure's name and its parameters of the types read here).

#include "Bytes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tds {

std::optional<std::u16string> parseSqlBatch(ByteView payload, std::uint32_t tdsVersion,
                                            std::string& error);

struct RpcParameter {
    std::u16string name; // with its "@", or empty
    // NULL, an integer (bit and integer types) or a text (character types,
    // TEXT and NTEXT included).
    std::variant<std::monostate, std::int64_t, std::u16string> value;
};

struct RpcRequest {
    std::u16string procedure;
    std::vector<RpcParameter> parameters;
    // Set when a parameter is of a type this server does not read: its
    // position (1-based) and type byte; the parameters before it are kept.
    std::optional<std::pair<std::size_t, std::uint8_t>> unreadType;
};

// The first procedure call of an RPC request with its parameters.
std::optional<RpcRequest> parseRpc(ByteView payload, std::uint32_t tdsVersion, std::string& error);

} // namespace tds
