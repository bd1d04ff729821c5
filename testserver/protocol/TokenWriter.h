#pragma once
// Writes the token stream of a server response in the layout of the
// negotiated TDS version: LOGINACK, ENVCHANGE, INFO and ERROR messages,
// result sets (COLMETADATA and ROW for NVARCHAR, INT, SMALLINT, TINYINT,
// BIGINT, NUMERIC(20,0), BIT, UNIQUEIDENTIFIER, DATETIME and REAL columns,
// NULL included) and DONE with its status and row count.

#include "Bytes.h"

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace tds {

namespace done {
constexpr std::uint16_t Final = 0x0000;
constexpr std::uint16_t More = 0x0001;
constexpr std::uint16_t Error = 0x0002;
constexpr std::uint16_t Count = 0x0010;
constexpr std::uint16_t Attention = 0x0020;
constexpr std::uint16_t ServerError = 0x0100;
} // namespace done

namespace curcmd {
constexpr std::uint16_t None = 0x0000;
constexpr std::uint16_t Select = 0x00C1;
constexpr std::uint16_t DropDatabase = 0x00CB;
constexpr std::uint16_t Use = 0x00C5;
constexpr std::uint16_t Set = 0x00B9;
constexpr std::uint16_t AlterDatabase = 0x00D9;
constexpr std::uint16_t Execute = 0x00E0;
} // namespace curcmd

namespace envchange {
constexpr std::uint8_t Database = 1;
constexpr std::uint8_t Language = 2;
constexpr std::uint8_t PacketSize = 4;
constexpr std::uint8_t Collation = 7;
constexpr std::uint8_t Routing = 20;
} // namespace envchange

struct Column {
    // Numeric: NUMERIC(20,0), as msdb keeps byte counts.
    enum class Type {
        NVarChar,
        Int,
        SmallInt,
        Bit,
        UniqueIdentifier,
        DateTime,
        Real,
        TinyInt,
        BigInt,
        Numeric
    };
    std::u16string name;
    Type type = Type::NVarChar;
    int maxChars = 128; // NVARCHAR only
    bool nullable = true;
};

// A uniqueidentifier in the order its text is written (the wire swaps the
// first three groups).
struct Guid {
    std::array<std::uint8_t, 16> bytes{};
    friend bool operator==(const Guid&, const Guid&) = default;
    friend auto operator<=>(const Guid&, const Guid&) = default;
};

// A datetime as TDS carries it: days since 1900-01-01 and 1/300 s ticks
// since midnight.
struct DateTime {
    std::int32_t days = 0;
    std::uint32_t ticks = 0;
    friend bool operator==(const DateTime&, const DateTime&) = default;
    friend auto operator<=>(const DateTime&, const DateTime&) = default;
};

// One cell: NULL, an integer (INT, SMALLINT, TINYINT), a text, a bit, a
// real, a uniqueidentifier, a datetime or a 64-bit integer (BIGINT,
// NUMERIC(20,0)).
using Value = std::variant<std::monostate, std::int32_t, std::u16string, bool, float, Guid,
                           DateTime, std::int64_t>;

struct ServerMessage {
    std::int32_t number = 0;
    std::uint8_t state = 1;
    std::uint8_t severity = 0; // the class: up to 10 INFO, above ERROR
    std::u16string text;
    std::u16string serverName;
    std::u16string procName;
    std::int32_t line = 1;
};

class TokenWriter {
public:
    explicit TokenWriter(std::uint32_t tdsVersion) : version_(tdsVersion) {}

    // SSPI: the server's security token of an integrated login (0xED).
    void sspi(ByteView token);
    void loginAck(std::uint32_t tdsVersion, const std::u16string& progName, int major, int minor,
                  int build);
    void envChange(std::uint8_t type, const std::u16string& newValue,
                   const std::u16string& oldValue);
    // The server's collation, as its five TDS bytes.
    void envChangeCollation(const std::array<std::uint8_t, 5>& collation);
    // The client is to go on at host:port over TCP.
    void envChangeRouting(const std::u16string& host, std::uint16_t port);
    // INFO below severity 11, ERROR from 11 up, as SQL Server sends them.
    void message(const ServerMessage& m);
    void columns(const std::vector<Column>& cols);
    // A row of the last columns() written; values must match their types.
    void row(const std::vector<Value>& values);
    void done(std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount);

    std::size_t size() const { return out_.size(); }
    // Where each ROW token written so far begins, for cutting a result short.
    const std::vector<std::size_t>& rowStarts() const { return rowStarts_; }
    const Bytes& bytes() const { return out_.bytes(); }
    // The bytes written so far; the writer goes on empty.
    Bytes take() {
        rowStarts_.clear();
        return out_.take();
    }

private:
    void bVarchar(const std::u16string& s);
    void usVarchar(const std::u16string& s);
    // A BITN, GUID, DATETIMN, FLTN, INTN or NUMERICN cell: its length byte,
    // then its bytes.
    void nullableValue(Column::Type type, const Value& v);

    std::uint32_t version_;
    std::vector<Column> columns_;
    std::vector<std::size_t> rowStarts_;
    ByteWriter out_;
};

// The five collation bytes of SQL_Latin1_General_CP1_CI_AS.
extern const std::uint8_t DefaultCollation[5];

} // namespace tds
