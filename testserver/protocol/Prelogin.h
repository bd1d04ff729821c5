#pragma once
// The PRELOGIN exchange: the client's options, and the server's answer
// (its version, its encryption choice, the instance check, MARS off).

#include "Bytes.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tds {

namespace encrypt {
constexpr std::uint8_t Off = 0;
constexpr std::uint8_t On = 1;
constexpr std::uint8_t NotSupported = 2;
constexpr std::uint8_t Required = 3;
} // namespace encrypt

struct PreloginRequest {
    std::optional<std::uint8_t> encryption;
    std::string instance; // without its terminating NUL
    std::optional<std::uint32_t> threadId;
    std::optional<std::uint8_t> mars;
};

// Nullopt with `error` set when the option table is malformed.
std::optional<PreloginRequest> parsePrelogin(ByteView payload, std::string& error);

struct ProductVersion {
    int major = 0;
    int minor = 0;
    int build = 0;
    int revision = 0;
};

// The server's PRELOGIN answer.  `instanceMatches` false answers a named
// instance this server is not.
Bytes preloginResponse(const ProductVersion& v, std::uint8_t encryption, bool instanceMatches);

// How a server configured as `server` answers a client's encryption option.
enum class ServerEncryption { Available, Forced, Unsupported };
struct EncryptionChoice {
    std::uint8_t answer = encrypt::NotSupported;
    bool tls = false;       // a TLS handshake follows
    bool loginOnly = false; // TLS ends after the login packet
    bool refuse = false;    // the client cannot meet the server's demand
};
EncryptionChoice chooseEncryption(ServerEncryption server, std::optional<std::uint8_t> client);

} // namespace tds
