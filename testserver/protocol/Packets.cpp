#include "Packets.h"

#include <algorithm>

namespace tds {

bool isKnownPacketType(std::uint8_t type) {
    switch (type) {
    case packet::SqlBatch:
    case packet::PreTds7Login:
    case packet::Rpc:
    case packet::TabularResult:
    case packet::Attention:
    case packet::BulkLoad:
    case packet::FedAuthToken:
    case packet::TransactionManager:
    case packet::Login7:
    case packet::Sspi:
    case packet::Prelogin:
        return true;
    default:
        return false;
    }
}

bool MessageAssembler::feed(ByteView data) {
    if (failed()) {
        return false;
    }
    pending_.insert(pending_.end(), data.begin(), data.end());
    while (takePacket()) {
    }
    return !failed();
}

// Moves one whole packet from pending_ into the message being assembled.
bool MessageAssembler::takePacket() {
    if (failed() || pending_.size() < packet::HeaderSize) {
        return false;
    }
    const std::uint8_t type = pending_[0];
    const std::uint8_t status = pending_[1];
    const std::size_t length = (static_cast<std::size_t>(pending_[2]) << 8) | pending_[3];
    if (!isKnownPacketType(type)) {
        error_ = "unknown packet type " + std::to_string(type);
        return false;
    }
    if (length < packet::HeaderSize || length > packet::MaxPacketSize) {
        error_ = "bad packet length " + std::to_string(length);
        return false;
    }
    if (pending_.size() < length) {
        return false;
    }
    if (partial_ && partial_->type != type) {
        error_ = "packet type " + std::to_string(type) + " inside a message of type " +
                 std::to_string(partial_->type);
        return false;
    }
    if (!partial_) {
        partial_ = Message{type, status, {}};
    }
    const std::size_t body = length - packet::HeaderSize;
    if (partial_->payload.size() + body > maxMessage_) {
        error_ = "request over " + std::to_string(maxMessage_) + " bytes";
        return false;
    }
    partial_->payload.insert(partial_->payload.end(), pending_.begin() + packet::HeaderSize,
                             pending_.begin() + static_cast<std::ptrdiff_t>(length));
    partial_->status = status;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
    if (status & packet::StatusEom) {
        ready_.push_back(std::move(*partial_));
        partial_.reset();
    }
    return true;
}

std::optional<Message> MessageAssembler::next() {
    if (ready_.empty()) {
        return std::nullopt;
    }
    Message m = std::move(ready_.front());
    ready_.pop_front();
    return m;
}

std::optional<std::uint8_t> MessageAssembler::nextType() const {
    if (ready_.empty()) {
        return std::nullopt;
    }
    return ready_.front().type;
}

Bytes packetize(std::uint8_t type, ByteView payload, std::size_t packetSize, std::uint16_t spid,
                std::uint8_t extraStatus, bool endsMessage) {
    packetSize = std::clamp<std::size_t>(packetSize, 512, packet::MaxPacketSize);
    const std::size_t chunk = packetSize - packet::HeaderSize;
    Bytes out;
    out.reserve(payload.size() + (payload.size() / chunk + 1) * packet::HeaderSize);
    std::size_t offset = 0;
    std::uint8_t id = 1;
    do {
        const std::size_t n = std::min(chunk, payload.size() - offset);
        const bool last = endsMessage && offset + n == payload.size();
        const std::size_t length = n + packet::HeaderSize;
        out.push_back(type);
        out.push_back(static_cast<std::uint8_t>((last ? packet::StatusEom : 0) | extraStatus));
        out.push_back(static_cast<std::uint8_t>(length >> 8));
        out.push_back(static_cast<std::uint8_t>(length));
        out.push_back(static_cast<std::uint8_t>(spid >> 8));
        out.push_back(static_cast<std::uint8_t>(spid));
        out.push_back(id++);
        out.push_back(0);
        out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(offset),
                   payload.begin() + static_cast<std::ptrdiff_t>(offset + n));
        offset += n;
    } while (offset < payload.size());
    return out;
}

} // namespace tds
