#pragma once
// The LOGIN7 request: the client's TDS version and packet size, its names
// (host, login, application, server, library, language, database), the
// de-obfuscated password, the integrated-security flag and the client's
// first security token (SSPI: a Kerberos or NTLM message).

#include "Bytes.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tds {

struct Login7 {
    std::uint32_t tdsVersion = 0;
    std::uint32_t packetSize = 0;
    bool integratedSecurity = false;
    std::u16string hostName;
    std::u16string userName;
    std::u16string password;
    std::u16string appName;
    std::u16string serverName;
    std::u16string libraryName;
    std::u16string language;
    std::u16string database;
    Bytes sspi;
};

// Nullopt with `error` set when the request is truncated or its fields
// point outside it.
std::optional<Login7> parseLogin7(ByteView payload, std::string& error);

// The password as sent on the wire: each byte has its nibbles swapped and is
// XORed with 0xA5.  Exposed for tests that build LOGIN7 requests.
std::uint8_t obfuscatePasswordByte(std::uint8_t b);

} // namespace tds
