#include "Recordset.h"

#include "Connection.h"
#include "Errors.h"
#include "platform/connection/DriverMessages.h"
#include "platform/odbc/Odbc.h"

namespace ado {

namespace {

constexpr int kCommandText = 1;

template <typename Step> decltype(auto) driverStep(Step&& step) {
    try {
        return step();
    } catch (const odbc::Error& error) {
        throw rt::RuntimeError(err::kUnspecified, connection::explained(error).description());
    }
}

template <typename T, typename Read> rt::Variant variantOf(Read&& read) {
    const auto value = read();
    return value ? rt::Variant(static_cast<T>(*value)) : rt::Variant(rt::Null{});
}

rt::Variant readValue(odbc::Statement& rows, SQLUSMALLINT column, SQLSMALLINT type) {
    switch (type) {
    case SQL_BIT:
        return variantOf<bool>([&] { return rows.integer(column); });
    case SQL_TINYINT:
    case SQL_SMALLINT:
        return variantOf<std::int16_t>([&] { return rows.integer(column); });
    case SQL_INTEGER:
        return variantOf<std::int32_t>([&] { return rows.integer(column); });
    case SQL_BIGINT:
        return variantOf<std::int64_t>([&] { return rows.integer(column); });
    case SQL_REAL:
        return variantOf<float>([&] { return rows.real(column); });
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return variantOf<double>([&] { return rows.real(column); });
    default:
        // Text, and every other type in its text form.
        return variantOf<QString>([&] { return rows.text(column); });
    }
}

bool validCursorType(int value) {
    return value >= cursorType::Unspecified && value <= cursorType::Static;
}
bool validLockType(int value) {
    return value == lockType::Unspecified ||
           (value >= lockType::ReadOnly && value <= lockType::BatchOptimistic);
}

} // namespace

Recordset::Recordset() = default;

Recordset::~Recordset() = default;

void Recordset::Open(const QString& source, Connection& activeConnection, int cursorType,
                     int lockType, int options) {
    if (rows_) {
        throw err::failure(err::kObjectOpen);
    }
    if (!validCursorType(cursorType) || !validLockType(lockType) ||
        (options != -1 && options != kCommandText)) {
        throw err::failure(err::kInvalidArgument);
    }
    odbc::Connection& link = activeConnection.openConnection();
    driverStep([&] {
        auto rows = std::make_unique<odbc::Statement>(link);
        rows->execute(source);
        rows_ = std::move(rows);
        describeColumns();
    });
    readRow();
}

bool Recordset::NextRecordset() {
    if (!rows_) {
        throw err::failure(err::kObjectClosed);
    }
    const bool another = driverStep([&] {
        if (!rows_->nextResult()) {
            return false;
        }
        describeColumns();
        return true;
    });
    if (!another) {
        Close();
        return false;
    }
    readRow();
    return true;
}

void Recordset::describeColumns() {
    const SQLSMALLINT count = rows_->columnCount();
    names_.clear();
    types_.clear();
    for (SQLSMALLINT i = 1; i <= count; ++i) {
        const odbc::ColumnInfo info = rows_->column(static_cast<SQLUSMALLINT>(i));
        names_.push_back(info.name);
        types_.push_back(info.sqlType);
    }
}

int Recordset::FieldCount() const {
    if (!rows_) {
        throw err::failure(err::kObjectClosed);
    }
    return static_cast<int>(names_.size());
}

QString Recordset::FieldName(int index) const {
    if (index < 0 || index >= FieldCount()) {
        throw err::failure(err::kItemNotFound);
    }
    return names_[static_cast<std::size_t>(index)];
}

void Recordset::readRow() {
    values_.clear();
    eof_ = true;
    driverStep([&] {
        if (names_.empty() || !rows_->fetch()) {
            return;
        }
        for (std::size_t i = 0; i < names_.size(); ++i) {
            values_.push_back(readValue(*rows_, static_cast<SQLUSMALLINT>(i + 1), types_[i]));
        }
        eof_ = false;
    });
}

bool Recordset::Eof() const {
    if (!rows_) {
        throw err::failure(err::kObjectClosed);
    }
    return eof_;
}

Field Recordset::Fields(const QString& name) const {
    if (!rows_) {
        throw err::failure(err::kObjectClosed);
    }
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (names_[i].compare(name, Qt::CaseInsensitive) == 0) {
            if (eof_) {
                throw err::failure(err::kNoCurrentRecord);
            }
            return Field(names_[i], values_[i]);
        }
    }
    throw err::failure(err::kItemNotFound);
}

void Recordset::MoveNext() {
    if (Eof()) {
        throw err::failure(err::kNoCurrentRecord);
    }
    readRow();
}

void Recordset::Close() {
    if (!rows_) {
        throw err::failure(err::kObjectClosed);
    }
    rows_.reset();
    values_.clear();
    eof_ = true;
}

int Recordset::State() const { return rows_ ? kStateOpen : kStateClosed; }

} // namespace ado
