// The Varios procedures against servers as users have them: a case-sensitive
// collation, a login whose default database is the one to drop, a login
// that sees only some databases.
#include "RecordingUi.h"
#include "ServerStates.h"
#include "TestList.h"
#include "TestServer.h"
#include "sqlserver/Varios.h"

#include <QJsonArray>

#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

const QString kMissing = QStringLiteral("La Base de Datos a borrar no existe.");

QJsonObject caseSensitive(const QString& collation) {
    QJsonObject state =
        withDatabases(TestServer::defaultState(), {"Ventas", "ventas", "Compras", "Ñandú"});
    state.insert("collation", collation);
    return state;
}

QStringList loaded(const TestServer& server, const QString& login = kSa,
                   const QString& password = kSaPassword) {
    TestList list;
    CargaBBDD(list, server.serverName(), login, password);
    return list.items;
}

// Names that differ in case alone are two databases there: both are listed,
// and each is removed alone, by its exact name.
TEST(CaseSensitiveServer, ListsAndRemovesEachOfTwoNamesThatDifferInCase) {
    for (const char* collation : {"Latin1_General_CS_AS", "Latin1_General_BIN2"}) {
        SCOPED_TRACE(collation);
        for (const QString& name : {QStringLiteral("ventas"), QStringLiteral("Ventas")}) {
            TestServer server(caseSensitive(collation));
            RecordingUi ui;
            EXPECT_EQ(loaded(server).filter(QStringLiteral("entas"), Qt::CaseInsensitive).size(),
                      2);
            EXPECT_TRUE(BorraDBSQL(server.serverName(), name, kSa, kSaPassword))
                << ui.messageTexts().join(u'|').toStdString();
            QStringList left = {"Ventas", "ventas", "Compras", "Ñandú"};
            left.removeOne(name);
            EXPECT_EQ(userDatabases(server.readState()), left);
        }
    }
}

// A name that matches both twins only without regard to case names neither:
// nothing is guessed, nothing removed.
TEST(CaseSensitiveServer, NameMatchingTwoTwinsRemovesNothing) {
    TestServer server(caseSensitive(QStringLiteral("Latin1_General_CS_AS")));
    const QJsonObject before = server.readState();
    RecordingUi ui;
    ui.allow();
    EXPECT_FALSE(BorraDBSQL(server.serverName(), QStringLiteral("VENTAS"), kSa, kSaPassword));
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(ui.messages()[0].text.startsWith(
        QStringLiteral("BorraDBSQL: Error borrando la Base de Datos (SQL Server).\r\n")));
    EXPECT_EQ(server.readState(), before);
}

// The management connection opens in master, so the login's own default
// database is not held by the session that drops it.
TEST(DefaultDatabase, TheLoginsOwnDefaultDatabaseCanBeRemoved) {
    QJsonObject state = TestServer::defaultState();
    QJsonArray logins = state.value("logins").toArray();
    QJsonObject sa = logins[0].toObject();
    sa.insert("defaultDatabase", "Ventas");
    logins[0] = sa;
    state.insert("logins", logins);
    TestServer server(state);
    RecordingUi ui;
    EXPECT_TRUE(BorraDBSQL(server.serverName(), QStringLiteral("Ventas"), kSa, kSaPassword))
        << ui.messageTexts().join(u'|').toStdString();
    EXPECT_FALSE(userDatabases(server.readState()).contains(QStringLiteral("Ventas")));
}

// Without VIEW ANY DATABASE a login sees master, tempdb and its own
// databases, without an error; it can remove its own.
TEST(LockedDownLogin, SeesAndRemovesOnlyWhatItOwns) {
    QJsonObject state = withLogin(
        TestServer::defaultState(),
        QJsonObject{{"name", "dueno"}, {"password", "Clave.1"}, {"viewAnyDatabase", false}});
    QJsonArray databases = state.value("databases").toArray();
    databases.append(QJsonObject{{"name", "Propia"}, {"owner", "dueno"}});
    state.insert("databases", databases);
    TestServer server(state);
    RecordingUi ui;
    ui.allow();
    EXPECT_EQ(loaded(server, "dueno", "Clave.1"), (QStringList{"master", "Propia", "tempdb"}));
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_FALSE(BorraDBSQL(server.serverName(), QStringLiteral("Ventas"), "dueno", "Clave.1"));
    EXPECT_EQ(ui.messages(), (std::vector<Message>{{kMissing, 16}}));
    EXPECT_TRUE(BorraDBSQL(server.serverName(), QStringLiteral("Propia"), "dueno", "Clave.1"));
    EXPECT_EQ(userDatabases(server.readState()),
              (QStringList{"Ventas", "Compras", "Nóminas 2024"}));
}

} // namespace

namespace {

// A loopback address of this process's own, so that the Browser of one test
// run does not meet another's on UDP port 1434.
QString ownLoopbackAddress(int index) {
    return QStringLiteral("127.13.%1.%2").arg(::getpid() % 250 + 1).arg(index);
}

// "HOST\INSTANCE" is resolved through the host's SQL Server Browser, which
// answers for its own instance only.
TEST(NamedInstance, IsFoundThroughTheBrowserAndAnUnknownOneIsNamedInTheMessage) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "the SQL Server Browser needs UDP port 1434, which only root may bind";
    }
    QJsonObject state = TestServer::defaultState();
    state.insert("instance", "NOMBRE");
    TestServer server(state, ownLoopbackAddress(1));
    RecordingUi ui;
    ui.allow();
    const QString named = server.host() + QStringLiteral("\\nombre");
    TestList list;
    CargaBBDD(list, named, kSa, kSaPassword);
    EXPECT_TRUE(list.items.contains(QStringLiteral("Ventas")))
        << ui.messageTexts().join(u'|').toStdString();
    EXPECT_TRUE(BorraDBSQL(named, QStringLiteral("Ventas"), kSa, kSaPassword));
    EXPECT_EQ(userDatabases(server.readState()), (QStringList{"Compras", "Nóminas 2024"}));
    EXPECT_TRUE(ui.messages().empty());

    // The driver asks the Browser for some seconds before it gives up.
    CargaBBDD(list, server.host() + QStringLiteral("\\OTRA"), kSa, kSaPassword);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(ui.messages()[0].text.startsWith(
        QStringLiteral("CargaBBDD: No se puede conectar con la instancia 'OTRA': el servicio SQL "
                       "Server Browser")))
        << ui.messages()[0].text.toStdString();
}

} // namespace
