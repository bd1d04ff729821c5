#include "Odbc.h"

#include "DriverVersion.h"

#include <QStringList>

#include <algorithm>

namespace odbc {

namespace {

SQLWCHAR* wide(const QString& text) {
    // unixODBC's SQLWCHAR is a UTF-16 code unit, as QChar is.
    static_assert(sizeof(SQLWCHAR) == sizeof(QChar));
    return reinterpret_cast<SQLWCHAR*>(const_cast<QChar*>(text.constData()));
}

QString fromWide(const SQLWCHAR* text, qsizetype length) {
    return QString(reinterpret_cast<const QChar*>(text), length);
}

std::vector<DiagRecord> diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::vector<DiagRecord> records;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR message[SQL_MAX_MESSAGE_LENGTH * 2] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, message,
                                            SQL_MAX_MESSAGE_LENGTH * 2, &length);
        if (!SQL_SUCCEEDED(rc)) {
            break;
        }
        const qsizetype usable = std::min<qsizetype>(length, SQL_MAX_MESSAGE_LENGTH * 2 - 1);
        records.push_back({fromWide(state, 5), native, fromWide(message, usable)});
    }
    return records;
}

QString joinTexts(const std::vector<DiagRecord>& records) {
    // Beside a numbered message, FreeTDS's unnumbered summary ("Unable to
    // connect to data source") only repeats that the call failed.
    const bool anyNumbered = std::any_of(records.begin(), records.end(),
                                         [](const DiagRecord& r) { return r.nativeError != 0; });
    QStringList lines;
    for (const DiagRecord& record : records) {
        if (anyNumbered && record.nativeError == 0) {
            continue;
        }
        // The driver repeats a message once per address it tried.
        if (lines.isEmpty() || lines.back() != record.text) {
            lines << record.text;
        }
    }
    return lines.join(u'\n');
}

} // namespace

bool isDriverMessage(std::int32_t native) {
    // Besides the 20000 range, FreeTDS numbers its character conversion
    // failures from 2400.
    return native == 0 || (native >= 20000 && native < 21000) || (native >= 2400 && native < 2410);
}

Error::Error(const QString& description) : rt::RuntimeError(kUnspecified, description) {}

namespace {
QString recordsText(const std::vector<DiagRecord>& records) {
    return records.empty() ? QStringLiteral("El controlador ODBC no ha dado detalles del error.")
                           : joinTexts(records);
}
} // namespace

Error::Error(std::vector<DiagRecord> records)
    : rt::RuntimeError(kUnspecified, recordsText(records)), records_(std::move(records)) {}

Error::Error(const QString& cause, std::vector<DiagRecord> records)
    : rt::RuntimeError(kUnspecified, cause + u'\n' + recordsText(records)),
      records_(std::move(records)), cause_(cause) {}

std::optional<std::int32_t> Error::serverMessageNumber() const {
    for (const DiagRecord& record : records_) {
        // The server's informational messages (class 01: progress, PRINT)
        // come along with a failure without being it.
        if (!isDriverMessage(record.nativeError) && !record.sqlState.startsWith(u"01")) {
            return record.nativeError;
        }
    }
    return std::nullopt;
}

Handle::Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    const SQLRETURN rc = SQLAllocHandle(type, parent, &handle_);
    if (!SQL_SUCCEEDED(rc)) {
        if (parent != SQL_NULL_HANDLE) {
            throw Error(
                diagnostics(type == SQL_HANDLE_STMT ? SQL_HANDLE_DBC : SQL_HANDLE_ENV, parent));
        }
        throw Error(QStringLiteral("No se puede iniciar el administrador de controladores ODBC."));
    }
}

Handle::~Handle() {
    if (handle_ != SQL_NULL_HANDLE) {
        SQLFreeHandle(type_, handle_);
    }
}

void Handle::check(SQLRETURN rc) const {
    if (!SQL_SUCCEEDED(rc)) {
        throw Error(diagnostics(type_, handle_));
    }
}

namespace {
// The environment must declare ODBC 3 before a connection is allocated on it.
SQLHANDLE odbc3(const Handle& environment) {
    environment.check(SQLSetEnvAttr(environment.get(), SQL_ATTR_ODBC_VERSION,
                                    reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0));
    return environment.get();
}
} // namespace

Connection::Connection()
    : env_(SQL_HANDLE_ENV, SQL_NULL_HANDLE), dbc_(SQL_HANDLE_DBC, odbc3(env_)) {}

Connection::~Connection() { disconnect(); }

void Connection::connect(const QString& connectionString, std::chrono::seconds loginTimeout) {
    setAttribute(SQL_ATTR_LOGIN_TIMEOUT, static_cast<SQLULEN>(loginTimeout.count()));
    // The driver manager's trace would write the connection string to its
    // file, the password masked only up to its first ";".
    setAttribute(SQL_ATTR_TRACE, SQL_OPT_TRACE_OFF);
    const SQLRETURN rc = SQLDriverConnectW(dbc_.get(), nullptr, wide(connectionString), SQL_NTS,
                                           nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        throw Error(diagnostics(SQL_HANDLE_DBC, dbc_.get()));
    }
    connected_ = true;
    try {
        noteDriverVersion(driverVersion());
    } catch (const Error&) {
        // The version only spares asking the driver library later.
    }
}

namespace {
QString infoText(const Handle& dbc, SQLUSMALLINT item) {
    SQLWCHAR text[64] = {};
    SQLSMALLINT bytes = 0;
    dbc.check(SQLGetInfoW(dbc.get(), item, text, sizeof text, &bytes));
    return fromWide(text, std::min<qsizetype>(bytes / 2, 63));
}
} // namespace

QString Connection::driverVersion() const { return infoText(dbc_, SQL_DRIVER_VER); }

QString Connection::serverVersion() const { return infoText(dbc_, SQL_DBMS_VER); }

QString Connection::currentDatabase() const {
    SQLWCHAR name[256] = {};
    SQLINTEGER bytes = 0;
    dbc_.check(SQLGetConnectAttrW(dbc_.get(), SQL_ATTR_CURRENT_CATALOG, name, sizeof name, &bytes));
    return fromWide(name, std::min<qsizetype>(bytes / 2, 255));
}

void Connection::disconnect() noexcept {
    if (connected_) {
        SQLDisconnect(dbc_.get());
        connected_ = false;
    }
}

void Connection::setAttribute(SQLINTEGER attribute, SQLULEN value) {
    dbc_.check(SQLSetConnectAttrW(dbc_.get(), attribute, reinterpret_cast<SQLPOINTER>(value), 0));
}

SQLULEN Connection::attribute(SQLINTEGER attribute) const {
    SQLULEN value = 0;
    dbc_.check(SQLGetConnectAttrW(dbc_.get(), attribute, &value, sizeof value, nullptr));
    return value;
}

Statement::Statement(Connection& connection)
    : connection_(connection), stmt_(SQL_HANDLE_STMT, connection.handle().get()),
      watch_(connection.statementWatch()) {
    setQueryTimeout(connection.statementTimeout());
}

Statement::~Statement() {
    if (watched_) {
        watch_->ended();
    }
}

void Statement::check(SQLRETURN rc) const {
    try {
        stmt_.check(rc);
    } catch (const Error& e) {
        const QString cause = watch_ ? watch_->interruption() : QString();
        if (cause.isEmpty()) {
            throw;
        }
        throw Error(cause, e.records());
    }
}

void Statement::setQueryTimeout(std::chrono::seconds limit) {
    stmt_.check(SQLSetStmtAttrW(stmt_.get(), SQL_ATTR_QUERY_TIMEOUT,
                                reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(limit.count())),
                                0));
}

void Cancellation::cancel() {
    const std::lock_guard lock(mutex_);
    asked_ = true;
    if (running_ != SQL_NULL_HANDLE) {
        SQLCancel(running_);
    }
}

bool Cancellation::asked() const {
    const std::lock_guard lock(mutex_);
    return asked_;
}

void Cancellation::running(SQLHANDLE statement) {
    const std::lock_guard lock(mutex_);
    running_ = statement;
}

void Cancellation::ended() {
    const std::lock_guard lock(mutex_);
    running_ = SQL_NULL_HANDLE;
}

template <typename Call> SQLRETURN Statement::run(Call&& call) {
    if (watch_ && !watched_) {
        watched_ = true;
        watch_->started(std::chrono::seconds(attribute(SQL_ATTR_QUERY_TIMEOUT)));
    }
    messages_.clear();
    if (cancellation_) {
        cancellation_->running(stmt_.get());
    }
    const SQLRETURN rc = call();
    if (cancellation_) {
        cancellation_->ended();
    }
    if (rc == SQL_SUCCESS_WITH_INFO) {
        messages_ = diagnostics(SQL_HANDLE_STMT, stmt_.get());
    }
    if (rc != SQL_NO_DATA) {
        check(rc);
    }
    return rc;
}

void Statement::execute(const QString& sql) {
    const QString& preamble = connection_.preamble();
    const QString batch = preamble.isEmpty() ? sql : preamble + u'\n' + sql;
    run([&] { return SQLExecDirectW(stmt_.get(), wide(batch), SQL_NTS); });
    connection_.setPreamble(QString());
}

void Statement::execute(const QString& sql, const std::vector<QString>& parameters) {
    if (parameters.empty()) {
        execute(sql);
        return;
    }
    // The driver sends a statement with parameters as a procedure call, in
    // whose scope a SET would end with the call: the preamble goes first.
    if (!connection_.preamble().isEmpty()) {
        execute(QString());
        finishResults();
    }
    std::vector<SQLLEN> lengths(parameters.size());
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const QString& value = parameters[i];
        lengths[i] = static_cast<SQLLEN>(value.size() * sizeof(SQLWCHAR));
        stmt_.check(SQLBindParameter(stmt_.get(), static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT,
                                     SQL_C_WCHAR, SQL_WVARCHAR,
                                     static_cast<SQLULEN>(std::max<qsizetype>(value.size(), 1)), 0,
                                     wide(value), lengths[i], &lengths[i]));
    }
    try {
        run([&] { return SQLExecDirectW(stmt_.get(), wide(sql), SQL_NTS); });
    } catch (const Error&) {
        SQLFreeStmt(stmt_.get(), SQL_RESET_PARAMS);
        throw;
    }
    SQLFreeStmt(stmt_.get(), SQL_RESET_PARAMS);
}

void Statement::finishResults() {
    while (nextResult()) {
    }
}

bool Statement::nextResult() {
    const SQLRETURN rc = SQLMoreResults(stmt_.get());
    if (rc == SQL_NO_DATA) {
        return false;
    }
    check(rc);
    if (rc == SQL_SUCCESS_WITH_INFO) {
        const std::vector<DiagRecord> more = diagnostics(SQL_HANDLE_STMT, stmt_.get());
        messages_.insert(messages_.end(), more.begin(), more.end());
    }
    return true;
}

bool Statement::fetch() {
    const SQLRETURN rc = SQLFetch(stmt_.get());
    if (rc == SQL_NO_DATA) {
        return false;
    }
    check(rc);
    return true;
}

SQLSMALLINT Statement::columnCount() const {
    SQLSMALLINT count = 0;
    stmt_.check(SQLNumResultCols(stmt_.get(), &count));
    return count;
}

ColumnInfo Statement::column(SQLUSMALLINT number) const {
    SQLWCHAR name[256] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    stmt_.check(SQLDescribeColW(stmt_.get(), number, name, 256, &nameLength, &type, &size, &digits,
                                &nullable));
    return {fromWide(name, std::min<SQLSMALLINT>(nameLength, 255)), type};
}

std::optional<QString> Statement::text(SQLUSMALLINT number) {
    constexpr SQLLEN kUnits = 512;
    SQLWCHAR buffer[kUnits];
    QString result;
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc =
            SQLGetData(stmt_.get(), number, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
        if (rc == SQL_NO_DATA) {
            return result;
        }
        check(rc);
        if (indicator == SQL_NULL_DATA) {
            return std::nullopt;
        }
        // A longer value comes in pieces; each full piece ends in a terminator.
        const bool truncated =
            indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer);
        result.append(reinterpret_cast<const QChar*>(buffer),
                      truncated ? kUnits - 1 : indicator / static_cast<SQLLEN>(sizeof(SQLWCHAR)));
        if (!truncated) {
            return result;
        }
    }
}

template <typename T> std::optional<T> Statement::fixed(SQLUSMALLINT number, SQLSMALLINT cType) {
    T value{};
    SQLLEN indicator = 0;
    check(SQLGetData(stmt_.get(), number, cType, &value, sizeof value, &indicator));
    if (indicator == SQL_NULL_DATA) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> Statement::integer(SQLUSMALLINT number) {
    return fixed<std::int64_t>(number, SQL_C_SBIGINT);
}

std::optional<double> Statement::real(SQLUSMALLINT number) {
    return fixed<double>(number, SQL_C_DOUBLE);
}

SQLULEN Statement::attribute(SQLINTEGER attribute) const {
    SQLULEN value = 0;
    stmt_.check(SQLGetStmtAttrW(stmt_.get(), attribute, &value, sizeof value, nullptr));
    return value;
}

} // namespace odbc
