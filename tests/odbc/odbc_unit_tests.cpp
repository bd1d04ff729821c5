#include "ClosedPort.h"
#include "QStringPrinter.h"
#include "platform/odbc/ConnectionString.h"
#include "platform/odbc/DriverVersion.h"
#include "platform/odbc/Odbc.h"

#include <gtest/gtest.h>

namespace {

// Values are enclosed as the FreeTDS version loaded reads them: up to 1.3 a
// braced value ends at the first "};", from 1.4 a "}" inside is doubled.
TEST(OdbcQuoting, ValuesAreEnclosedByTheRulesOfEachFreeTdsVersion) {
    using Rules = odbc::QuotingRules;
    struct Case {
        QString value;
        QString for13;
        QString for14;
    };
    const std::vector<Case> cases = {
        {"sa", "sa", "sa"},
        {"", "", ""},
        {" Ñandú 1 ", " Ñandú 1 ", " Ñandú 1 "},
        {"a;b", "{a;b}", "{a;b}"},
        {"a=b", "{a=b}", "{a=b}"},
        {"{x}", "{{x}}", "{{x}}}"},
        {"x}", "{x}}", "{x}}}"},
        {"p};UID=sa", {}, "{p}};UID=sa}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(odbc::quoteValue(c.value, Rules::FreeTds14), c.for14);
        if (!c.for13.isNull()) {
            EXPECT_EQ(odbc::quoteValue(c.value, Rules::FreeTds13), c.for13);
            continue;
        }
        try {
            odbc::quoteValue(c.value, Rules::FreeTds13);
            FAIL() << "1.3 cannot carry " << c.value.toStdString();
        } catch (const rt::RuntimeError& e) {
            EXPECT_TRUE(e.description().contains(QStringLiteral("\"};\"")));
            EXPECT_FALSE(e.description().contains(QStringLiteral("UID=sa")));
        }
    }
}

TEST(OdbcQuoting, TheDriverNamesItsVersion) {
    const auto version = odbc::parseDriverVersion(QStringLiteral("01.04.0002"));
    ASSERT_TRUE(version);
    EXPECT_EQ(*version, (odbc::DriverVersion{1, 4}));
    EXPECT_FALSE(odbc::parseDriverVersion(QStringLiteral("uno")));
    // The version installed here, asked of the driver before any connection.
    EXPECT_GE(odbc::loadedDriverVersion(), (odbc::DriverVersion{1, 3}));
}

TEST(OdbcQuoting, BuilderEndsEveryPair) {
    odbc::ConnectionStringBuilder builder;
    builder.add(QStringLiteral("UID"), QStringLiteral("sa"))
        .add(QStringLiteral("PWD"), QStringLiteral("a;b=c\"d"));
    EXPECT_EQ(builder.text(), QStringLiteral("UID=sa;PWD={a;b=c\"d};"));
}

TEST(OdbcError, JoinsRecordsOncePerTextAndFindsTheServerMessage) {
    const odbc::Error driverOnly({{QStringLiteral("08S01"), 20009, QStringLiteral("A")},
                                  {QStringLiteral("08S01"), 20009, QStringLiteral("A")},
                                  {QStringLiteral("08001"), 0, QStringLiteral("B")}});
    EXPECT_EQ(driverOnly.description(), QStringLiteral("A"));
    EXPECT_EQ(driverOnly.number(), odbc::Error::kUnspecified);
    EXPECT_FALSE(driverOnly.serverMessageNumber());

    const odbc::Error fromServer({{QStringLiteral("42000"), 3702, QStringLiteral("in use")},
                                  {QStringLiteral("01000"), 5701, QStringLiteral("context")}});
    EXPECT_EQ(fromServer.serverMessageNumber(), 3702);
}

TEST(OdbcConnection, RefusedConnectionCarriesTheDriversText) {
    odbc::Connection connection;
    const QString cs =
        QStringLiteral(
            "DRIVER=FreeTDS;SERVER=127.0.0.1;PORT=%1;UID=sa;PWD=secret-pw;TDS_Version=7.3")
            .arg(testing_support::closedLoopbackPort());
    try {
        connection.connect(cs, std::chrono::seconds(15));
        FAIL() << "connected to a closed port";
    } catch (const odbc::Error& e) {
        EXPECT_TRUE(
            e.description().startsWith(QStringLiteral("[FreeTDS][SQL Server]Unable to connect")))
            << e.description().toStdString();
        EXPECT_FALSE(e.description().contains(QStringLiteral("secret-pw")));
        EXPECT_FALSE(e.serverMessageNumber());
    }
    EXPECT_FALSE(connection.connected());
}

TEST(OdbcConnection, UnknownDriverIsAFailureNotACrash) {
    odbc::Connection connection;
    EXPECT_THROW(connection.connect(QStringLiteral("DRIVER=NoSuchDriver;SERVER=x"),
                                    std::chrono::seconds(15)),
                 odbc::Error);
}

} // namespace
