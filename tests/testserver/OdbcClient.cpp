#include "OdbcClient.h"

#include <algorithm>

namespace odbc_check {

namespace {
std::u16string wide(const QString& s) { return s.toStdU16String(); }

SQLWCHAR* w(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }

QString braced(const QString& v) {
    QString out = v;
    out.replace(u'}', QStringLiteral("}}"));
    return u'{' + out + u'}';
}
} // namespace

OdbcClient::OdbcClient() {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
}

OdbcClient::~OdbcClient() {
    if (connected_) {
        SQLDisconnect(dbc_);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

void OdbcClient::collect(SQLSMALLINT type, SQLHANDLE h) {
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR text[1024] = {};
        SQLSMALLINT len = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, h, i, state, &native, text, 1024, &len))) {
            break;
        }
        diags_.push_back({QString::fromUtf16(reinterpret_cast<const char16_t*>(state)), native,
                          QString::fromUtf16(reinterpret_cast<const char16_t*>(text), len)});
    }
}

std::string OdbcClient::lastMessages() const {
    QStringList parts;
    for (const Diagnostic& d : diags_) {
        parts << QStringLiteral("[%1 %2] %3").arg(d.state).arg(d.native).arg(d.text);
    }
    return parts.join(u'\n').toStdString();
}

bool OdbcClient::connect(int port, const QString& uid, const QString& pwd, const QString& database,
                         const QString& tdsVersion, bool readUncommitted, const QString& extra) {
    diags_.clear();
    QString cs = QStringLiteral("DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=%1;UID=%2;PWD=%3;"
                                "TDS_Version=%4;")
                     .arg(port)
                     .arg(braced(uid), braced(pwd), tdsVersion) +
                 extra;
    if (!database.isEmpty()) {
        cs += QStringLiteral("DATABASE=%1;").arg(braced(database));
    }
    SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(10), 0);
    std::u16string in = wide(cs);
    SQLWCHAR out[1024];
    SQLSMALLINT outLen = 0;
    const SQLRETURN rc =
        SQLDriverConnectW(dbc_, nullptr, w(in), SQL_NTS, out, 1024, &outLen, SQL_DRIVER_NOPROMPT);
    collect(SQL_HANDLE_DBC, dbc_);
    connected_ = SQL_SUCCEEDED(rc);
    if (connected_ && readUncommitted) {
        const SQLRETURN r =
            SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION,
                              reinterpret_cast<SQLPOINTER>(SQL_TXN_READ_UNCOMMITTED), 0);
        collect(SQL_HANDLE_DBC, dbc_);
        return SQL_SUCCEEDED(r);
    }
    return connected_;
}

bool OdbcClient::query(const QString& sql, std::vector<Row>& rows) { return query(sql, {}, rows); }

void OdbcClient::cancel() {
    if (const SQLHSTMT st = running_.load()) {
        SQLCancel(st);
    }
}

bool OdbcClient::query(const QString& sql, const QStringList& parameters, std::vector<Row>& rows) {
    diags_.clear();
    rows.clear();
    types_.clear();
    SQLHSTMT st = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st);
    std::vector<std::u16string> values;
    std::vector<SQLLEN> lengths(static_cast<std::size_t>(parameters.size()), SQL_NTS);
    values.reserve(static_cast<std::size_t>(parameters.size()));
    for (const QString& p : parameters) {
        values.push_back(wide(p));
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        SQLBindParameter(st, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_WCHAR,
                         SQL_WVARCHAR, std::max<SQLULEN>(1, values[i].size()), 0, w(values[i]), 0,
                         &lengths[i]);
    }
    std::u16string text = wide(sql);
    running_ = st;
    SQLRETURN rc = SQLExecDirectW(st, w(text), SQL_NTS);
    running_ = SQL_NULL_HSTMT;
    collect(SQL_HANDLE_STMT, st);
    bool ok = SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
    if (ok) {
        SQLSMALLINT cols = 0;
        SQLNumResultCols(st, &cols);
        for (SQLUSMALLINT c = 1; c <= cols; ++c) {
            SQLSMALLINT type = 0;
            SQLDescribeColW(st, c, nullptr, 0, nullptr, &type, nullptr, nullptr, nullptr);
            types_.push_back(type);
        }
        while (cols > 0 && SQL_SUCCEEDED(rc = SQLFetch(st))) {
            Row row;
            for (SQLUSMALLINT c = 1; c <= cols; ++c) {
                SQLWCHAR buf[1024];
                SQLLEN ind = 0;
                SQLGetData(st, c, SQL_C_WCHAR, buf, sizeof buf, &ind);
                if (ind == SQL_NULL_DATA) {
                    row.push_back(std::nullopt);
                } else {
                    row.push_back(QString::fromUtf16(reinterpret_cast<const char16_t*>(buf),
                                                     static_cast<qsizetype>(ind / 2)));
                }
            }
            rows.push_back(row);
        }
        if (rc != SQL_NO_DATA && cols > 0) {
            collect(SQL_HANDLE_STMT, st);
            ok = false;
        }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return ok;
}

bool OdbcClient::execute(const QString& sql) {
    std::vector<Row> rows;
    return query(sql, rows);
}

} // namespace odbc_check
