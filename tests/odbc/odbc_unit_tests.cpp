#include "ClosedPort.h"
#include "QStringPrinter.h"
#include "platform/odbc/ConnectionString.h"
#include "platform/odbc/DriverVersion.h"
#include "platform/odbc/Odbc.h"
#include "platform/odbc/ServerName.h"

#include <gtest/gtest.h>

namespace {

using odbc::ServerAddress;

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

TEST(ServerName, FormsUsersType) {
    EXPECT_EQ(odbc::parseServerName(QStringLiteral("db1")),
              (ServerAddress{QStringLiteral("db1"), {}, {}}));
    EXPECT_EQ(odbc::parseServerName(QStringLiteral("db1\\SQLEXPRESS")),
              (ServerAddress{QStringLiteral("db1"), QStringLiteral("SQLEXPRESS"), {}}));
    EXPECT_EQ(odbc::parseServerName(QStringLiteral("db1,1500")),
              (ServerAddress{QStringLiteral("db1"), {}, 1500}));
    EXPECT_EQ(odbc::parseServerName(QStringLiteral("tcp:10.0.0.5,1433")),
              (ServerAddress{QStringLiteral("10.0.0.5"), {}, 1433}));
    EXPECT_EQ(odbc::parseServerName(QStringLiteral("TCP:db1")),
              (ServerAddress{QStringLiteral("db1"), {}, {}}));
    EXPECT_EQ(odbc::parseServerName(QStringLiteral("(local)")),
              (ServerAddress{QStringLiteral("127.0.0.1"), {}, {}, true}));
    EXPECT_EQ(odbc::parseServerName(QStringLiteral(".\\INST")),
              (ServerAddress{QStringLiteral("127.0.0.1"), QStringLiteral("INST"), {}, true}));
    EXPECT_EQ(odbc::parseServerName(QStringLiteral("db1\\INST,2000")),
              (ServerAddress{QStringLiteral("db1"), QStringLiteral("INST"), 2000}));
}

TEST(ServerName, MalformedNamesAreRefusedNamingTheText) {
    for (const QString& typed :
         {QString(), QStringLiteral(" "), QStringLiteral("db1,"), QStringLiteral("db1,0"),
          QStringLiteral("db1,65536"), QStringLiteral("db1,14x"), QStringLiteral("db1,-5"),
          QStringLiteral("db1\\"), QStringLiteral("\\INST"), QStringLiteral(",1433")}) {
        try {
            odbc::parseServerName(typed);
            ADD_FAILURE() << "accepted: " << typed.toStdString();
        } catch (const rt::RuntimeError& e) {
            EXPECT_TRUE(e.description().contains(u'\'' + typed + u'\''))
                << e.description().toStdString();
        }
    }
}

TEST(ServerName, KeysForTheDriver) {
    auto keys = [](const QString& typed) {
        odbc::ConnectionStringBuilder builder;
        odbc::addServerKeys(builder, odbc::parseServerName(typed));
        return builder.text();
    };
    EXPECT_EQ(keys(QStringLiteral("db1")), QStringLiteral("SERVER=db1;"));
    EXPECT_EQ(keys(QStringLiteral("db1\\INST")), QStringLiteral("SERVER=db1\\INST;"));
    EXPECT_EQ(keys(QStringLiteral("db1\\INST,2000")), QStringLiteral("SERVER=db1;PORT=2000;"));
    EXPECT_EQ(keys(QStringLiteral("tcp:db1,1433")), QStringLiteral("SERVER=db1;PORT=1433;"));
}

TEST(OdbcError, JoinsRecordsOncePerTextAndFindsTheServerMessage) {
    const odbc::Error driverOnly({{QStringLiteral("08S01"), 20009, QStringLiteral("A")},
                                  {QStringLiteral("08S01"), 20009, QStringLiteral("A")},
                                  {QStringLiteral("08001"), 0, QStringLiteral("B")}});
    EXPECT_EQ(driverOnly.description(),
              QStringLiteral("No se puede conectar con el servidor: no está disponible, no "
                             "existe o rechaza la conexión.\nA"));
    EXPECT_EQ(driverOnly.number(), odbc::Error::kUnspecified);
    EXPECT_FALSE(driverOnly.serverMessageNumber());

    const odbc::Error fromServer({{QStringLiteral("42000"), 3702, QStringLiteral("in use")},
                                  {QStringLiteral("01000"), 5701, QStringLiteral("context")}});
    EXPECT_EQ(fromServer.serverMessageNumber(), 3702);
}

// The driver's own failures get a Spanish line before the driver's text; a
// message of the server passes as it came.
TEST(OdbcError, DriverFailuresAreDescribedInSpanishServerMessagesAreNot) {
    struct Case {
        std::vector<odbc::DiagRecord> records;
        QString instance;
        QString description;
    };
    const QString refused = QStringLiteral("[FreeTDS][SQL Server]Unable to connect");
    const std::vector<Case> cases = {
        {{{"08S01", 20009, refused}},
         {},
         "No se puede conectar con el servidor: no está disponible, no existe o rechaza la "
         "conexión.\n" +
             refused},
        {{{"08S01", 20009, refused}},
         "SQLEXPRESS",
         "No se puede conectar con la instancia 'SQLEXPRESS': el servicio SQL Server Browser del "
         "equipo no la conoce o no responde, o la instancia no está disponible.\n" +
             refused},
        {{{"08001", 0, "B"}, {"01000", 20013, "Unknown host machine name."}},
         {},
         "No se encuentra el equipo servidor: su nombre no corresponde a ninguna dirección.\n"
         "Unknown host machine name."},
        {{{"HYT00", 0, "Timeout expired"}},
         {},
         "El servidor no ha respondido en el tiempo de espera.\nTimeout expired"},
        {{{"08S01", 20017, "Unexpected EOF from the server"}},
         {},
         "Se ha perdido la conexión con el servidor.\nUnexpected EOF from the server"},
        {{{"08S01", 20002, "Adaptive Server connection failed"}},
         {},
         "No se ha podido establecer la conexión con el servidor: el inicio de la sesión o su "
         "cifrado (TLS) han fallado.\nAdaptive Server connection failed"},
        {{{"IM002", 0, "Data source name not found"}},
         {},
         "El controlador de SQL Server (FreeTDS) ha informado de un error.\nData source name not "
         "found"},
        {{{"42000", 18456, "Login failed for user 'sa'."}, {"08S01", 20002, "failed"}},
         {},
         "Login failed for user 'sa'.\nfailed"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(odbc::Error(c.records, c.instance).description(), c.description);
    }
}

TEST(OdbcConnection, RefusedConnectionCarriesTheDriversText) {
    odbc::Connection connection;
    const QString cs =
        QStringLiteral(
            "DRIVER=FreeTDS;SERVER=127.0.0.1;PORT=%1;UID=sa;PWD=secret-pw;TDS_Version=7.3")
            .arg(testing_support::closedLoopbackPort());
    try {
        connection.connect(cs);
        FAIL() << "connected to a closed port";
    } catch (const odbc::Error& e) {
        EXPECT_TRUE(e.description().startsWith(
            QStringLiteral("No se puede conectar con el servidor: no está disponible, no existe o "
                           "rechaza la conexión.\n[FreeTDS][SQL Server]Unable to connect")))
            << e.description().toStdString();
        EXPECT_FALSE(e.description().contains(QStringLiteral("secret-pw")));
        EXPECT_FALSE(e.serverMessageNumber());
    }
    EXPECT_FALSE(connection.connected());
}

TEST(OdbcConnection, UnknownDriverIsAFailureNotACrash) {
    odbc::Connection connection;
    EXPECT_THROW(connection.connect(QStringLiteral("DRIVER=NoSuchDriver;SERVER=x")), odbc::Error);
}

} // namespace
