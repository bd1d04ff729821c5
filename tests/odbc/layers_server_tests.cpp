// The ODBC, management and data-access layers against the test server,
// through the real FreeTDS driver.
#include "QStringPrinter.h"
#include "ServerStates.h"
#include "TestServer.h"
#include "platform/ado/Connection.h"
#include "platform/ado/Recordset.h"
#include "platform/connection/Connect.h"
#include "platform/connection/Link.h"
#include "platform/dmo/Failure.h"
#include "platform/dmo/SQLServer.h"
#include "platform/odbc/ConnectionString.h"
#include "platform/odbc/Odbc.h"

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

QString odbcString(const TestServer& server, const QString& login, const QString& password) {
    odbc::ConnectionStringBuilder builder;
    builder.add(QStringLiteral("DRIVER"), QStringLiteral("FreeTDS"))
        .add(QStringLiteral("SERVER"), QStringLiteral("127.0.0.1"))
        .add(QStringLiteral("PORT"), QString::number(server.port()))
        .add(QStringLiteral("UID"), login)
        .add(QStringLiteral("PWD"), password)
        .add(QStringLiteral("TDS_Version"), QStringLiteral("7.3"));
    return builder.text();
}

QStringList names(const dmo::Databases& databases) {
    QStringList result;
    for (const dmo::Database& database : databases) {
        result << database.Name();
    }
    return result;
}

TEST(OdbcServer, BracedPasswordsReachTheServerIntact) {
    const QStringList passwords = {QStringLiteral("a;b=c\"d"), QStringLiteral("x}y"),
                                   QStringLiteral("y}"),       QStringLiteral("{llaves}"),
                                   QStringLiteral(" lados "),  QStringLiteral("Contraseña€"),
                                   QStringLiteral("a=b")};
    QJsonObject state = TestServer::defaultState();
    for (int i = 0; i < passwords.size(); ++i) {
        state = withLogin(
            state, QJsonObject{{"name", QStringLiteral("u%1").arg(i)}, {"password", passwords[i]}});
    }
    TestServer server(state);
    for (int i = 0; i < passwords.size(); ++i) {
        odbc::Connection connection;
        EXPECT_NO_THROW(
            connection.connect(odbcString(server, QStringLiteral("u%1").arg(i), passwords[i]),
                               std::chrono::seconds(15)))
            << passwords[i].toStdString();
    }
}

// A password holding "};": FreeTDS 1.4 takes it doubled; 1.3 cannot carry
// it at all, so it never reaches the server cut short.
TEST(OdbcServer, PasswordThatWouldEndTheBracesArrivesWholeOrNotAtAll) {
    const QString password = QStringLiteral("p};UID=sa");
    TestServer server(
        withLogin(TestServer::defaultState(), QJsonObject{{"name", "u"}, {"password", password}}));
    if (odbc::loadedDriverRules() == odbc::QuotingRules::FreeTds13) {
        EXPECT_THROW(odbcString(server, QStringLiteral("u"), password), rt::RuntimeError);
        EXPECT_TRUE(server.logLines().isEmpty());
    } else {
        odbc::Connection connection;
        EXPECT_NO_THROW(connection.connect(odbcString(server, QStringLiteral("u"), password),
                                           std::chrono::seconds(15)));
    }
}

// The driver takes the time-outs of Timeouts.h: 15 s for a login and 30 s
// for a statement, given as 15 s that the driver waits twice, unless the
// statement is freed of its limit.
TEST(OdbcServer, LoginsAndStatementsAreBoundedByTheNamedTimeOuts) {
    TestServer server;
    const auto connection = connection::connect({QStringLiteral("127.0.0.1,%1").arg(server.port()),
                                                 kSa,
                                                 kSaPassword,
                                                 {},
                                                 QStringLiteral("7.3")});
    EXPECT_EQ(connection->odbc().attribute(SQL_ATTR_LOGIN_TIMEOUT), 15u);
    odbc::Statement statement(connection->odbc());
    EXPECT_EQ(statement.attribute(SQL_ATTR_QUERY_TIMEOUT), 15u);
    statement.setQueryTimeout(std::chrono::seconds(0));
    EXPECT_EQ(statement.attribute(SQL_ATTR_QUERY_TIMEOUT), 0u);
}

TEST(DmoServer, ReadsVersionAndListsInNameOrderWithNamesIntact) {
    TestServer server(withDatabases(
        TestServer::defaultState(),
        {QStringLiteral("Ñandú"), QStringLiteral("Nóminas 2024"), QStringLiteral("a]b")}));
    dmo::SQLServer sql;
    sql.Connect(server.serverName(), kSa, kSaPassword);
    EXPECT_EQ(sql.VersionMajor(), 10);
    QStringList expected = {QStringLiteral("master"), QStringLiteral("model"),
                            QStringLiteral("msdb"),   QStringLiteral("tempdb"),
                            QStringLiteral("Ñandú"),  QStringLiteral("Nóminas 2024"),
                            QStringLiteral("a]b")};
    std::sort(expected.begin(), expected.end());
    QStringList listed = names(sql.Databases());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, expected);
    sql.DisConnect();
}

TEST(DmoServer, LoginWithPropertiesOrArgumentsIsTheSame) {
    TestServer server;
    dmo::SQLServer byProperties;
    byProperties.setLoginSecure(false);
    byProperties.setLogin(kSa);
    byProperties.setPassword(kSaPassword);
    EXPECT_NO_THROW(byProperties.Connect(server.serverName()));
    dmo::SQLServer byArguments;
    byArguments.setPassword(QStringLiteral("ignored"));
    EXPECT_NO_THROW(byArguments.Connect(server.serverName(), kSa, kSaPassword));
}

TEST(DmoServer, ItemFindsTheNameWithOrWithoutItsCase) {
    TestServer server(withDatabases(TestServer::defaultState(), {QStringLiteral("Unica")}));
    dmo::SQLServer sql;
    sql.Connect(server.serverName(), kSa, kSaPassword);
    EXPECT_EQ(sql.Databases().Item(QStringLiteral("Unica")).Name(), QStringLiteral("Unica"));
    EXPECT_EQ(sql.Databases().Item(QStringLiteral("UNICA")).Name(), QStringLiteral("Unica"));
    try {
        sql.Databases().Item(QStringLiteral("Nada"));
        FAIL();
    } catch (const rt::RuntimeError& e) {
        EXPECT_EQ(e.number(), dmo::kNoServerMessage);
        EXPECT_TRUE(e.description().contains(QStringLiteral("'Nada'")));
    }
}

TEST(DmoServer, RemoveQuotesTheNameSoNothingElseIsDropped) {
    const QString odd = QStringLiteral("x]; DROP DATABASE [Ventas");
    TestServer server(withDatabases(TestServer::defaultState(), {QStringLiteral("Ventas"), odd}));
    dmo::SQLServer sql;
    sql.Connect(server.serverName(), kSa, kSaPassword);
    sql.Databases().Item(odd).Remove();
    EXPECT_EQ(userDatabases(server.readState()), QStringList{QStringLiteral("Ventas")});
}

TEST(DmoServer, ServerMessagesAreFoldedIntoTheNumber) {
    TestServer server;
    dmo::SQLServer sql;
    try {
        sql.Connect(server.serverName(), kSa, QStringLiteral("wrong"));
        FAIL();
    } catch (const rt::RuntimeError& e) {
        EXPECT_EQ(e.number(), dmo::foldedNumber(18456));
        EXPECT_EQ(e.description(),
                  QStringLiteral("[FreeTDS][SQL Server]Login failed for user 'sa'."));
    }
}

TEST(AdoServer, OpensWithTheProvidersVersionAndReadsRows) {
    TestServer server;
    for (const char* provider : {"SQLNCLI10", "SQLNCLI"}) {
        ado::Connection cn;
        cn.setIsolationLevel(ado::isolation::ReadUncommitted);
        cn.Open(QStringLiteral("Provider=%1;Data Source=%2;Initial Catalog=MASTER;UID=sa;PWD=%3")
                    .arg(QString::fromLatin1(provider), server.serverName(), kSaPassword));
        ado::Recordset rs;
        rs.Open(QStringLiteral("SELECT DB_NAME(dbid) AS DB_NAME FROM sysdatabases"), cn, 0, 3, -1);
        QStringList read;
        while (!rs.Eof()) {
            const rt::Variant value = rs.Fields(QStringLiteral("db_name")).Value();
            ASSERT_EQ(value.kind(), rt::Variant::Kind::Text);
            read << value.as<QString>();
            rs.MoveNext();
        }
        EXPECT_EQ(read.size(), 4 + userDatabases(TestServer::defaultState()).size());
        EXPECT_TRUE(read.contains(QStringLiteral("Nóminas 2024")));
        rs.Close();
        cn.Close();
        EXPECT_EQ(cn.State(), ado::kStateClosed);
    }
}

TEST(AdoServer, ArgumentsOfOpenTakeThePlaceOfTheStringsLogin) {
    TestServer server;
    ado::Connection cn;
    EXPECT_NO_THROW(cn.Open(QStringLiteral("Provider=SQLNCLI;Server=%1;User ID=nadie;Password=x")
                                .arg(server.serverName()),
                            kSa, kSaPassword));
}

TEST(AdoServer, RefusedLoginIsTheGenericFailure) {
    TestServer server;
    ado::Connection cn;
    try {
        cn.Open(QStringLiteral("Provider=SQLNCLI;Server=%1;User ID=sa;Password=wrong")
                    .arg(server.serverName()));
        FAIL();
    } catch (const rt::RuntimeError& e) {
        EXPECT_EQ(e.number(), -2147467259);
        EXPECT_EQ(e.description(),
                  QStringLiteral("[FreeTDS][SQL Server]Login failed for user 'sa'."));
    }
}

} // namespace
