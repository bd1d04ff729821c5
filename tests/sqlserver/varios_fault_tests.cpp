// Faults the test server injects (refused, closed during login, closed in
// the middle of the rows, garbage, delayed): each gives the messages of its
// failure path and the neutral result, and never loses a database.
#include "RecordingUi.h"
#include "ServerStates.h"
#include "ShortTimeouts.h"
#include "TestList.h"
#include "TestServer.h"
#include "sqlserver/Varios.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace testing_support;

const QString kMissing = QStringLiteral("La Base de Datos a borrar no existe.");

QJsonObject fault(const char* stage, const char* action, int ms = 0, int after = 0) {
    QJsonObject f{{"stage", stage}, {"action", action}};
    if (ms) {
        f.insert("ms", ms);
    }
    if (after) {
        f.insert("after", after);
    }
    return f;
}

QJsonObject faulty(const QJsonObject& f) { return withFault(TestServer::defaultState(), f); }

struct ListFault {
    const char* name;
    QJsonObject fault;
};

class CargaBBDDFault : public ::testing::TestWithParam<ListFault> {};

TEST_P(CargaBBDDFault, ReportsWithTheOldEntriesGone) {
    TestServer server(faulty(GetParam().fault));
    RecordingUi ui;
    ui.allow();
    TestList list;
    list.items = {QStringLiteral("vieja")};
    CargaBBDD(list, server.serverName(), kSa, kSaPassword);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(ui.messages()[0].text.startsWith(QStringLiteral("CargaBBDD: ")))
        << ui.messages()[0].text.toStdString();
    EXPECT_EQ(ui.messages()[0].style, 0);
    EXPECT_FALSE(list.items.contains(QStringLiteral("vieja")));
    EXPECT_LT(list.ListCount(), 7);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CargaBBDDFault,
    ::testing::Values(ListFault{"ConnectionRefused", fault("connect", "refuse")},
                      ListFault{"ClosedBeforeLogin", fault("prelogin", "close")},
                      ListFault{"ClosedDuringLogin", fault("login", "close")},
                      ListFault{"GarbageAtLogin", fault("login", "garbage")},
                      ListFault{"ClosedInTheRows", fault("rows", "close", 0, 2)},
                      ListFault{"GarbageInTheRows", fault("rows", "garbage", 0, 2)},
                      ListFault{"ClosedAtTheQuery", fault("query", "close")}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(CargaBBDDFaults, NamesReadBeforeALostLinkStayInTheList) {
    // Enough names for many packets: the driver hands over every row of the
    // packets that arrived whole before the link broke.
    QStringList names;
    for (int i = 0; i < 3000; ++i) {
        names << QStringLiteral("db%1").arg(i, 4, 10, QChar(u'0'));
    }
    TestServer server(withFault(withDatabases(TestServer::defaultState(), names),
                                fault("rows", "close", 0, 2000)));
    RecordingUi ui;
    ui.allow();
    TestList list;
    CargaBBDD(list, server.serverName(), kSa, kSaPassword);
    EXPECT_GT(list.ListCount(), 0);
    EXPECT_LE(list.ListCount(), 2000);
    EXPECT_EQ(list.items, names.mid(0, list.ListCount()));
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(ui.messages()[0].text.startsWith(
        QStringLiteral("CargaBBDD: Se ha perdido la conexión con el servidor.\n[FreeTDS]")))
        << ui.messages()[0].text.toStdString();
}

TEST(CargaBBDDFaults, DelayedAnswersOnlyTakeLonger) {
    TestServer server(faulty(fault("query", "delay", 300)));
    RecordingUi ui;
    TestList list;
    CargaBBDD(list, server.serverName(), kSa, kSaPassword);
    EXPECT_EQ(list.ListCount(), 7);
    EXPECT_TRUE(ui.messages().empty());
}

// The probe reads the version its login is answered with: the login is its
// one exchange with the server.
TEST(DimeTipoSQLFaults, GarbageDuringTheProbeIsReportedAndLeavesTheArrow) {
    TestServer server(faulty(fault("login", "garbage")));
    RecordingUi ui;
    ui.allow();
    EXPECT_EQ(dimeTipoSQL(server.serverName(), kSa, kSaPassword, false), 0);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(
        ui.messages()[0].text.startsWith(QStringLiteral("zuConexionUtil.dimeTipoSQL. Error ")));
    EXPECT_EQ(ui.pointers(), (std::vector<int>{11, 1}));
}

const QString kNoAnswer = QStringLiteral("El servidor no ha respondido en el tiempo de espera.");

QJsonObject statementFault(const char* action, const char* statement, int ms = 0) {
    QJsonObject f = fault("query", action, ms);
    f.insert("statement", statement);
    return f;
}

// A server that accepts and then never answers: the load gives up with its
// message after the (shortened) time-out instead of waiting for ever.
TEST(CargaBBDDFaults, SilentServerIsGivenUpWithItsMessage) {
    const ShortTimeouts shortened;
    for (const char* stage : {"connect", "login", "query", "rows"}) {
        SCOPED_TRACE(stage);
        TestServer server(faulty(fault(stage, "stall", 0, 1)));
        RecordingUi ui;
        ui.allow();
        TestList list;
        QElapsedTimer waited;
        waited.start();
        CargaBBDD(list, server.serverName(), kSa, kSaPassword);
        EXPECT_LT(waited.elapsed(), 10000) << "the load waited past its time-out";
        ASSERT_EQ(ui.messages().size(), 1u);
        EXPECT_TRUE(ui.messages()[0].text.startsWith(QStringLiteral("CargaBBDD: ") + kNoAnswer))
            << ui.messages()[0].text.toStdString();
    }
}

// A statement that gets no answer is given up after its time-out in total,
// the driver's wait for the cancel's acknowledgement included.
TEST(SilentStatements, AreGivenUpWithinTheirTimeOutInTotal) {
    const ShortTimeouts shortened(std::chrono::seconds(1), std::chrono::seconds(4));
    const struct {
        const char* name;
        QJsonObject fault;
        std::function<void(const QString& server)> call;
        bool told = true; // the existence check answers "no" without a word
    } cases[] = {
        {"list query", fault("query", "stall"),
         [](const QString& s) {
             TestList list;
             CargaBBDD(list, s, kSa, kSaPassword);
         }},
        {"list rows", fault("rows", "stall", 0, 1),
         [](const QString& s) {
             TestList list;
             CargaBBDD(list, s, kSa, kSaPassword);
         }},
        {"existence check", statementFault("stall", "SELECT DB_NAME(dbid)"),
         [](const QString& s) { bExisteDBSQL(s, QStringLiteral("Ventas"), kSa, kSaPassword); },
         false},
        // A byte every 200 ms: no read of the driver ever times out.
        {"list rows trickled", fault("rows", "trickle", 200, 1),
         [](const QString& s) {
             TestList list;
             CargaBBDD(list, s, kSa, kSaPassword);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server(faulty(c.fault));
        RecordingUi ui;
        ui.allow();
        QElapsedTimer waited;
        waited.start();
        c.call(server.serverName());
        EXPECT_LT(waited.elapsed(), 4000 + 1500);
        if (c.told) {
            ASSERT_FALSE(ui.messages().empty());
            EXPECT_TRUE(ui.messages().back().text.contains(kNoAnswer))
                << ui.messages().back().text.toStdString();
        }
    }
}

TEST(BorraDBSQLFaults, SilentExistenceCheckOnlySaysMissingAndDropsNothing) {
    const ShortTimeouts shortened;
    TestServer server(faulty(statementFault("stall", "SELECT DB_NAME(dbid)")));
    const QJsonObject before = server.readState();
    RecordingUi ui;
    ui.allow();
    EXPECT_FALSE(BorraDBSQL(server.serverName(), QStringLiteral("Ventas"), kSa, kSaPassword));
    EXPECT_EQ(ui.messages(), (std::vector<Message>{{kMissing, 16}}));
    EXPECT_EQ(server.readState(), before);
}

// The server may still complete a drop it was sent, so the drop is never
// cut short: a slow one is waited for and reported as done.
TEST(BorraDBSQLFaults, SlowDropOutlastsTheTimeOutsAndRemoves) {
    const ShortTimeouts shortened;
    TestServer server(faulty(statementFault("delay", "DROP DATABASE", 3000)));
    RecordingUi ui;
    ui.allow();
    EXPECT_TRUE(BorraDBSQL(server.serverName(), QStringLiteral("Ventas"), kSa, kSaPassword));
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_FALSE(userDatabases(server.readState()).contains(QStringLiteral("Ventas")));
}

class BorraDBSQLFault : public ::testing::TestWithParam<ListFault> {};

// Whatever breaks, the database stays and the user has been told.
TEST_P(BorraDBSQLFault, NothingIsLostAndTheUserIsTold) {
    TestServer server(faulty(GetParam().fault));
    const QJsonObject before = server.readState();
    RecordingUi ui;
    ui.allow(3);
    EXPECT_FALSE(BorraDBSQL(server.serverName(), QStringLiteral("Ventas"), kSa, kSaPassword));
    EXPECT_FALSE(ui.messages().empty());
    EXPECT_EQ(server.readState(), before);
    EXPECT_EQ(ui.mousePointer(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BorraDBSQLFault,
    ::testing::Values(ListFault{"ConnectionRefused", fault("connect", "refuse")},
                      ListFault{"ClosedDuringLogin", fault("login", "close")},
                      ListFault{"GarbageAtLogin", fault("login", "garbage")},
                      ListFault{"ClosedInTheRows", fault("rows", "close", 0, 1)},
                      ListFault{"GarbageInTheRows", fault("rows", "garbage", 0, 1)}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(BorraDBSQLFaults, RefusedConnectionIsTheOneMessage) {
    TestServer server(faulty(fault("connect", "refuse")));
    RecordingUi ui;
    ui.allow();
    EXPECT_FALSE(BorraDBSQL(server.serverName(), QStringLiteral("Ventas"), kSa, kSaPassword));
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(ui.messages()[0].text.startsWith(
        QStringLiteral("zuConexionUtil.dimeTipoSQL. Error -2147467259: ")));
}

TEST(BorraDBSQLFaults, LostLinkInTheExistenceRowsOnlySaysMissing) {
    TestServer server(faulty(fault("rows", "close", 0, 1)));
    RecordingUi ui;
    ui.allow();
    EXPECT_FALSE(BorraDBSQL(server.serverName(), QStringLiteral("Ventas"), kSa, kSaPassword));
    EXPECT_EQ(ui.messages(), (std::vector<Message>{{kMissing, 16}}));
}

TEST(BorraDBSQLFaults, DelayedAnswersStillRemove) {
    TestServer server(faulty(fault("query", "delay", 200)));
    RecordingUi ui;
    EXPECT_TRUE(BorraDBSQL(server.serverName(), QStringLiteral("Ventas"), kSa, kSaPassword));
    EXPECT_FALSE(userDatabases(server.readState()).contains(QStringLiteral("Ventas")));
    EXPECT_TRUE(ui.messages().empty());
}

} // namespace
