#pragma once
// The PRELOGIN messages of TDS 7.x, read from raw bytes without any library,
// so that the reader can be fuzzed on its own: one TDS packet, 8 bytes of
// header (a type, a status, a big-endian length that includes the header)
// and an option table of 5-byte entries (token, offset, length) that ends
// at 0xFF, with offsets into the payload.
//
// The encryption option is read exactly as FreeTDS reads the server's
// answer (src/tds/login.c): the last encryption entry counts, a table
// without one means "not supported", and a table that runs past its packet
// is no answer at all.  A guard that read it any other way could be shown
// one answer while the driver acts on another.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace connection {

constexpr std::size_t kPacketHeaderSize = 8;

constexpr std::uint8_t kPreloginPacket = 0x12;
constexpr std::uint8_t kReplyPacket = 0x04;

// The encryption values of the option.
constexpr std::uint8_t kEncryptOff = 0; // the login packet only
constexpr std::uint8_t kEncryptOn = 1;
constexpr std::uint8_t kEncryptNotSupported = 2;

// The whole packet's length as its header says; none before the header has
// come in full.
std::optional<std::size_t> replyLength(const std::uint8_t* data, std::size_t size);

// The encryption option of a whole packet of the given type; none when the
// bytes are not such a packet or its table cannot be read.
std::optional<std::uint8_t> packetEncryption(const std::uint8_t* data, std::size_t size,
                                             std::uint8_t type);

// The encryption option's value in a server's reply.
inline std::optional<std::uint8_t> replyEncryption(const std::uint8_t* data, std::size_t size) {
    return packetEncryption(data, size, kReplyPacket);
}

} // namespace connection
