// Windows authentication (an empty login) end to end: a real MIT KDC on
// loopback, the test server accepting Kerberos with its keytab, and the
// procedures through the FreeTDS driver, with and without a ticket.
#include "KerberosRealm.h"
#include "RecordingUi.h"
#include "ServerStates.h"
#include "TestList.h"
#include "TestServer.h"
#include "platform/dmo/SQLServer.h"
#include "sqlserver/Varios.h"

#include <QJsonArray>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

QJsonObject kerberosState(const KerberosRealm& realm, bool windowsLogin = true) {
    QJsonObject state = TestServer::defaultState();
    if (windowsLogin) {
        state = withLogin(
            state,
            QJsonObject{{"name", "DOMINIO\\alicia"}, {"integrated", true}, {"sysadmin", true}});
    }
    state.insert("kerberos", QJsonObject{{"keytab", realm.keytab()},
                                         {"realm", QString::fromLatin1(KerberosRealm::kRealm)}});
    return state;
}

QString servicePrincipal(const TestServer& server) {
    return QStringLiteral("MSSQLSvc/%1:%2").arg(kerberosHostName()).arg(server.port());
}

// Logins to this machine go where its host name leads, so the test server
// listens there; a host name that leads nowhere on loopback (a bare
// bootstrap root without the name in /etc/hosts) leaves nothing to test.
class Kerberos : public ::testing::Test {
protected:
    void SetUp() override {
        const std::optional<QString> found = kerberosHostAddress();
        if (!found) {
            GTEST_SKIP() << "the host name " << kerberosHostName().toStdString()
                         << " resolves to no loopback address, where a login to this machine "
                            "by its name would go";
        }
        address = *found;
    }
    QString address;
};

// "(local)" as users type it, on the test server's port.
QString local(const TestServer& server) { return QStringLiteral("(local),%1").arg(server.port()); }

TEST_F(Kerberos, WithATicketTheManagementSideWorksAndRemovesExactlyOne) {
    KerberosRealm realm;
    TestServer server(kerberosState(realm), address);
    realm.addService(servicePrincipal(server));
    realm.kinit();
    RecordingUi ui;
    // Each name of this machine reaches the principal of its host name.
    for (const char* thisMachine : {"(local)", ".", "localhost"}) {
        TestList list;
        CargaBBDD(list, QStringLiteral("%1,%2").arg(thisMachine).arg(server.port()), QString(),
                  QString());
        EXPECT_EQ(list.ListCount(), 7) << thisMachine;
    }
    EXPECT_EQ(dimeTipoSQL(local(server), QString(), QString(), false), 2);

    dmo::SQLServer sql;
    sql.setLoginSecure(true);
    sql.Connect(local(server));
    sql.Databases().Item(QStringLiteral("Compras")).Remove();
    sql.DisConnect();
    QStringList left;
    for (const QJsonValue& d : server.readState().value("databases").toArray()) {
        left << d.toObject().value("name").toString();
    }
    EXPECT_EQ(left, (QStringList{QStringLiteral("Ventas"), QStringLiteral("Nóminas 2024")}));
    EXPECT_TRUE(ui.messages().empty());
    for (const QJsonObject& line : server.logLines()) {
        if (line.value("request") == QLatin1String("login")) {
            EXPECT_EQ(line.value("method"), QStringLiteral("kerberos"));
            EXPECT_EQ(line.value("principal"), QStringLiteral("alicia@TARVELO.TEST"));
            EXPECT_EQ(line.value("tls"), QStringLiteral("session"));
        }
    }
}

TEST_F(Kerberos, AnEmptyLoginStillCannotRemoveThroughTheExistenceCheck) {
    KerberosRealm realm;
    TestServer server(kerberosState(realm), address);
    realm.addService(servicePrincipal(server));
    realm.kinit();
    const QJsonObject before = server.readState();
    RecordingUi ui;
    ui.allow();
    EXPECT_FALSE(BorraDBSQL(local(server), QStringLiteral("Ventas"), QString(), QString()));
    EXPECT_EQ(server.readState(), before);
    EXPECT_EQ(ui.messageTexts(),
              QStringList{QStringLiteral("conectaDSN: No se puede iniciar sesión en SQL Server con "
                                         "un nombre de usuario vacío.")});
}

TEST_F(Kerberos, FailuresSayTheirCause) {
    const struct {
        const char* name;
        bool service;
        bool ticket;
        bool login;
        const char* message; // %1: the service principal
    } cases[] = {
        {"no ticket", true, false, true,
         "CargaBBDD: No hay un vale de Kerberos; inicie sesión con kinit.\n[FreeTDS]"},
        {"unknown server", false, true, true,
         "CargaBBDD: El KDC de Kerberos no conoce el servidor (%1); no se puede iniciar sesión "
         "con la autenticación de Windows.\n[FreeTDS]"},
        {"principal without a login", true, true, false,
         "CargaBBDD: [FreeTDS][SQL Server]Login failed for user 'TARVELO\\alicia'."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KerberosRealm realm;
        TestServer server(kerberosState(realm, c.login), address);
        if (c.service) {
            realm.addService(servicePrincipal(server));
        }
        if (c.ticket) {
            realm.kinit();
        }
        RecordingUi ui;
        ui.allow();
        TestList list;
        CargaBBDD(list, local(server), QString(), QString());
        EXPECT_EQ(list.ListCount(), 0);
        ASSERT_EQ(ui.messages().size(), 1u);
        const QString expected = QString::fromUtf8(c.message).arg(servicePrincipal(server));
        EXPECT_TRUE(ui.messages()[0].text.startsWith(expected))
            << ui.messages()[0].text.toStdString();
    }
}

TEST_F(Kerberos, TsqlWithAnEmptyUserLogsInWithTheTicket) {
    KerberosRealm realm;
    TestServer server(kerberosState(realm), address);
    realm.addService(servicePrincipal(server));
    realm.kinit();
    QProcess tsql;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("TDSVER"), QStringLiteral("7.3"));
    tsql.setProcessEnvironment(env);
    tsql.start(QStringLiteral("tsql"),
               {"-H", kerberosHostName(), "-p", QString::number(server.port()), "-U", "", "-P", "",
                "-o", "q"});
    tsql.write("SELECT SUSER_NAME()\ngo\nSELECT name FROM master.dbo.sysdatabases\ngo\nexit\n");
    tsql.closeWriteChannel();
    ASSERT_TRUE(tsql.waitForFinished(20000)) << "waited 20 s for tsql";
    const QString out = QString::fromUtf8(tsql.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QStringLiteral("Ventas"))) << out.toStdString();
}

} // namespace
