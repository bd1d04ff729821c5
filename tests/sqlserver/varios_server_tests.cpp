// The Varios procedures against the test server, through the real FreeTDS
// driver: messages, pointer, results, and what reached the server.
#include "RecordingUi.h"
#include "ServerStates.h"
#include "TestList.h"
#include "TestServer.h"
#include "platform/ado/Recordset.h"
#include "sqlserver/Varios.h"

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

const QString kMissing = QStringLiteral("La Base de Datos a borrar no existe.");
const QString kRemovalFailed =
    QStringLiteral("BorraDBSQL: Error borrando la Base de Datos (SQL Server).\r\n");
const QString kExistenceQuery = QStringLiteral("SELECT DB_NAME(dbid) AS DB_NAME FROM sysdatabases");
const QStringList kSystem = {QStringLiteral("master"), QStringLiteral("model"),
                             QStringLiteral("msdb"), QStringLiteral("tempdb")};

QStringList batchesOf(const TestServer& server) {
    QStringList texts;
    for (const QJsonObject& line : server.logLines()) {
        if (line.value("request").toString() == QLatin1String("batch")) {
            texts << line.value("statement").toString();
        }
    }
    return texts;
}

QList<QJsonObject> loginsOf(const TestServer& server) {
    QList<QJsonObject> logins;
    for (const QJsonObject& line : server.logLines()) {
        if (line.value("request").toString() == QLatin1String("login")) {
            logins << line;
        }
    }
    return logins;
}

// No SQL Server login was tried: the probe went the integrated way.
void expectNoSqlServerLogin(const TestServer& server) {
    for (const QJsonObject& login : loginsOf(server)) {
        EXPECT_TRUE(login.value("integrated").toBool())
            << login.value("login").toString().toStdString();
    }
}

// The sessions that logged in; a handshake that only showed the certificate
// is none.
QList<int> sessionsOf(const TestServer& server) {
    QList<int> sessions;
    for (const QJsonObject& line : server.logLines()) {
        const int session = line.value("session").toInt();
        if (session != 0 && line.value("request") == QLatin1String("login") &&
            !sessions.contains(session)) {
            sessions << session;
        }
    }
    return sessions;
}

// --- provider choice -------------------------------------------------------

TEST(ProviderChoice, MajorVersionTenHasItsOwnProviderAndTheRestShareOne) {
    const std::pair<const char*, const char*> cases[] = {
        {"10.50.6000.34", "SQLNCLI10"}, {"10.0.1600.22", "SQLNCLI10"}, {"8.00.2039", "SQLNCLI"},
        {"9.00.5000.00", "SQLNCLI"},    {"11.0.7001.0", "SQLNCLI"},    {"16.0.1000.6", "SQLNCLI"}};
    for (const auto& [version, provider] : cases) {
        TestServer server(withVersion(TestServer::defaultState(), QString::fromLatin1(version)));
        RecordingUi ui;
        EXPECT_EQ(dimeProviderSQL(dimeTipoSQL(server.serverName(), kSa, kSaPassword, false)),
                  QString::fromLatin1(provider))
            << version;
        EXPECT_EQ(ui.pointers(), (std::vector<int>{11, 1}));
        EXPECT_TRUE(ui.messages().empty());
    }
}

// The probe's report is the one message: the data connection is not tried
// with a login that has just been refused.
TEST(ProviderChoice, WrongPasswordIsReportedOnceByTheProbe) {
    TestServer server;
    RecordingUi ui;
    ui.allow();
    ui.setMousePointer(11);
    ado::Connection cn;
    EXPECT_FALSE(conectaDSN(server.serverName(), cn, kSa, QStringLiteral("wrong")));
    EXPECT_EQ(ui.messageTexts(),
              QStringList{QStringLiteral("zuConexionUtil.dimeTipoSQL. Error -2147186664: "
                                         "[FreeTDS][SQL Server]Login failed for user 'sa'.")});
    EXPECT_EQ(ui.mousePointer(), 1);
    EXPECT_EQ(cn.State(), ado::kStateClosed);
}

TEST(ProviderChoice, EmptyLoginProbesWithTheIntegratedLogin) {
    TestServer server;
    RecordingUi ui;
    ui.allow();
    EXPECT_EQ(dimeTipoSQL(server.serverName(), QString(), QStringLiteral("typed"), false), 0);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(ui.messages()[0].text.startsWith(
        QStringLiteral("zuConexionUtil.dimeTipoSQL. Error -2147467259: ")));
    expectNoSqlServerLogin(server);
    EXPECT_EQ(ui.mousePointer(), 1);
}

TEST(ConectaDSN, TheProviderSetsTheDataConnectionsTdsVersion) {
    for (const auto& [version, tds] :
         {std::pair{"10.50.6000.34", "0x730b0003"}, std::pair{"9.00.5000.00", "0x72090002"}}) {
        TestServer server(withVersion(TestServer::defaultState(), QString::fromLatin1(version)));
        RecordingUi ui;
        ado::Connection cn;
        ASSERT_TRUE(conectaDSN(server.serverName(), cn, kSa, kSaPassword));
        const QList<QJsonObject> logins = loginsOf(server);
        ASSERT_EQ(logins.size(), 2);
        EXPECT_EQ(logins.back().value("tdsVersion").toString(), QString::fromLatin1(tds))
            << version;
        EXPECT_EQ(logins.back().value("database").toString().toUpper(), QStringLiteral("MASTER"));
    }
}

// The level is set with the connection's first statement, in its batch: a
// distant server is spared a round trip.
TEST(ConectaDSN, OpensMasterWithReadUncommittedOnThatConnection) {
    TestServer server;
    RecordingUi ui;
    {
        ado::Connection cn;
        ASSERT_TRUE(conectaDSN(server.serverName(), cn, kSa, kSaPassword));
        EXPECT_EQ(cn.State(), ado::kStateOpen);
        ado::Recordset rs;
        rs.Open(QStringLiteral("SELECT @@SPID"), cn);
    }
    const QStringList batches = batchesOf(server);
    ASSERT_FALSE(batches.isEmpty());
    EXPECT_EQ(batches.last(),
              QStringLiteral("SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED\nSELECT @@SPID"));
    const QList<QJsonObject> lines = server.logLines();
    EXPECT_EQ(lines.last().value("database").toString().toUpper(), QStringLiteral("MASTER"));
    EXPECT_TRUE(ui.messages().empty());
}

// --- the database list -----------------------------------------------------

TEST(CargaBBDD, ListsEveryDatabaseSystemOnesIncludedInTheServersOrder) {
    TestServer server;
    RecordingUi ui;
    TestList list;
    list.items = {QStringLiteral("vieja")};
    CargaBBDD(list, server.serverName(), kSa, kSaPassword);
    // The server sorts as SQL Server's default collation does, ignoring case.
    QStringList expected = kSystem + userDatabases(TestServer::defaultState());
    expected.sort(Qt::CaseInsensitive);
    EXPECT_EQ(list.items, expected);
    EXPECT_EQ(list.clears, 1);
    EXPECT_TRUE(ui.messages().empty());
}

TEST(CargaBBDD, RefusedLoginEmptiesTheListAndSaysWhy) {
    TestServer server;
    RecordingUi ui;
    ui.allow();
    TestList list;
    list.items = {QStringLiteral("vieja")};
    CargaBBDD(list, server.serverName(), kSa, QStringLiteral("wrong"));
    EXPECT_EQ(list.ListCount(), 0);
    EXPECT_EQ(
        ui.messageTexts(),
        QStringList{QStringLiteral("CargaBBDD: [FreeTDS][SQL Server]Login failed for user 'sa'.")});
}

TEST(CargaBBDD, EmptyLoginTakesTheIntegratedPath) {
    TestServer server;
    RecordingUi ui;
    ui.allow();
    TestList list;
    CargaBBDD(list, server.serverName(), QString(), QStringLiteral("typed"));
    EXPECT_EQ(list.ListCount(), 0);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(ui.messages()[0].text.startsWith(
        QStringLiteral("CargaBBDD: No hay un vale de Kerberos; inicie sesión con kinit.\n"
                       "[FreeTDS][SQL Server]")))
        << ui.messages()[0].text.toStdString();
    expectNoSqlServerLogin(server);
}

TEST(CargaBBDD, PasswordWithSeparatorsAndQuotesLogsIn) {
    const QString password = QStringLiteral("a;b=c\"d");
    TestServer server(
        withLogin(TestServer::defaultState(),
                  QJsonObject{{"name", "raro"}, {"password", password}, {"sysadmin", true}}));
    RecordingUi ui;
    TestList list;
    CargaBBDD(list, server.serverName(), QStringLiteral("raro"), password);
    EXPECT_TRUE(list.items.contains(QStringLiteral("Ventas")));
    EXPECT_TRUE(ui.messages().empty()) << ui.messageTexts().join(u'|').toStdString();
}

// --- the existence check ---------------------------------------------------

TEST(BExisteDBSQL, IgnoresCaseButNotBlanks) {
    TestServer server;
    RecordingUi ui;
    EXPECT_TRUE(bExisteDBSQL(server.serverName(), QStringLiteral("VENTAS"), kSa, kSaPassword));
    EXPECT_TRUE(
        bExisteDBSQL(server.serverName(), QStringLiteral("nóminas 2024"), kSa, kSaPassword));
    EXPECT_TRUE(bExisteDBSQL(server.serverName(), QStringLiteral("master"), kSa, kSaPassword));
    EXPECT_FALSE(bExisteDBSQL(server.serverName(), QStringLiteral("Ventas "), kSa, kSaPassword));
    EXPECT_FALSE(bExisteDBSQL(server.serverName(), QStringLiteral("Vent"), kSa, kSaPassword));
    EXPECT_TRUE(ui.messages().empty());
}

TEST(BExisteDBSQL, SendsTheQueryUnchangedOnTheReadUncommittedConnection) {
    TestServer server;
    RecordingUi ui;
    bExisteDBSQL(server.serverName(), QStringLiteral("Ventas"), kSa, kSaPassword);
    EXPECT_TRUE(batchesOf(server).contains(
        QStringLiteral("SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED\n") + kExistenceQuery));
}

TEST(BExisteDBSQL, DeniedQueryIsFalseWithoutAMessage) {
    TestServer server(
        withLogin(TestServer::defaultState(), QJsonObject{{"name", "vetado"},
                                                          {"password", "vetado"},
                                                          {"deny", QJsonArray{"sysdatabases"}}}));
    RecordingUi ui;
    EXPECT_FALSE(bExisteDBSQL(server.serverName(), QStringLiteral("Ventas"),
                              QStringLiteral("vetado"), QStringLiteral("vetado")));
    EXPECT_TRUE(ui.messages().empty()) << ui.messageTexts().join(u'|').toStdString();
}

// --- the removal -----------------------------------------------------------

class Removal : public ::testing::Test {
protected:
    void start(const QJsonObject& state) {
        server_ = std::make_unique<TestServer>(state);
        before_ = server_->readState();
    }
    bool remove(const QString& name, const QString& login = kSa,
                const QString& password = kSaPassword) {
        return BorraDBSQL(server_->serverName(), name, login, password);
    }
    void expectUnchanged() const { EXPECT_EQ(server_->readState(), before_); }
    void expectOnlyGone(const QString& name) const {
        QStringList expected = userDatabases(before_);
        ASSERT_TRUE(expected.removeOne(name)) << name.toStdString();
        EXPECT_EQ(userDatabases(server_->readState()), expected);
    }

    RecordingUi ui_;
    std::unique_ptr<TestServer> server_;
    QJsonObject before_;
};

// The three connections of the removal are logical ones: they share one
// session with the server, one login, and three batches (the existence
// check with the facts, the list the drop finds its name in, the drop).
TEST_F(Removal, DropsExactlyTheNamedDatabaseOverOneSharedSession) {
    start(TestServer::defaultState());
    EXPECT_TRUE(remove(QStringLiteral("Compras")));
    EXPECT_TRUE(ui_.messages().empty());
    expectOnlyGone(QStringLiteral("Compras"));
    EXPECT_EQ(sessionsOf(*server_).size(), 1);
    const QStringList batches = batchesOf(*server_);
    ASSERT_EQ(batches.size(), 3) << batches.join(u'|').toStdString();
    EXPECT_TRUE(batches[0].startsWith(
        QStringLiteral(
            "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED\n%1\nBEGIN TRY EXEC sp_executesql")
            .arg(kExistenceQuery)));
    EXPECT_EQ(batches[1],
              QStringLiteral("SET TRANSACTION ISOLATION LEVEL READ COMMITTED\nSELECT name, @@SPID "
                             "AS spid FROM master.dbo.sysdatabases ORDER BY name"));
    EXPECT_EQ(batches[2], QStringLiteral("DROP DATABASE [Compras]"));
}

TEST_F(Removal, OddNamesAreDroppedExactlyAndAlone) {
    const QStringList odd = {QStringLiteral("a]b"),
                             QStringLiteral("x]; DROP DATABASE [Ventas"),
                             QStringLiteral("O'Brien"),
                             QStringLiteral("\"q\""),
                             QStringLiteral("uno;dos"),
                             QStringLiteral("con blancos dentro"),
                             QStringLiteral("blanco al final "),
                             QStringLiteral("Ñandú"),
                             QString(128, u'x')};
    start(withDatabases(TestServer::defaultState(), QStringList{QStringLiteral("Ventas")} + odd));
    for (const QString& name : odd) {
        const QJsonObject state = server_->readState();
        EXPECT_TRUE(remove(name)) << name.toStdString() << ": "
                                  << ui_.messageTexts().join(u'|').toStdString();
        before_ = state;
        expectOnlyGone(name);
    }
    EXPECT_TRUE(ui_.messages().empty());
    EXPECT_EQ(userDatabases(server_->readState()), QStringList{QStringLiteral("Ventas")});
}

TEST_F(Removal, CaseDifferenceAloneStillFindsTheDatabase) {
    start(TestServer::defaultState());
    EXPECT_TRUE(remove(QStringLiteral("ventas")));
    expectOnlyGone(QStringLiteral("Ventas"));
}

TEST_F(Removal, MissingDatabaseSaysSoAndChangesNothing) {
    start(TestServer::defaultState());
    ui_.allow();
    EXPECT_FALSE(remove(QStringLiteral("Ventas ")));
    EXPECT_EQ(ui_.messages(), (std::vector<Message>{{kMissing, 16}}));
    expectUnchanged();
    EXPECT_FALSE(batchesOf(*server_).join(u'\n').contains(QStringLiteral("DROP")));
}

// A login that fails is said once, by the probe; neither a missing
// provider nor a missing database is claimed, and nothing is removed.
TEST_F(Removal, FailedLoginIsTheOneMessage) {
    struct Case {
        QString login;
        QString password;
    };
    for (const Case& c : {Case{kSa, QStringLiteral("wrong")}, Case{QString(), kSaPassword}}) {
        start(TestServer::defaultState());
        RecordingUi ui;
        ui.allow();
        EXPECT_FALSE(remove(QStringLiteral("Ventas"), c.login, c.password));
        ASSERT_EQ(ui.messages().size(), 1u) << ui.messageTexts().join(u'|').toStdString();
        EXPECT_TRUE(
            ui.messages()[0].text.startsWith(QStringLiteral("zuConexionUtil.dimeTipoSQL. Error ")))
            << ui.messages()[0].text.toStdString();
        if (c.login.isEmpty()) {
            expectNoSqlServerLogin(*server_);
        }
        expectUnchanged();
    }
}

TEST_F(Removal, DeniedExistenceQueryOnlySaysMissing) {
    start(withLogin(TestServer::defaultState(), QJsonObject{{"name", "vetado"},
                                                            {"password", "vetado"},
                                                            {"sysadmin", true},
                                                            {"deny", QJsonArray{"sysdatabases"}}}));
    ui_.allow();
    EXPECT_FALSE(
        remove(QStringLiteral("Ventas"), QStringLiteral("vetado"), QStringLiteral("vetado")));
    EXPECT_EQ(ui_.messages(), (std::vector<Message>{{kMissing, 16}}));
    expectUnchanged();
}

// Answered No, the offer to close the sessions leaves the server's refusal.
TEST_F(Removal, DatabaseInUseStaysWithTheServersReason) {
    start(withDatabaseInUse(TestServer::defaultState(), QStringLiteral("Ocupada")));
    ui_.answer(ui::answer::No).allow();
    EXPECT_FALSE(remove(QStringLiteral("Ocupada")));
    ASSERT_EQ(ui_.messages().size(), 2u);
    EXPECT_EQ(ui_.messages()[0].style, 308);
    EXPECT_TRUE(ui_.messages()[0].text.startsWith(
        QStringLiteral("La base de datos 'Ocupada' está en uso por estas sesiones:\r\n- sa\r\n")))
        << ui_.messages()[0].text.toStdString();
    EXPECT_EQ(ui_.messages()[1].style, 0);
    EXPECT_TRUE(
        ui_.messages()[1].text.startsWith(kRemovalFailed + QStringLiteral("[FreeTDS][SQL Server]")))
        << ui_.messages()[1].text.toStdString();
    EXPECT_TRUE(ui_.messages()[1].text.contains(QStringLiteral("porque está en uso")))
        << ui_.messages()[1].text.toStdString();
    expectUnchanged();
}

// What the login may not drop, and a system database, are refused before
// any drop is sent, naming why.
TEST_F(Removal, WhatMayNotBeDroppedIsRefusedBeforeTheDrop) {
    const struct {
        const char* database;
        const char* login;
        const char* why;
    } cases[] = {{"Ventas", "lector", "'lector' no tiene permiso para eliminarla"},
                 {"master", "sa", "es una base de datos del sistema"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.database);
        start(TestServer::defaultState());
        RecordingUi ui;
        ui.allow();
        const QString login = QString::fromLatin1(c.login);
        EXPECT_FALSE(
            remove(QString::fromLatin1(c.database), login, login == kSa ? kSaPassword : login));
        ASSERT_EQ(ui.messages().size(), 1u);
        EXPECT_EQ(ui.messages()[0].style, 16);
        EXPECT_TRUE(ui.messages()[0].text.contains(QString::fromUtf8(c.why)))
            << ui.messages()[0].text.toStdString();
        EXPECT_FALSE(batchesOf(*server_).join(u'|').contains(QStringLiteral("DROP DATABASE")));
        expectUnchanged();
    }
}

TEST_F(Removal, PasswordWithSeparatorsAndQuotesRemoves) {
    const QString password = QStringLiteral("a;b=c\"d");
    start(withLogin(TestServer::defaultState(),
                    QJsonObject{{"name", "raro"}, {"password", password}, {"sysadmin", true}}));
    EXPECT_TRUE(remove(QStringLiteral("Ventas"), QStringLiteral("raro"), password))
        << ui_.messageTexts().join(u'|').toStdString();
    expectOnlyGone(QStringLiteral("Ventas"));
}

} // namespace

namespace {

// A server that cannot encrypt: both commands stop before any password is
// sent, say why, and leave the server as it was.
TEST(UnencryptedServer, BothCommandsSayWhyAndSendNoPassword) {
    QJsonObject state = TestServer::defaultState();
    state.insert("encryption", QStringLiteral("unsupported"));
    TestServer server(state);
    const QJsonObject before = server.readState();
    const QString why = QStringLiteral(
        "El servidor no admite conexiones cifradas; no se ha enviado la contraseña. Si el servidor "
        "sí admite el cifrado, alguien en la red está intentando debilitarlo.");
    RecordingUi ui;
    ui.allow(2);
    TestList list;
    CargaBBDD(list, server.serverName(), kSa, kSaPassword);
    EXPECT_FALSE(BorraDBSQL(server.serverName(), QStringLiteral("Ventas"), kSa, kSaPassword));
    ASSERT_EQ(ui.messages().size(), 2u);
    EXPECT_TRUE(ui.messages()[0].text.startsWith(QStringLiteral("CargaBBDD: ") + why + u'\n'));
    EXPECT_TRUE(ui.messages()[1].text.startsWith(
        QStringLiteral("zuConexionUtil.dimeTipoSQL. Error -2147467259: ") + why + u'\n'));
    EXPECT_EQ(server.readState(), before);
    EXPECT_TRUE(loginsOf(server).isEmpty());
}

} // namespace
