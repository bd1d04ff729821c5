#include "Requests.h"

#include "TdsVersion.h"

namespace tds {

namespace {
// Skips the ALL_HEADERS block; false when it is malformed.
bool skipAllHeaders(ByteReader& r, std::string& error) {
    std::uint32_t total = 0;
    if (!r.u32le(total) || total < 4 || total - 4 > r.remaining()) {
        error = "ALL_HEADERS length out of range";
        return false;
    }
    std::size_t left = total - 4;
    while (left > 0) {
        std::uint32_t headerLength = 0;
        if (left < 6 || !r.u32le(headerLength) || headerLength < 6 || headerLength > left) {
            error = "malformed ALL_HEADERS entry";
            return false;
        }
        r.skip(headerLength - 4);
        left -= headerLength;
    }
    return true;
}

const char16_t* wellKnownProcedure(std::uint16_t id) {
    switch (id) {
    case 1:
        return u"sp_cursor";
    case 2:
        return u"sp_cursoropen";
    case 3:
        return u"sp_cursorprepare";
    case 4:
        return u"sp_cursorexecute";
    case 5:
        return u"sp_cursorprepexec";
    case 6:
        return u"sp_cursorunprepare";
    case 7:
        return u"sp_cursorfetch";
    case 8:
        return u"sp_cursoroption";
    case 9:
        return u"sp_cursorclose";
    case 10:
        return u"sp_executesql";
    case 11:
        return u"sp_prepare";
    case 12:
        return u"sp_execute";
    case 13:
        return u"sp_prepexec";
    case 14:
        return u"sp_prepexecrpc";
    case 15:
        return u"sp_unprepare";
    default:
        return nullptr;
    }
}
namespace type {
constexpr std::uint8_t Int1 = 0x30;
constexpr std::uint8_t Bit = 0x32;
constexpr std::uint8_t Int2 = 0x34;
constexpr std::uint8_t Int4 = 0x38;
constexpr std::uint8_t Int8 = 0x7F;
constexpr std::uint8_t IntN = 0x26;
constexpr std::uint8_t BitN = 0x68;
constexpr std::uint8_t BigVarChar = 0xA7;
constexpr std::uint8_t BigChar = 0xAF;
constexpr std::uint8_t NVarChar = 0xE7;
constexpr std::uint8_t NChar = 0xEF;
constexpr std::uint8_t Text = 0x23;
constexpr std::uint8_t NText = 0x63;
} // namespace type

constexpr std::uint16_t PlpMarker = 0xFFFF;
constexpr std::uint64_t PlpNull = 0xFFFFFFFFFFFFFFFFull;

// A little-endian integer of `size` bytes, sign-extended.
bool readInteger(ByteReader& r, std::size_t size, std::int64_t& out) {
    ByteView b;
    if (size == 0 || size > 8 || !r.bytes(size, b)) {
        return false;
    }
    std::uint64_t v = 0;
    for (std::size_t i = size; i-- > 0;) {
        v = (v << 8) | b[i];
    }
    if (size < 8 && (b[size - 1] & 0x80)) {
        v |= ~std::uint64_t{0} << (size * 8);
    }
    out = static_cast<std::int64_t>(v);
    return true;
}

std::u16string textOf(ByteView bytes, bool unicode) {
    std::u16string text;
    if (unicode) {
        utf16At(bytes, 0, bytes.size() / 2, text);
    } else {
        // Single-byte text in the Latin-1 code page of the default collation.
        text.assign(bytes.begin(), bytes.end());
    }
    return text;
}

// A PLP value: total length, then chunks until one of length zero.
bool readPlp(ByteReader& r, bool unicode, RpcParameter& p) {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    if (!r.u32le(low) || !r.u32le(high)) {
        return false;
    }
    if ((std::uint64_t{high} << 32 | low) == PlpNull) {
        return true;
    }
    Bytes all;
    for (;;) {
        std::uint32_t chunk = 0;
        ByteView b;
        if (!r.u32le(chunk)) {
            return false;
        }
        if (chunk == 0) {
            break;
        }
        if (!r.bytes(chunk, b)) {
            return false;
        }
        all.insert(all.end(), b.begin(), b.end());
    }
    p.value = textOf(all, unicode);
    return true;
}

// One parameter's TYPE_INFO and value.  False on a malformed stream;
// `known` false when the type is not one read here.
bool readValue(ByteReader& r, std::uint8_t t, RpcParameter& p, bool& known) {
    known = true;
    std::int64_t n = 0;
    switch (t) {
    case type::Int1:
    case type::Bit:
        if (!readInteger(r, 1, n)) {
            return false;
        }
        p.value = t == type::Int1 ? n & 0xFF : n;
        return true;
    case type::Int2:
    case type::Int4:
    case type::Int8: {
        const std::size_t size = t == type::Int2 ? 2 : t == type::Int4 ? 4 : 8;
        if (!readInteger(r, size, n)) {
            return false;
        }
        p.value = n;
        return true;
    }
    case type::IntN:
    case type::BitN: {
        std::uint8_t max = 0;
        std::uint8_t length = 0;
        if (!r.u8(max) || !r.u8(length)) {
            return false;
        }
        if (length == 0) {
            return true;
        }
        if (!readInteger(r, length, n)) {
            return false;
        }
        p.value = (t == type::BitN || length == 1) ? n & 0xFF : n;
        return true;
    }
    case type::BigVarChar:
    case type::BigChar:
    case type::NVarChar:
    case type::NChar: {
        const bool unicode = t == type::NVarChar || t == type::NChar;
        std::uint16_t max = 0;
        ByteView collation;
        if (!r.u16le(max) || !r.bytes(5, collation)) {
            return false;
        }
        if (max == PlpMarker) {
            return readPlp(r, unicode, p);
        }
        std::uint16_t length = 0;
        ByteView b;
        if (!r.u16le(length)) {
            return false;
        }
        if (length == 0xFFFF) {
            return true;
        }
        if (!r.bytes(length, b)) {
            return false;
        }
        p.value = textOf(b, unicode);
        return true;
    }
    case type::Text:
    case type::NText: {
        // FreeTDS sends sp_executesql's statement and declarations so: a
        // four-byte maximum, the collation, a four-byte length (all ones
        // for NULL) and the bytes.
        std::uint32_t max = 0;
        std::uint32_t length = 0;
        ByteView collation;
        ByteView b;
        if (!r.u32le(max) || !r.bytes(5, collation) || !r.u32le(length)) {
            return false;
        }
        if (length == 0xFFFFFFFF) {
            return true;
        }
        if (!r.bytes(length, b)) {
            return false;
        }
        p.value = textOf(b, t == type::NText);
        return true;
    }
    default:
        known = false;
        return true;
    }
}

} // namespace

std::optional<std::u16string> parseSqlBatch(ByteView payload, std::uint32_t tdsVersion,
                                            std::string& error) {
    ByteReader r(payload);
    if (atLeast72(tdsVersion) && !skipAllHeaders(r, error)) {
        return std::nullopt;
    }
    if (r.remaining() % 2 != 0) {
        error = "SQL batch text of odd length";
        return std::nullopt;
    }
    std::u16string text;
    utf16At(payload, r.position(), r.remaining() / 2, text);
    return text;
}

std::optional<RpcRequest> parseRpc(ByteView payload, std::uint32_t tdsVersion, std::string& error) {
    ByteReader r(payload);
    if (atLeast72(tdsVersion) && !skipAllHeaders(r, error)) {
        return std::nullopt;
    }
    RpcRequest rpc;
    std::uint16_t nameLength = 0;
    if (!r.u16le(nameLength)) {
        error = "RPC request truncated";
        return std::nullopt;
    }
    if (nameLength == 0xFFFF) {
        std::uint16_t id = 0;
        if (!r.u16le(id)) {
            error = "RPC request truncated";
            return std::nullopt;
        }
        const char16_t* name = wellKnownProcedure(id);
        rpc.procedure = name ? name : u"";
    } else if (!utf16At(payload, r.position(), nameLength, rpc.procedure) ||
               !r.skip(std::size_t{nameLength} * 2)) {
        error = "RPC procedure name outside the request";
        return std::nullopt;
    }
    std::uint16_t options = 0;
    if (!r.u16le(options)) {
        error = "RPC request truncated";
        return std::nullopt;
    }
    // Parameters up to the end, or to the next call of a batched request.
    while (r.remaining() > 0) {
        const std::uint8_t next = payload[r.position()];
        if (next == 0x80 || next == 0xFF || next == 0xFE) {
            break;
        }
        RpcParameter p;
        std::uint8_t nameChars = 0;
        std::uint8_t status = 0;
        std::uint8_t t = 0;
        if (!r.u8(nameChars) || !utf16At(payload, r.position(), nameChars, p.name) ||
            !r.skip(std::size_t{nameChars} * 2) || !r.u8(status) || !r.u8(t)) {
            error = "RPC parameter truncated";
            return std::nullopt;
        }
        bool known = true;
        if (!readValue(r, t, p, known)) {
            error = "RPC parameter value truncated";
            return std::nullopt;
        }
        if (!known) {
            rpc.unreadType = std::pair{rpc.parameters.size() + 1, t};
            break;
        }
        rpc.parameters.push_back(std::move(p));
    }
    return rpc;
}

} // namespace tds
