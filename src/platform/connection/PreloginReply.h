#pragma once
// The server's answer to PRELOGIN, read from raw bytes without any library,
// so that the reader can be fuzzed on its own: one TDS packet, 8 bytes of
// header (type 0x04, a big-endian length that includes the header) and an
// option table of 5-byte entries (token, offset, length) that ends at 0xFF,
// with offsets into the payload.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace connection {

constexpr std::size_t kPacketHeaderSize = 8;

// The whole packet's length as its header says; none before the header has
// come in full.
std::optional<std::size_t> replyLength(const std::uint8_t* data, std::size_t size);

// The encryption option's value in a reply; none when the bytes are not a
// whole reply packet or carry no such option.
std::optional<std::uint8_t> replyEncryption(const std::uint8_t* data, std::size_t size);

} // namespace connection
