#include "SQLServer.h"

#include "Failure.h"
#include "NameMatch.h"
#include "Quoting.h"
#include "Session.h"
#include "platform/connection/Connect.h"
#include "platform/connection/Link.h"
#include "platform/odbc/Odbc.h"

#include <QStringList>

namespace dmo {

namespace {

const QString kDatabasesQuery =
    QStringLiteral("SELECT name FROM master.dbo.sysdatabases ORDER BY name");

} // namespace

Database::Database(std::shared_ptr<detail::Session> session, QString name)
    : session_(std::move(session)), name_(std::move(name)) {}

void Database::Remove() {
    guarded([&] {
        odbc::Statement drop(session_->connected());
        // The server may still complete a drop it was given: reporting a
        // failure then would be false, so the drop waits for its answer.
        drop.setQueryTimeout(std::chrono::seconds(0));
        drop.execute(QStringLiteral("DROP DATABASE ") + bracketQuoted(name_));
        drop.finishResults();
    });
}

namespace {

// sysprocesses pads its nchar columns with blanks.
QString unpadded(const std::optional<QString>& value) {
    QString text = value.value_or(QString());
    while (text.endsWith(u' ')) {
        text.chop(1);
    }
    return text;
}

// A change of the database's state: like a drop, it waits for the server.
void alter(detail::Session& session, const QString& name, const QString& change) {
    guarded([&] {
        odbc::Statement statement(session.connected());
        statement.setQueryTimeout(std::chrono::seconds(0));
        statement.execute(QStringLiteral("ALTER DATABASE ") + bracketQuoted(name) +
                          QStringLiteral(" SET ") + change);
        statement.finishResults();
    });
}

} // namespace

QList<UsingSession> Database::UsingSessions() const {
    return guarded([&] {
        odbc::Statement query(session_->connected());
        query.execute(QStringLiteral("SELECT loginame, hostname, program_name FROM "
                                     "master.dbo.sysprocesses WHERE dbid = DB_ID(") +
                      quotedText(name_) + u')');
        QList<UsingSession> sessions;
        while (query.fetch()) {
            sessions.append(
                {unpadded(query.text(1)), unpadded(query.text(2)), unpadded(query.text(3))});
        }
        query.finishResults();
        return sessions;
    });
}

void Database::SetSingleUserClosingSessions() {
    alter(*session_, name_, QStringLiteral("SINGLE_USER WITH ROLLBACK IMMEDIATE"));
}

bool Database::SetSingleUserIfAlone() {
    // Other sessions in it: SQL Server says so with either of these.
    constexpr std::int32_t kLockNotPlaced = 5061;
    constexpr std::int32_t kOthersUsingIt = 5070;
    try {
        odbc::Statement statement(session_->connected());
        statement.setQueryTimeout(std::chrono::seconds(0));
        statement.execute(QStringLiteral("ALTER DATABASE ") + bracketQuoted(name_) +
                          QStringLiteral(" SET SINGLE_USER WITH NO_WAIT"));
        statement.finishResults();
        return true;
    } catch (const odbc::Error& error) {
        // The driver orders its records as it likes: any of them may say so.
        for (const odbc::DiagRecord& record : error.records()) {
            if (record.nativeError == kLockNotPlaced || record.nativeError == kOthersUsingIt) {
                return false;
            }
        }
        throw failureFrom(error);
    }
}

void Database::SetMultiUser() { alter(*session_, name_, QStringLiteral("MULTI_USER")); }

void Database::SetRestrictedUser() { alter(*session_, name_, QStringLiteral("RESTRICTED_USER")); }

Databases::iterator::iterator(std::shared_ptr<detail::Session> session)
    : session_(std::move(session)) {
    guarded([&] {
        rows_ = std::make_unique<odbc::Statement>(session_->connected());
        rows_->execute(kDatabasesQuery);
    });
    advance();
}

Databases::iterator::iterator(iterator&&) noexcept = default;
Databases::iterator& Databases::iterator::operator=(iterator&&) noexcept = default;
Databases::iterator::~iterator() = default;

void Databases::iterator::advance() {
    guarded([&] {
        if (!rows_->fetch()) {
            rows_.reset();
            return;
        }
        current_ = rows_->text(1).value_or(QString());
    });
}

Database Databases::iterator::operator*() const { return Database(session_, current_); }

Databases::iterator& Databases::iterator::operator++() {
    advance();
    return *this;
}

Databases::Databases(std::shared_ptr<detail::Session> session) : session_(std::move(session)) {}

Databases::iterator Databases::begin() const { return iterator(session_); }

Database Databases::Item(const QString& name) const {
    QStringList names;
    guarded([&] {
        odbc::Statement rows(session_->connected());
        rows.execute(QStringLiteral(
            "SELECT name, @@SPID AS spid FROM master.dbo.sysdatabases ORDER BY name"));
        while (rows.fetch()) {
            names << rows.text(1).value_or(QString());
            session_->processId = static_cast<std::int32_t>(rows.integer(2).value_or(0));
        }
        rows.finishResults();
    });
    return Database(session_, matchingName(names, name));
}

SQLServer::SQLServer() : session_(std::make_shared<detail::Session>()) {}

SQLServer::~SQLServer() = default;

void SQLServer::Connect(const QString& serverName, const std::optional<QString>& login,
                        const std::optional<QString>& password) {
    if (session_->isConnected()) {
        throw rt::RuntimeError(kNoServerMessage,
                               QStringLiteral("[SQL-DMO]El objeto ya está conectado."));
    }
    guarded([&] {
        // In master, not the login's default database: that one may be the
        // database to remove, which the server will not drop while this very
        // session uses it.
        session_->link = connection::connect(
            {serverName, loginSecure_ ? std::nullopt : std::optional(login.value_or(login_)),
             password.value_or(password_), QStringLiteral("master"), QStringLiteral("7.3")});
    });
}

// The version the server gave with its login acknowledgement, as SQL
// Server's SERVERPROPERTY('ProductVersion') gives it too: it costs no
// statement.
std::int32_t SQLServer::VersionMajor() const {
    return guarded([&] {
        const QString version = session_->connected().serverVersion();
        bool isNumber = false;
        const int major = version.section(u'.', 0, 0).toInt(&isNumber);
        if (!isNumber) {
            throw rt::RuntimeError(
                kNoServerMessage,
                QStringLiteral("[SQL-DMO]El servidor no ha dado una versión válida: '%1'.")
                    .arg(version));
        }
        return static_cast<std::int32_t>(major);
    });
}

Databases SQLServer::Databases() const { return dmo::Databases(session_); }

std::int32_t SQLServer::ProcessID() const {
    if (!session_->processId) {
        const QueryResults r = ExecuteWithResults(QStringLiteral("SELECT @@SPID"));
        session_->processId =
            r.rows.isEmpty() ? 0 : r.rows.first().value(0).value_or(QString()).toInt();
    }
    return *session_->processId;
}

QueryResults SQLServer::ExecuteWithResults(const QString& command,
                                           const std::vector<QString>& parameters) const {
    return guarded([&] {
        odbc::Statement statement(session_->connected());
        statement.execute(command, parameters);
        QueryResults results;
        for (SQLSMALLINT i = 1; i <= statement.columnCount(); ++i) {
            results.columns << statement.column(static_cast<SQLUSMALLINT>(i)).name;
        }
        while (statement.fetch()) {
            QList<std::optional<QString>> row;
            for (qsizetype i = 1; i <= results.columns.size(); ++i) {
                row << statement.text(static_cast<SQLUSMALLINT>(i));
            }
            results.rows << row;
        }
        statement.finishResults();
        return results;
    });
}

void SQLServer::DisConnect() {
    session_->link.reset();
    session_->processId.reset();
}

} // namespace dmo
