#include "Connection.h"

#include "ConnectionString.h"
#include "Errors.h"
#include "platform/connection/Connect.h"
#include "platform/connection/DriverMessages.h"
#include "platform/connection/Link.h"
#include "platform/odbc/Odbc.h"

#include <QStringList>

namespace ado {

namespace {

connection::Isolation sessionIsolation(int level) {
    switch (level) {
    case isolation::ReadUncommitted:
        return connection::Isolation::ReadUncommitted;
    case isolation::RepeatableRead:
        return connection::Isolation::RepeatableRead;
    case isolation::Serializable:
        return connection::Isolation::Serializable;
    default:
        return connection::Isolation::ReadCommitted;
    }
}

// System databases have the same lower-case names on every server.  A
// server with a case-sensitive collation knows them by that spelling only,
// so "MASTER" must reach it as "master".
QString serverSpelling(const QString& database) {
    static const QStringList systemDatabases = {QStringLiteral("master"), QStringLiteral("tempdb"),
                                                QStringLiteral("model"), QStringLiteral("msdb")};
    for (const QString& name : systemDatabases) {
        if (database.compare(name, Qt::CaseInsensitive) == 0) {
            return name;
        }
    }
    return database;
}

} // namespace

QString tdsVersionFor(const QString& provider) {
    if (provider.compare(u"SQLNCLI10", Qt::CaseInsensitive) == 0) {
        return QStringLiteral("7.3");
    }
    if (provider.compare(u"SQLNCLI", Qt::CaseInsensitive) == 0) {
        return QStringLiteral("7.2");
    }
    throw err::failure(err::kProviderNotFound);
}

Connection::Connection() = default;

Connection::~Connection() = default;

void Connection::setConnectionString(const QString& value) {
    if (State() == kStateOpen) {
        throw err::failure(err::kObjectOpen);
    }
    connectionString_ = value;
}

void Connection::setIsolationLevel(int value) {
    switch (value) {
    case isolation::Unspecified:
    case isolation::ReadUncommitted:
    case isolation::ReadCommitted:
    case isolation::RepeatableRead:
    case isolation::Serializable:
        isolationLevel_ = value;
        return;
    default:
        throw err::failure(err::kInvalidArgument);
    }
}

void Connection::setCursorLocation(int value) {
    if (value != cursor::UseServer && value != cursor::UseClient) {
        throw err::failure(err::kInvalidArgument);
    }
    cursorLocation_ = value;
}

void Connection::Open(const QString& connectionString, const QString& userId,
                      const QString& password, int options) {
    if (State() == kStateOpen) {
        throw err::failure(err::kObjectOpen);
    }
    if (options != kOptionUnspecified && options != 0) {
        throw err::failure(err::kInvalidArgument);
    }
    if (!connectionString.isEmpty()) {
        connectionString_ = connectionString;
    }
    ConnectionProperties properties = connectionProperties(connectionString_);
    if (!userId.isEmpty()) {
        properties.userId = userId;
    }
    if (!password.isEmpty()) {
        properties.password = password;
    }
    // The provider is settled first: without one nothing else is looked at.
    const QString tdsVersion = tdsVersionFor(properties.provider);
    // The provider logs in with SQL Server authentication, and SQL Server
    // refuses an empty login name; FreeTDS would take an empty name for a
    // Windows login instead, so it never gets one.
    if (properties.userId.isEmpty()) {
        throw rt::RuntimeError(err::kUnspecified,
                               QStringLiteral("No se puede iniciar sesión en SQL Server con un "
                                              "nombre de usuario vacío."));
    }
    try {
        // DataTypeCompatibility and the other OLE DB properties need nothing
        // here: values come back as the classic types already.
        auto link = connection::connect({properties.server, properties.userId, properties.password,
                                         serverSpelling(properties.database), tdsVersion});
        // Set with the first statement, in its batch: no round trip of its own.
        link->setIsolation(sessionIsolation(isolationLevel_));
        link_ = std::move(link);
    } catch (const odbc::Error& error) {
        throw rt::RuntimeError(err::kUnspecified, connection::explained(error).description());
    }
}

void Connection::Close() {
    if (State() != kStateOpen) {
        throw err::failure(err::kObjectClosed);
    }
    link_.reset();
}

int Connection::State() const { return link_ ? kStateOpen : kStateClosed; }

odbc::Connection& Connection::openConnection() {
    if (!link_) {
        throw err::failure(err::kConnectionUnusable);
    }
    return link_->odbc();
}

QString Connection::DbmsVersion() const {
    if (!link_) {
        throw err::failure(err::kConnectionUnusable);
    }
    try {
        return link_->odbc().serverVersion();
    } catch (const odbc::Error& error) {
        throw rt::RuntimeError(err::kUnspecified, error.description());
    }
}

} // namespace ado
