#include "Login7.h"

#include "TdsVersion.h"

namespace tds {

namespace {
constexpr std::size_t FixedSize71 = 86;
constexpr std::size_t FixedSize72 = 94;
constexpr std::uint8_t IntegratedSecurityFlag = 0x80; // OptionFlags2

std::uint8_t deobfuscate(std::uint8_t b) {
    b ^= 0xA5;
    return static_cast<std::uint8_t>((b << 4) | (b >> 4));
}

// Reads the (offset, length) pair at `at` of the fixed part and the text it
// points to, in the first `declared` bytes of the request.
bool field(ByteView login, std::size_t at, std::u16string& out) {
    ByteReader r(login.subspan(at));
    std::uint16_t offset = 0;
    std::uint16_t chars = 0;
    if (!r.u16le(offset) || !r.u16le(chars)) {
        return false;
    }
    if (chars == 0) {
        out.clear();
        return true;
    }
    return utf16At(login, offset, chars, out);
}
} // namespace

std::uint8_t obfuscatePasswordByte(std::uint8_t b) {
    return static_cast<std::uint8_t>(((b << 4) | (b >> 4)) ^ 0xA5);
}

namespace {
// ibSSPI and cbSSPI at 78 and 80, in bytes; a length of 0xFFFF defers to
// cbSSPILong at 90 (TDS 7.2 and later).
bool sspiToken(ByteView login, Bytes& out) {
    ByteReader r(login.subspan(78));
    std::uint16_t offset = 0;
    std::uint16_t shortLength = 0;
    if (!r.u16le(offset) || !r.u16le(shortLength)) {
        return false;
    }
    std::uint32_t length = shortLength;
    if (shortLength == 0xFFFF) {
        if (login.size() < 94) {
            return false;
        }
        ByteReader longLength(login.subspan(90));
        if (!longLength.u32le(length)) {
            return false;
        }
    }
    if (static_cast<std::size_t>(offset) + length > login.size()) {
        return false;
    }
    const ByteView token = login.subspan(offset, length);
    out.assign(token.begin(), token.end());
    return true;
}
} // namespace

std::optional<Login7> parseLogin7(ByteView payload, std::string& error) {
    ByteReader r(payload);
    std::uint32_t length = 0;
    Login7 login;
    if (!r.u32le(length) || !r.u32le(login.tdsVersion) || !r.u32le(login.packetSize)) {
        error = "LOGIN7 truncated";
        return std::nullopt;
    }
    if (length > payload.size()) {
        error = "LOGIN7 longer than its packet";
        return std::nullopt;
    }
    const std::size_t fixed = atLeast72(login.tdsVersion) ? FixedSize72 : FixedSize71;
    if (length < fixed) {
        error = "LOGIN7 truncated";
        return std::nullopt;
    }
    const ByteView body = payload.first(length);
    login.integratedSecurity = (body[25] & IntegratedSecurityFlag) != 0;
    struct Field {
        std::size_t at;
        std::u16string* out;
    };
    const Field fields[] = {
        {36, &login.hostName}, {40, &login.userName},   {44, &login.password},
        {48, &login.appName},  {52, &login.serverName}, {60, &login.libraryName},
        {64, &login.language}, {68, &login.database},
    };
    for (const Field& f : fields) {
        if (!field(body, f.at, *f.out)) {
            error = "LOGIN7 field outside the request";
            return std::nullopt;
        }
    }
    if (!sspiToken(body, login.sspi)) {
        error = "LOGIN7 security token outside the request";
        return std::nullopt;
    }
    // The password's code units are obfuscated byte by byte.
    for (char16_t& c : login.password) {
        const auto lo = deobfuscate(static_cast<std::uint8_t>(c & 0xFF));
        const auto hi = deobfuscate(static_cast<std::uint8_t>(c >> 8));
        c = static_cast<char16_t>(lo | (hi << 8));
    }
    return login;
}

} // namespace tds
