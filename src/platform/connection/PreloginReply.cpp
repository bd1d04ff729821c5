#include "PreloginReply.h"

namespace connection {

namespace {
constexpr std::uint8_t kEncryptionToken = 0x01;
constexpr std::uint8_t kEndOfTable = 0xFF;
constexpr std::size_t kEntrySize = 5;

std::size_t bigEndian16(const std::uint8_t* at) {
    return static_cast<std::size_t>(at[0]) << 8 | static_cast<std::size_t>(at[1]);
}
} // namespace

std::optional<std::size_t> replyLength(const std::uint8_t* data, std::size_t size) {
    if (size < kPacketHeaderSize) {
        return std::nullopt;
    }
    return bigEndian16(data + 2);
}

std::optional<std::uint8_t> packetEncryption(const std::uint8_t* data, std::size_t size,
                                             std::uint8_t type) {
    const auto length = replyLength(data, size);
    if (!length || data[0] != type || *length < kPacketHeaderSize || *length > size) {
        return std::nullopt;
    }
    const std::uint8_t* payload = data + kPacketHeaderSize;
    const std::size_t payloadSize = *length - kPacketHeaderSize;
    std::uint8_t encryption = kEncryptNotSupported;
    for (std::size_t at = 0;; at += kEntrySize) {
        if (at >= payloadSize) {
            return std::nullopt;
        }
        const std::uint8_t token = payload[at];
        if (token == kEndOfTable) {
            return encryption;
        }
        if (at + kEntrySize > payloadSize) {
            return std::nullopt;
        }
        const std::size_t offset = bigEndian16(payload + at + 1);
        const std::size_t optionSize = bigEndian16(payload + at + 3);
        if (offset + optionSize > payloadSize) {
            return std::nullopt;
        }
        if (token == kEncryptionToken && optionSize >= 1) {
            encryption = payload[offset];
        }
    }
}

} // namespace connection
