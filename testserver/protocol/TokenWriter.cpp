#include "TokenWriter.h"

#include "TdsVersion.h"

#include <algorithm>
#include <cstring>

namespace tds {

const std::uint8_t DefaultCollation[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};

namespace {
constexpr std::uint8_t TokLoginAck = 0xAD;
constexpr std::uint8_t TokEnvChange = 0xE3;
constexpr std::uint8_t TokInfo = 0xAB;
constexpr std::uint8_t TokError = 0xAA;
constexpr std::uint8_t TokColMetadata = 0x81;
constexpr std::uint8_t TokRow = 0xD1;
constexpr std::uint8_t TokDone = 0xFD;

constexpr std::uint8_t TypeNVarChar = 0xE7;
constexpr std::uint8_t TypeIntN = 0x26;
constexpr std::uint8_t TypeInt4 = 0x38;
constexpr std::uint8_t TypeInt2 = 0x34;
constexpr std::uint8_t TypeBitN = 0x68;
constexpr std::uint8_t TypeGuid = 0x24;
constexpr std::uint8_t TypeDateTimeN = 0x6F;
constexpr std::uint8_t TypeFloatN = 0x6D;
constexpr std::uint8_t TypeNumericN = 0x6C;
// NUMERIC(20,0): a sign byte and 12 bytes of magnitude, as precisions 20 to
// 28 take.
constexpr std::uint8_t NumericPrecision = 20;
constexpr std::uint8_t NumericLength = 13;
constexpr std::uint16_t NullableFlag = 0x0001;

// B_VARCHAR and US_VARCHAR carry at most 255 and 65535 code units.
std::u16string capped(const std::u16string& s, std::size_t max) {
    return s.size() <= max ? s : s.substr(0, max);
}
} // namespace

void TokenWriter::bVarchar(const std::u16string& s) {
    const std::u16string t = capped(s, 255);
    out_.u8(static_cast<std::uint8_t>(t.size()));
    out_.utf16(t);
}

void TokenWriter::usVarchar(const std::u16string& s) {
    const std::u16string t = capped(s, 65535);
    out_.u16le(static_cast<std::uint16_t>(t.size()));
    out_.utf16(t);
}

void TokenWriter::loginAck(std::uint32_t tdsVersion, const std::u16string& progName, int major,
                           int minor, int build) {
    out_.u8(TokLoginAck);
    const U16LengthPrefix length(out_);
    out_.u8(1); // interface: T-SQL
    out_.u32be(tdsVersion);
    bVarchar(progName);
    out_.u8(static_cast<std::uint8_t>(major));
    out_.u8(static_cast<std::uint8_t>(minor));
    out_.u8(static_cast<std::uint8_t>(build >> 8));
    out_.u8(static_cast<std::uint8_t>(build));
}

void TokenWriter::envChange(std::uint8_t type, const std::u16string& newValue,
                            const std::u16string& oldValue) {
    out_.u8(TokEnvChange);
    const U16LengthPrefix length(out_);
    out_.u8(type);
    bVarchar(newValue);
    bVarchar(oldValue);
}

void TokenWriter::envChangeCollation(const std::array<std::uint8_t, 5>& collation) {
    out_.u8(TokEnvChange);
    const U16LengthPrefix length(out_);
    out_.u8(envchange::Collation);
    out_.u8(5);
    out_.raw(collation);
    out_.u8(0);
}

void TokenWriter::envChangeRouting(const std::u16string& host, std::uint16_t port) {
    out_.u8(TokEnvChange);
    const U16LengthPrefix length(out_);
    out_.u8(envchange::Routing);
    {
        const U16LengthPrefix value(out_);
        out_.u8(0); // TCP
        out_.u16le(port);
        out_.u16le(static_cast<std::uint16_t>(host.size()));
        for (const char16_t c : host) {
            out_.u16le(static_cast<std::uint16_t>(c));
        }
    }
    out_.u16le(0); // no old value
}

void TokenWriter::message(const ServerMessage& m) {
    out_.u8(m.severity > 10 ? TokError : TokInfo);
    const U16LengthPrefix length(out_);
    out_.u32le(static_cast<std::uint32_t>(m.number));
    out_.u8(m.state);
    out_.u8(m.severity);
    usVarchar(m.text);
    bVarchar(m.serverName);
    bVarchar(m.procName);
    if (atLeast72(version_)) {
        out_.u32le(static_cast<std::uint32_t>(m.line));
    } else {
        out_.u16le(static_cast<std::uint16_t>(m.line));
    }
}

void TokenWriter::columns(const std::vector<Column>& cols) {
    columns_ = cols;
    out_.u8(TokColMetadata);
    out_.u16le(static_cast<std::uint16_t>(cols.size()));
    for (const Column& c : cols) {
        if (atLeast72(version_)) {
            out_.u32le(0); // user type
        } else {
            out_.u16le(0);
        }
        out_.u16le(c.nullable ? NullableFlag : 0);
        switch (c.type) {
        case Column::Type::NVarChar:
            out_.u8(TypeNVarChar);
            out_.u16le(static_cast<std::uint16_t>(std::clamp(c.maxChars, 1, 4000) * 2));
            out_.raw(DefaultCollation);
            break;
        case Column::Type::Int:
            if (c.nullable) {
                out_.u8(TypeIntN);
                out_.u8(4);
            } else {
                out_.u8(TypeInt4);
            }
            break;
        case Column::Type::SmallInt:
            out_.u8(TypeInt2);
            break;
        // These go in their nullable form whatever the column's nullability,
        // as one length byte tells NULL (0) from a value.
        case Column::Type::Bit:
            out_.u8(TypeBitN);
            out_.u8(1);
            break;
        case Column::Type::UniqueIdentifier:
            out_.u8(TypeGuid);
            out_.u8(16);
            break;
        case Column::Type::DateTime:
            out_.u8(TypeDateTimeN);
            out_.u8(8);
            break;
        case Column::Type::Real:
            out_.u8(TypeFloatN);
            out_.u8(4);
            break;
        case Column::Type::TinyInt:
            out_.u8(TypeIntN);
            out_.u8(1);
            break;
        case Column::Type::BigInt:
            out_.u8(TypeIntN);
            out_.u8(8);
            break;
        case Column::Type::Numeric:
            out_.u8(TypeNumericN);
            out_.u8(NumericLength);
            out_.u8(NumericPrecision);
            out_.u8(0); // scale
            break;
        }
        bVarchar(c.name);
    }
}

void TokenWriter::row(const std::vector<Value>& values) {
    rowStarts_.push_back(out_.size());
    out_.u8(TokRow);
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const Column& c = columns_[i];
        const Value& v = i < values.size() ? values[i] : Value{};
        switch (c.type) {
        case Column::Type::NVarChar:
            if (const auto* s = std::get_if<std::u16string>(&v)) {
                const std::u16string t = capped(*s, static_cast<std::size_t>(c.maxChars));
                out_.u16le(static_cast<std::uint16_t>(t.size() * 2));
                out_.utf16(t);
            } else {
                out_.u16le(0xFFFF);
            }
            break;
        case Column::Type::Int: {
            const auto* n = std::get_if<std::int32_t>(&v);
            if (c.nullable) {
                out_.u8(n ? 4 : 0);
            }
            if (n || !c.nullable) {
                out_.u32le(static_cast<std::uint32_t>(n ? *n : 0));
            }
            break;
        }
        case Column::Type::SmallInt: {
            const auto* n = std::get_if<std::int32_t>(&v);
            out_.u16le(static_cast<std::uint16_t>(n ? *n : 0));
            break;
        }
        default:
            nullableValue(c.type, v);
            break;
        }
    }
}

void TokenWriter::nullableValue(Column::Type type, const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) {
        out_.u8(0);
        return;
    }
    switch (type) {
    case Column::Type::Bit:
        out_.u8(1);
        out_.u8(std::get<bool>(v) ? 1 : 0);
        break;
    case Column::Type::UniqueIdentifier: {
        const auto& b = std::get<Guid>(v).bytes;
        out_.u8(16);
        // The first three groups little-endian, the last two as written.
        const std::array<std::uint8_t, 16> wire = {b[3],  b[2],  b[1],  b[0], b[5],  b[4],
                                                   b[7],  b[6],  b[8],  b[9], b[10], b[11],
                                                   b[12], b[13], b[14], b[15]};
        out_.raw(wire);
        break;
    }
    case Column::Type::DateTime: {
        const DateTime& d = std::get<DateTime>(v);
        out_.u8(8);
        out_.u32le(static_cast<std::uint32_t>(d.days));
        out_.u32le(d.ticks);
        break;
    }
    case Column::Type::Real: {
        const float f = std::get<float>(v);
        std::uint32_t bits = 0;
        std::memcpy(&bits, &f, sizeof bits);
        out_.u8(4);
        out_.u32le(bits);
        break;
    }
    case Column::Type::TinyInt:
        out_.u8(1);
        out_.u8(static_cast<std::uint8_t>(std::get<std::int32_t>(v)));
        break;
    case Column::Type::BigInt:
        out_.u8(8);
        out_.u64le(static_cast<std::uint64_t>(std::get<std::int64_t>(v)));
        break;
    case Column::Type::Numeric: {
        const std::int64_t n = std::get<std::int64_t>(v);
        out_.u8(NumericLength);
        out_.u8(n < 0 ? 0 : 1); // 1: positive
        // The magnitude, little-endian; the top four bytes stay zero.
        out_.u64le(n < 0 ? static_cast<std::uint64_t>(0) - static_cast<std::uint64_t>(n)
                         : static_cast<std::uint64_t>(n));
        out_.u32le(0);
        break;
    }
    default:
        out_.u8(0);
        break;
    }
}

void TokenWriter::sspi(ByteView token) {
    out_.u8(0xED);
    out_.u16le(static_cast<std::uint16_t>(token.size()));
    out_.raw(token);
}

void TokenWriter::done(std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount) {
    out_.u8(TokDone);
    out_.u16le(status);
    out_.u16le(curCmd);
    if (atLeast72(version_)) {
        out_.u64le(rowCount);
    } else {
        out_.u32le(static_cast<std::uint32_t>(rowCount));
    }
}

} // namespace tds
