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

std::optional<std::u16string> parseRpcName(ByteView payload, std::uint32_t tdsVersion,
                                           std::string& error) {
    ByteReader r(payload);
    if (atLeast72(tdsVersion) && !skipAllHeaders(r, error)) {
        return std::nullopt;
    }
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
        return std::u16string(name ? name : u"");
    }
    std::u16string name;
    if (!utf16At(payload, r.position(), nameLength, name)) {
        error = "RPC procedure name outside the request";
        return std::nullopt;
    }
    return name;
}

} // namespace tds
