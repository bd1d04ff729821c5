#pragma once
// A minimal ODBC client over unixODBC and the FreeTDS driver, for checking
// the test server against the driver the tool itself uses.

#include <QString>
#include <QStringList>

#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace odbc_check {

struct Diagnostic {
    QString state;
    long native = 0;
    QString text;
};

using Row = std::vector<std::optional<QString>>;

class OdbcClient {
public:
    OdbcClient();
    ~OdbcClient();
    OdbcClient(const OdbcClient&) = delete;
    OdbcClient& operator=(const OdbcClient&) = delete;

    // Connects with DRIVER={FreeTDS}; values are {}-quoted.  Applies the
    // isolation attribute first when asked.
    // `extra`: more connection string attributes, e.g. "Language=Spanish;".
    bool connect(int port, const QString& uid, const QString& pwd, const QString& database = {},
                 const QString& tdsVersion = QStringLiteral("7.3"), bool readUncommitted = false,
                 const QString& extra = {});
    // Runs `sql` and fetches every row of the first result as text.
    bool query(const QString& sql, std::vector<Row>& rows);
    // The same with its `?` markers bound to these texts, which FreeTDS
    // sends as an sp_executesql call with @P1, @P2, ...
    bool query(const QString& sql, const QStringList& parameters, std::vector<Row>& rows);
    // From another thread: cancels the statement running now, as the
    // driver does it, with an ATTENTION.
    void cancel();
    bool execute(const QString& sql);
    // The SQL types (SQL_GUID, SQL_BIT, ...) of the last query's columns.
    const std::vector<SQLSMALLINT>& columnTypes() const { return types_; }
    const std::vector<Diagnostic>& diagnostics() const { return diags_; }
    std::string lastMessages() const;

private:
    void collect(SQLSMALLINT type, SQLHANDLE h);

    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    bool connected_ = false;
    std::vector<Diagnostic> diags_;
    std::vector<SQLSMALLINT> types_;
    std::atomic<SQLHSTMT> running_{SQL_NULL_HSTMT};
};

} // namespace odbc_check
