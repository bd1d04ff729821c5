#pragma once
// The data-access Recordset and Field: the rows of one statement on an open
// Connection, read forward only as the server sends them.  Each row's values
// are read when the recordset moves onto it; a SQL NULL is a Null Variant.

#include "platform/runtime/Variant.h"

#include <QString>

#include <memory>
#include <vector>

namespace odbc {
class Statement;
}

namespace ado {

class Connection;

namespace cursorType {
constexpr int Unspecified = -1;
constexpr int ForwardOnly = 0;
constexpr int Keyset = 1;
constexpr int Dynamic = 2;
constexpr int Static = 3;
} // namespace cursorType
namespace lockType {
constexpr int Unspecified = -1;
constexpr int ReadOnly = 1;
constexpr int Pessimistic = 2;
constexpr int Optimistic = 3;
constexpr int BatchOptimistic = 4;
} // namespace lockType

class Field {
public:
    Field(QString name, rt::Variant value) : name_(std::move(name)), value_(std::move(value)) {}
    const QString& Name() const { return name_; }
    const rt::Variant& Value() const { return value_; }

private:
    QString name_;
    rt::Variant value_;
};

class Recordset {
public:
    Recordset();
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    // Runs the source text on the connection.  The rows are only ever read
    // forward, so every cursor type is served by a forward-only read (as a
    // provider may do) and the lock type changes nothing on the wire.
    void Open(const QString& source, Connection& activeConnection,
              int cursorType = cursorType::Unspecified, int lockType = lockType::Unspecified,
              int options = -1);
    // Moves to the next result of the source, when it gave several (a batch
    // of statements); false, and the recordset closed, when none is left.
    bool NextRecordset();
    // The library's EOF (that name is a macro of the C library).
    bool Eof() const;
    Field Fields(const QString& name) const;
    // The current result's columns: how many, and their names (0-based).
    int FieldCount() const;
    QString FieldName(int index) const;
    void MoveNext();
    void Close();
    int State() const;

private:
    void describeColumns();
    void readRow();

    std::unique_ptr<odbc::Statement> rows_;
    std::vector<QString> names_;
    std::vector<short> types_;
    std::vector<rt::Variant> values_;
    bool eof_ = true;
};

} // namespace ado
