#pragma once
// TDS packet framing.  A client request is a message: one or more packets of
// one type, the last marked end-of-message.  MessageAssembler takes the bytes
// of a connection as they arrive and hands out whole messages; anything that
// a SQL Server would not accept (a short or oversized header, an unknown
// type, a type change inside a message, a message over the size limit) puts
// it into a failed state with a one-line reason.  packetize() splits a
// server response into packets of the negotiated size.

#include "Bytes.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace tds {

namespace packet {
constexpr std::uint8_t SqlBatch = 1;
constexpr std::uint8_t PreTds7Login = 2;
constexpr std::uint8_t Rpc = 3;
constexpr std::uint8_t TabularResult = 4;
constexpr std::uint8_t Attention = 6;
constexpr std::uint8_t BulkLoad = 7;
constexpr std::uint8_t FedAuthToken = 8;
constexpr std::uint8_t TransactionManager = 14;
constexpr std::uint8_t Login7 = 16;
constexpr std::uint8_t Sspi = 17;
constexpr std::uint8_t Prelogin = 18;

constexpr std::uint8_t StatusEom = 0x01;
constexpr std::size_t HeaderSize = 8;
// The largest packet TDS can negotiate.
constexpr std::size_t MaxPacketSize = 32767;
// Requests larger than this are refused, whatever their packets look like.
constexpr std::size_t MaxMessageSize = 4 * 1024 * 1024;
} // namespace packet

struct Message {
    std::uint8_t type = 0;
    std::uint8_t status = 0; // of the last packet
    Bytes payload;
};

class MessageAssembler {
public:
    explicit MessageAssembler(std::size_t maxMessage = packet::MaxMessageSize)
        : maxMessage_(maxMessage) {}

    // Takes more bytes.  False once the stream is malformed; error() says why
    // and everything fed afterwards is ignored.
    bool feed(ByteView data);
    std::optional<Message> next();
    // The type of the next whole message, without taking it.
    std::optional<std::uint8_t> nextType() const;
    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    // True while part of a message or packet has arrived but not all of it.
    bool midMessage() const { return !pending_.empty() || partial_.has_value(); }

private:
    bool takePacket();

    std::size_t maxMessage_;
    Bytes pending_; // bytes not yet forming a whole packet
    std::optional<Message> partial_;
    std::deque<Message> ready_;
    std::string error_;
};

bool isKnownPacketType(std::uint8_t type);

// Splits `payload` into packets of at most `packetSize` bytes (header
// included) of the given type, the last one marked end-of-message unless
// more of the same message follows later (`endsMessage` false: a statement
// that sends its progress as it goes).
Bytes packetize(std::uint8_t type, ByteView payload, std::size_t packetSize, std::uint16_t spid,
                std::uint8_t extraStatus = 0, bool endsMessage = true);

} // namespace tds
