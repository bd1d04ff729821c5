#pragma once
// The data-access Connection: an OLE DB connection string naming the
// SQL Server Native Client provider, opened over ODBC and FreeTDS.  The
// provider chooses the TDS version ("SQLNCLI10" 7.3, "SQLNCLI" 7.2); any
// other provider is error 3706.  The isolation level is applied once the
// connection is open, with its first statement.  Releasing an open
// Connection closes it, or gives its session back to the command's share.

#include <QString>

#include <memory>

namespace odbc {
class Connection;
}
namespace connection {
class Link;
}

namespace ado {

// Isolation levels and cursor locations, by their library values.
namespace isolation {
constexpr int Unspecified = -1;
constexpr int ReadUncommitted = 256;
constexpr int ReadCommitted = 4096;
constexpr int RepeatableRead = 65536;
constexpr int Serializable = 1048576;
} // namespace isolation
namespace cursor {
constexpr int UseServer = 2;
constexpr int UseClient = 3;
} // namespace cursor
constexpr int kOptionUnspecified = -1;
constexpr int kStateClosed = 0;
constexpr int kStateOpen = 1;

class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void setConnectionString(const QString& value);
    const QString& ConnectionString() const { return connectionString_; }
    void setIsolationLevel(int value);
    int IsolationLevel() const { return isolationLevel_; }
    void setCursorLocation(int value);
    int CursorLocation() const { return cursorLocation_; }

    // An empty connection string means ConnectionString; a user or password
    // given here takes the place of the string's own.
    void Open(const QString& connectionString = QString(), const QString& userId = QString(),
              const QString& password = QString(), int options = kOptionUnspecified);
    void Close();
    int State() const;

    // The open ODBC connection, for the recordsets on it (error 3709 if closed).
    odbc::Connection& openConnection();
    // The provider's "DBMS Version" property: the server's version,
    // "MM.mm.bbbb", as it answered the login.
    QString DbmsVersion() const;

private:
    std::unique_ptr<connection::Link> link_;
    QString connectionString_;
    int isolationLevel_ = isolation::ReadCommitted;
    int cursorLocation_ = cursor::UseServer;
};

// The TDS version a provider speaks; error 3706 for any other provider.
QString tdsVersionFor(const QString& provider);

} // namespace ado
