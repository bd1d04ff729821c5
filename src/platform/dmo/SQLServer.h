#pragma once
// The management object model over ODBC and FreeTDS: a SQLServer object
// connects (SQL Server or integrated login), reports the server's major
// version and gives its Databases, which enumerates the databases in name
// order and finds one by name; a Database can remove itself.  Every failure
// is a RuntimeError numbered as Failure.h says.  Releasing a connected
// SQLServer closes its connection, unless a Database taken from it still
// lives; then the connection closes with the last of them.

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

namespace odbc {
class Statement;
}

namespace dmo {

namespace detail {
struct Session;
}

// The rows of a statement run by ExecuteWithResults, every value as text
// (none for NULL).
struct QueryResults {
    QStringList columns;
    QList<QList<std::optional<QString>>> rows;
};

// A session that has a database in use, as the server lists it.
struct UsingSession {
    QString login;
    QString host;
    QString program;
};

class Database {
public:
    const QString& Name() const { return name_; }
    // Drops the database on the server.
    void Remove();
    // The other sessions that use the database (master.dbo.sysprocesses).
    QList<UsingSession> UsingSessions() const;
    // SET SINGLE_USER WITH ROLLBACK IMMEDIATE: ends every other session that
    // uses the database; SET MULTI_USER gives it back to everyone, SET
    // RESTRICTED_USER to the owners and administrators.
    void SetSingleUserClosingSessions();
    // SET SINGLE_USER WITH NO_WAIT: false, and nothing changed, while
    // another session uses the database (5061 or 5070); else every other
    // session is kept out from now on.
    bool SetSingleUserIfAlone();
    void SetMultiUser();
    void SetRestrictedUser();

private:
    friend class Databases;
    Database(std::shared_ptr<detail::Session> session, QString name);

    std::shared_ptr<detail::Session> session_;
    QString name_;
};

class Databases {
public:
    // Walks the server's databases as the server sends them.
    class iterator {
    public:
        using value_type = Database;
        using difference_type = std::ptrdiff_t;

        iterator(iterator&&) noexcept;
        iterator& operator=(iterator&&) noexcept;
        ~iterator();

        Database operator*() const;
        iterator& operator++();
        void operator++(int) { ++*this; }
        friend bool operator==(const iterator& it, std::default_sentinel_t) {
            return it.rows_ == nullptr;
        }

    private:
        friend class Databases;
        explicit iterator(std::shared_ptr<detail::Session> session);
        void advance();

        std::shared_ptr<detail::Session> session_;
        std::unique_ptr<odbc::Statement> rows_;
        QString current_;
    };

    iterator begin() const;
    std::default_sentinel_t end() const { return {}; }

    // The database of that name, matched as NameMatch.h says.  The list it
    // matches in also tells the server process of the connection
    // (SQLServer::ProcessID), which a statement that changes the server may
    // need known before it is sent.
    Database Item(const QString& name) const;

private:
    friend class SQLServer;
    explicit Databases(std::shared_ptr<detail::Session> session);

    std::shared_ptr<detail::Session> session_;
};

class SQLServer {
public:
    SQLServer();
    ~SQLServer();
    SQLServer(const SQLServer&) = delete;
    SQLServer& operator=(const SQLServer&) = delete;

    // True: integrated (Windows) login; false: SQL Server login.
    void setLoginSecure(bool value) { loginSecure_ = value; }
    bool LoginSecure() const { return loginSecure_; }
    void setLogin(const QString& value) { login_ = value; }
    const QString& Login() const { return login_; }
    void setPassword(const QString& value) { password_ = value; }

    // Login and password given here take the place of Login and Password.
    void Connect(const QString& serverName, const std::optional<QString>& login = std::nullopt,
                 const std::optional<QString>& password = std::nullopt);
    std::int32_t VersionMajor() const;
    // The server process (@@SPID) of the connection: the statements it runs
    // show under it in sys.dm_exec_requests.
    std::int32_t ProcessID() const;
    dmo::Databases Databases() const;
    // Runs a statement and reads every row of its first result; the
    // parameters, when given, go to its markers (?) in order, as values.
    QueryResults ExecuteWithResults(const QString& command,
                                    const std::vector<QString>& parameters = {}) const;
    void DisConnect();

private:
    friend class AbortableOperation;
    std::shared_ptr<detail::Session> session_;
    bool loginSecure_ = false;
    QString login_;
    QString password_;
};

} // namespace dmo
