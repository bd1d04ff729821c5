#include "Bytes.h"

namespace tds {

bool ByteReader::skip(std::size_t n) {
    if (n > remaining()) {
        return false;
    }
    pos_ += n;
    return true;
}

bool ByteReader::u8(std::uint8_t& v) {
    if (remaining() < 1) {
        return false;
    }
    v = data_[pos_++];
    return true;
}

bool ByteReader::u16le(std::uint16_t& v) {
    if (remaining() < 2) {
        return false;
    }
    v = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return true;
}

bool ByteReader::u16be(std::uint16_t& v) {
    if (remaining() < 2) {
        return false;
    }
    v = static_cast<std::uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
    pos_ += 2;
    return true;
}

bool ByteReader::u32le(std::uint32_t& v) {
    if (remaining() < 4) {
        return false;
    }
    v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | data_[pos_ + static_cast<std::size_t>(i)];
    }
    pos_ += 4;
    return true;
}

bool ByteReader::u32be(std::uint32_t& v) {
    if (remaining() < 4) {
        return false;
    }
    v = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        v = (v << 8) | data_[pos_ + i];
    }
    pos_ += 4;
    return true;
}

bool ByteReader::bytes(std::size_t n, ByteView& out) {
    if (n > remaining()) {
        return false;
    }
    out = data_.subspan(pos_, n);
    pos_ += n;
    return true;
}

bool utf16At(ByteView data, std::size_t offset, std::size_t chars, std::u16string& out) {
    if (offset > data.size() || chars > (data.size() - offset) / 2) {
        return false;
    }
    out.resize(chars);
    for (std::size_t i = 0; i < chars; ++i) {
        out[i] = static_cast<char16_t>(data[offset + 2 * i] | (data[offset + 2 * i + 1] << 8));
    }
    return true;
}

void ByteWriter::u16le(std::uint16_t v) {
    buf_.push_back(static_cast<std::uint8_t>(v));
    buf_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void ByteWriter::u16be(std::uint16_t v) {
    buf_.push_back(static_cast<std::uint8_t>(v >> 8));
    buf_.push_back(static_cast<std::uint8_t>(v));
}

void ByteWriter::u32le(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        buf_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

void ByteWriter::u32be(std::uint32_t v) {
    for (int i = 3; i >= 0; --i) {
        buf_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

void ByteWriter::u64le(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        buf_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

void ByteWriter::utf16(const std::u16string& s) {
    for (char16_t c : s) {
        u16le(static_cast<std::uint16_t>(c));
    }
}

void ByteWriter::patchU16le(std::size_t at, std::uint16_t v) {
    buf_[at] = static_cast<std::uint8_t>(v);
    buf_[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

} // namespace tds
