#pragma once
// Thin RAII over unixODBC: an environment and a connection per Connection
// object, statements on it, and failures as run-time errors that carry the
// driver's diagnostic records.  All text crosses the ODBC boundary as UTF-16
// (the wide entry points), so names in any script round-trip.
//
// A login waits as long as its caller says; a statement as long as its
// connection's statement time-out, unless it is freed of its limit.

#include "platform/runtime/RuntimeError.h"

#include <QString>

#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace odbc {

struct DiagRecord {
    QString sqlState;
    std::int32_t nativeError = 0;
    QString text;
};

// True for the numbers FreeTDS gives its own messages (0 for none).
bool isDriverMessage(std::int32_t nativeError);

// A failure of an ODBC call, or of this layer itself.  Its description joins
// the texts of the diagnostic records, one per line, after the cause when a
// caller has told one.
class Error : public rt::RuntimeError {
public:
    // The generic failure number (E_FAIL) that the object layers start from.
    static constexpr std::int32_t kUnspecified = -2147467259;

    explicit Error(const QString& description);
    explicit Error(std::vector<DiagRecord> records);
    // A failure whose cause the caller found out: the cause stands before
    // the driver's text.
    Error(const QString& cause, std::vector<DiagRecord> records);

    const std::vector<DiagRecord>& records() const { return records_; }
    // The cause told, or the empty text.
    const QString& cause() const { return cause_; }
    // The number of the first error that came from the server, if any; the
    // driver's own messages (it cannot connect, the link broke) have none,
    // and the server's informational ones do not count.
    std::optional<std::int32_t> serverMessageNumber() const;

private:
    std::vector<DiagRecord> records_;
    QString cause_;
};

// One ODBC handle, freed with its owner.
class Handle {
public:
    Handle(SQLSMALLINT type, SQLHANDLE parent);
    ~Handle();
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    SQLHANDLE get() const { return handle_; }
    SQLSMALLINT type() const { return type_; }
    // Throws the handle's diagnostics when rc is a failure.
    void check(SQLRETURN rc) const;

private:
    SQLSMALLINT type_;
    SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// Something outside this layer that watches a connection's statements: a
// bound on a statement's whole time, say, which the driver does not keep.
class StatementWatch {
public:
    virtual ~StatementWatch() = default;
    // A statement with this query time-out starts running; zero: no limit.
    virtual void started(std::chrono::seconds queryTimeout) = 0;
    // The statement that started has ended, whatever its outcome.
    virtual void ended() = 0;
    // The cause to stand before the driver's text of a failure of the
    // running statement; empty when the watch did nothing to it.
    virtual QString interruption() const = 0;
};

class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // A DSN-less connect with the complete connection string, no prompting,
    // giving up after `loginTimeout`.
    void connect(const QString& connectionString, std::chrono::seconds loginTimeout);
    // SQLGetInfo(SQL_DRIVER_VER) of the connected driver, "MM.mm.bbbb".
    QString driverVersion() const;
    // SQLGetInfo(SQL_DBMS_VER): the server's version as its login
    // acknowledgement gave it, "MM.mm.bbbb"; no round trip.
    QString serverVersion() const;
    // SQL_ATTR_CURRENT_CATALOG: the database the session is in, as the
    // server last said; no round trip.
    QString currentDatabase() const;
    // Closes the link; statements still open on it become unusable.
    void disconnect() noexcept;
    bool connected() const { return connected_; }

    void setAttribute(SQLINTEGER attribute, SQLULEN value);
    SQLULEN attribute(SQLINTEGER attribute) const;

    // The time-out every statement made afterwards starts with; zero, the
    // default, lets them wait without limit.
    void setStatementTimeout(std::chrono::seconds limit) { statementTimeout_ = limit; }
    std::chrono::seconds statementTimeout() const { return statementTimeout_; }

    // Told of every statement made afterwards, one at a time.
    void setStatementWatch(std::shared_ptr<StatementWatch> watch) { watch_ = std::move(watch); }
    const std::shared_ptr<StatementWatch>& statementWatch() const { return watch_; }

    // A SET the session owes before its next statement (its isolation
    // level, say): sent at the head of that statement's batch, so that it
    // costs no round trip of its own; sent again with the following one
    // when that statement fails, since the server may not have run it.
    void setPreamble(const QString& sql) { preamble_ = sql; }
    const QString& preamble() const { return preamble_; }

    const Handle& handle() const { return dbc_; }

private:
    Handle env_;
    Handle dbc_;
    bool connected_ = false;
    std::chrono::seconds statementTimeout_{0};
    std::shared_ptr<StatementWatch> watch_;
    QString preamble_;
};

// Stops a statement that runs on another thread: cancel() sends the server
// an attention (SQLCancel, which the driver allows from any thread), and
// the statement's call then fails.  A statement is cancelled only while
// its call runs, never before it starts or after it ended, when the
// driver would take SQLCancel for a call on the calling thread; so a
// cancel that comes just before the call reaches the driver is lost, and
// the caller repeats it until the statement has ended.
class Cancellation {
public:
    // From any thread.  Marks the cancellation asked for in any case.
    void cancel();
    bool asked() const;

private:
    friend class Statement;
    void running(SQLHANDLE statement);
    void ended();

    mutable std::mutex mutex_;
    SQLHANDLE running_ = SQL_NULL_HANDLE;
    bool asked_ = false;
};

struct ColumnInfo {
    QString name;
    SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;
};

// A statement on a connected Connection, bounded by its statement time-out;
// it must end before the connection.
class Statement {
public:
    explicit Statement(Connection& connection);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Bounds the statement's calls; zero lets them wait without limit.
    void setQueryTimeout(std::chrono::seconds limit);
    void execute(const QString& sql);
    // With text parameters for the statement's markers (?), in order: each
    // goes to the server as an nvarchar value, never as part of the text.
    void execute(const QString& sql, const std::vector<QString>& parameters);
    // Lets `cancellation` stop the calls of this statement.
    void setCancellation(std::shared_ptr<Cancellation> cancellation) {
        cancellation_ = std::move(cancellation);
    }
    // The server's messages that came with the last call that succeeded
    // (SQL_SUCCESS_WITH_INFO): progress, page counts, a success message.
    // A failure carries its own in the Error's records.
    const std::vector<DiagRecord>& messages() const { return messages_; }
    // Reads past every remaining result, so that an error the server sends
    // after the first one is not lost.
    void finishResults();
    // Moves to the next result; false when none is left.
    bool nextResult();

    // Moves to the next row of the current result; false when none is left.
    bool fetch();
    SQLSMALLINT columnCount() const;
    ColumnInfo column(SQLUSMALLINT number) const;

    // The current row's value of a column (1-based); none for SQL NULL.
    std::optional<QString> text(SQLUSMALLINT number);
    std::optional<std::int64_t> integer(SQLUSMALLINT number);
    std::optional<double> real(SQLUSMALLINT number);

    SQLULEN attribute(SQLINTEGER attribute) const;

private:
    template <typename T> std::optional<T> fixed(SQLUSMALLINT number, SQLSMALLINT cType);
    // Throws the statement's diagnostics when rc is a failure, after the
    // watch's cause when it interrupted the statement.
    void check(SQLRETURN rc) const;

    // Runs one call that executes: watched, cancellable, its messages kept.
    template <typename Call> SQLRETURN run(Call&& call);

    Connection& connection_;
    Handle stmt_;
    std::shared_ptr<StatementWatch> watch_;
    bool watched_ = false; // the watch was told this statement started
    std::shared_ptr<Cancellation> cancellation_;
    std::vector<DiagRecord> messages_;
};

} // namespace odbc
