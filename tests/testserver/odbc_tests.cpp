// The test server against FreeTDS's ODBC driver, the driver the tool uses.
#include "OdbcClient.h"
#include "QStringPrinter.h"
#include "TestServer.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

using odbc_check::OdbcClient;
using odbc_check::Row;
using testing_support::TestServer;

namespace {

QStringList column(const std::vector<Row>& rows, std::size_t c = 0) {
    QStringList out;
    for (const Row& r : rows) {
        out << r.at(c).value_or(QStringLiteral("<NULL>"));
    }
    return out;
}

QStringList statements(const TestServer& s) {
    QStringList out;
    for (const QJsonObject& line : s.logLines()) {
        if (line.value("request") == QLatin1String("batch")) {
            out << line.value("statement").toString();
        }
    }
    return out;
}

QStringList databaseNames(const QJsonObject& state) {
    QStringList out;
    for (const QJsonValue& d : state.value("databases").toArray()) {
        out << d.toObject().value("name").toString();
    }
    return out;
}

} // namespace

TEST(OdbcAgainstTestServer, ConnectsAndAnswersTheToolsQueries) {
    TestServer server;
    for (const char* tds : {"7.1", "7.2", "7.3", "7.4"}) {
        SCOPED_TRACE(tds);
        OdbcClient c;
        ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1", {}, tds)) << c.lastMessages();
        std::vector<Row> rows;
        ASSERT_TRUE(c.query("SELECT SERVERPROPERTY('ProductVersion')", rows)) << c.lastMessages();
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0][0], QStringLiteral("10.50.6000.34"));

        ASSERT_TRUE(c.query("SELECT name FROM master.dbo.sysdatabases ORDER BY name", rows))
            << c.lastMessages();
        EXPECT_EQ(column(rows),
                  (QStringList{"Compras", "master", "model", "msdb",
                               QString::fromUtf8("Nóminas 2024"), "tempdb", "Ventas"}));
    }
}

TEST(OdbcAgainstTestServer, ExistenceQueryOnMasterWithReadUncommitted) {
    TestServer server;
    OdbcClient c;
    ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1", "MASTER", "7.3", true))
        << c.lastMessages();
    std::vector<Row> rows;
    ASSERT_TRUE(c.query("SELECT DB_NAME(dbid) AS DB_NAME FROM sysdatabases", rows))
        << c.lastMessages();
    EXPECT_EQ(column(rows), (QStringList{"master", "tempdb", "model", "msdb", "Ventas", "Compras",
                                         QString::fromUtf8("Nóminas 2024")}));
    EXPECT_TRUE(statements(server).contains("SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"))
        << statements(server).join(" | ").toStdString();
}

TEST(OdbcAgainstTestServer, DropsABracketQuotedNameAndWritesTheState) {
    QJsonObject state = TestServer::defaultState();
    const QString odd = QString::fromUtf8("a]b'c;d\"e ñ");
    QJsonArray dbs = state.value("databases").toArray();
    dbs.append(QJsonObject{{"name", odd}});
    state.insert("databases", dbs);
    TestServer server(state);
    OdbcClient c;
    ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1")) << c.lastMessages();
    QString quoted = odd;
    quoted.replace("]", "]]");
    ASSERT_TRUE(c.execute("DROP DATABASE [" + quoted + "]")) << c.lastMessages();
    EXPECT_EQ(databaseNames(server.readState()),
              (QStringList{"Ventas", "Compras", QString::fromUtf8("Nóminas 2024")}));
}

TEST(OdbcAgainstTestServer, ServerMessagesReachTheDriverWithTheirNumbers) {
    TestServer server;
    OdbcClient c;
    ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1"));
    EXPECT_FALSE(c.execute("DROP DATABASE [NoExiste]"));
    ASSERT_FALSE(c.diagnostics().empty());
    EXPECT_EQ(c.diagnostics()[0].native, 3701);
    EXPECT_TRUE(c.diagnostics()[0].text.endsWith(
        "Cannot drop the database 'NoExiste', because it does not exist or you do not have "
        "permission."))
        << c.lastMessages();

    OdbcClient refused;
    EXPECT_FALSE(refused.connect(server.port(), "sa", "wrong"));
    bool seen = false;
    for (const auto& d : refused.diagnostics()) {
        seen = seen || (d.native == 18456 && d.text.endsWith("Login failed for user 'sa'."));
    }
    EXPECT_TRUE(seen) << refused.lastMessages();
}

TEST(OdbcAgainstTestServer, PasswordsWithQuotingCharactersArriveIntact) {
    QJsonObject state = TestServer::defaultState();
    const QString pwd = QString::fromUtf8("p;w{d=ñ'\" x");
    state.insert("logins",
                 QJsonArray{QJsonObject{{"name", "raro"}, {"password", pwd}, {"sysadmin", true}}});
    TestServer server(state);
    OdbcClient c;
    EXPECT_TRUE(c.connect(server.port(), "raro", pwd)) << c.lastMessages();
    for (const QJsonObject& line : server.logLines()) {
        EXPECT_FALSE(QJsonDocument(line).toJson().contains(pwd.toUtf8()));
    }
}

// Single-user access as the in-use removal uses it: the refusals by their
// numbers, sysprocesses naming the holders, ROLLBACK IMMEDIATE ending them,
// a second user kept out while one is in, and the state saved at each step.
TEST(OdbcAgainstTestServer, SingleUserAccessEndsTheHoldersAndKeepsOthersOut) {
    QJsonObject state = TestServer::defaultState();
    state["databases"] = QJsonArray{
        QJsonObject{{"name", "Ocupada"},
                    {"sessions", QJsonArray{QJsonObject{{"login", "ana"}, {"host", "PC-ANA"}}}}}};
    TestServer server(state);
    OdbcClient c;
    ASSERT_TRUE(c.connect(server.port(), "sa", "Secreto.1"));
    const QString holders = "SELECT loginame, hostname, program_name FROM master.dbo.sysprocesses "
                            "WHERE dbid = DB_ID(N'Ocupada')";
    std::vector<Row> rows;
    ASSERT_TRUE(c.query(holders, rows)) << c.lastMessages();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0]->trimmed(), "ana");
    EXPECT_EQ(rows[0][1]->size(), 128); // nchar(128), padded
    EXPECT_EQ(rows[0][1]->trimmed(), "PC-ANA");

    const std::pair<const char*, long> refused[] = {
        {"ALTER DATABASE [master] SET SINGLE_USER WITH ROLLBACK IMMEDIATE", 5058},
        {"ALTER DATABASE [NoExiste] SET MULTI_USER", 5011},
        {"ALTER DATABASE [Ocupada] SET SINGLE_USER WITH NO_WAIT", 5070},
        {"DROP DATABASE [Ocupada]", 3702},
    };
    for (const auto& [sql, number] : refused) {
        EXPECT_FALSE(c.execute(sql)) << sql;
        ASSERT_FALSE(c.diagnostics().empty()) << sql;
        EXPECT_EQ(c.diagnostics()[0].native, number) << sql << c.lastMessages();
    }
    // Refused, nothing changed: the holder is still there.
    EXPECT_EQ(server.readState()["databases"][0]["sessions"][0]["login"], "ana");
    EXPECT_FALSE(server.readState()["databases"][0].toObject().contains("singleUser"));

    ASSERT_TRUE(c.execute("ALTER DATABASE [Ocupada] SET SINGLE_USER WITH ROLLBACK IMMEDIATE"))
        << c.lastMessages();
    EXPECT_EQ(server.readState()["databases"].toArray(),
              (QJsonArray{QJsonObject{{"name", "Ocupada"}, {"singleUser", true}}}));
    ASSERT_TRUE(c.query(holders, rows));
    EXPECT_TRUE(rows.empty());

    ASSERT_TRUE(c.execute("USE [Ocupada]")) << c.lastMessages();
    OdbcClient second;
    ASSERT_TRUE(second.connect(server.port(), "sa", "Secreto.1"));
    EXPECT_FALSE(second.execute("USE [Ocupada]"));
    ASSERT_FALSE(second.diagnostics().empty());
    EXPECT_EQ(second.diagnostics()[0].native, 924) << second.lastMessages();

    ASSERT_TRUE(c.execute("USE master"));
    ASSERT_TRUE(c.execute("ALTER DATABASE [Ocupada] SET MULTI_USER")) << c.lastMessages();
    EXPECT_EQ(server.readState()["databases"].toArray(),
              (QJsonArray{QJsonObject{{"name", "Ocupada"}}}));
}
