#include "PreloginReply.h"

namespace connection {

namespace {
constexpr std::uint8_t kReplyPacket = 0x04;
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

std::optional<std::uint8_t> replyEncryption(const std::uint8_t* data, std::size_t size) {
    const auto length = replyLength(data, size);
    if (!length || data[0] != kReplyPacket || *length < kPacketHeaderSize || *length > size) {
        return std::nullopt;
    }
    const std::uint8_t* payload = data + kPacketHeaderSize;
    const std::size_t payloadSize = *length - kPacketHeaderSize;
    for (std::size_t at = 0; at + kEntrySize <= payloadSize; at += kEntrySize) {
        const std::uint8_t token = payload[at];
        if (token == kEndOfTable) {
            break;
        }
        const std::size_t offset = bigEndian16(payload + at + 1);
        const std::size_t optionSize = bigEndian16(payload + at + 3);
        if (token == kEncryptionToken) {
            if (optionSize < 1 || offset >= payloadSize) {
                return std::nullopt;
            }
            return payload[offset];
        }
    }
    return std::nullopt;
}

} // namespace connection
