#pragma once
// Bounds-checked little helpers for reading and writing TDS byte streams.
// A ByteReader never reads past its end: every read reports failure instead,
// so the parsers above it can reject malformed input without undefined
// behaviour.  Free of Qt so that the readers can be fuzzed on their own.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tds {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

class ByteReader {
public:
    explicit ByteReader(ByteView data) : data_(data) {}

    std::size_t remaining() const { return data_.size() - pos_; }
    std::size_t position() const { return pos_; }
    bool skip(std::size_t n);
    bool u8(std::uint8_t& v);
    bool u16le(std::uint16_t& v);
    bool u16be(std::uint16_t& v);
    bool u32le(std::uint32_t& v);
    bool u32be(std::uint32_t& v);
    bool bytes(std::size_t n, ByteView& out);

private:
    ByteView data_;
    std::size_t pos_ = 0;
};

// Decodes `chars` UTF-16LE code units starting at byte `offset` of `data`.
// False when the range does not lie inside `data`.
bool utf16At(ByteView data, std::size_t offset, std::size_t chars, std::u16string& out);

class ByteWriter {
public:
    void u8(std::uint8_t v) { buf_.push_back(v); }
    void u16le(std::uint16_t v);
    void u16be(std::uint16_t v);
    void u32le(std::uint32_t v);
    void u32be(std::uint32_t v);
    void u64le(std::uint64_t v);
    void raw(ByteView b) { buf_.insert(buf_.end(), b.begin(), b.end()); }
    void utf16(const std::u16string& s);
    // Overwrites two little-endian bytes at `at` (for lengths known only later).
    void patchU16le(std::size_t at, std::uint16_t v);
    std::size_t size() const { return buf_.size(); }
    const Bytes& bytes() const { return buf_; }
    Bytes take() { return std::move(buf_); }

private:
    Bytes buf_;
};

// A two-byte little-endian length written in front of what follows it: the
// constructor reserves the field, the destructor fills in how many bytes
// were written since.  Scope one per length-prefixed structure.
class U16LengthPrefix {
public:
    explicit U16LengthPrefix(ByteWriter& out) : out_(out), at_(out.size()) { out_.u16le(0); }
    ~U16LengthPrefix() { out_.patchU16le(at_, static_cast<std::uint16_t>(out_.size() - at_ - 2)); }
    U16LengthPrefix(const U16LengthPrefix&) = delete;
    U16LengthPrefix& operator=(const U16LengthPrefix&) = delete;

private:
    ByteWriter& out_;
    std::size_t at_;
};

} // namespace tds
