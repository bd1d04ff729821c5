// The Varios procedures where no server answers, and the connection string.
#include "ClosedPort.h"
#include "RecordingUi.h"
#include "TestList.h"
#include "platform/ado/ConnectionString.h"
#include "sqlserver/AdoConnectionString.h"
#include "sqlserver/Varios.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

using testing_support::Message;
using testing_support::RecordingUi;
using testing_support::TestList;

// A server nobody answers at: the connection component says so before the
// driver is started.
const QString kDimeTipoPrefix =
    QStringLiteral("zuConexionUtil.dimeTipoSQL. Error -2147467259: No se puede conectar con el "
                   "servidor: no está disponible, no existe o rechaza la conexión.");

TEST(AdoConnectionString, PlainValuesGiveTheClassicStringByteForByte) {
    EXPECT_EQ(adoConnectionString(QStringLiteral("SQLNCLI10"), QStringLiteral("SRV\\SQL2008"),
                                  QStringLiteral("sa"), QStringLiteral("Secreto1")),
              QStringLiteral(
                  "Provider=SQLNCLI10;Server=SRV\\SQL2008;Database=MASTER;DataTypeCompatibility=80;"
                  "User ID=sa;Password=Secreto1;"));
    EXPECT_EQ(adoConnectionString(QString(), QStringLiteral("db1,1433"), QString(), QString()),
              QStringLiteral("Provider=;Server=db1,1433;Database=MASTER;DataTypeCompatibility=80;"
                             "User ID=;Password=;"));
}

TEST(AdoConnectionString, ValuesThatWouldAddKeysArriveIntact) {
    const QString password = QStringLiteral("a;b=c\"d");
    const QString login = QStringLiteral("x;Provider=Evil");
    const QString text =
        adoConnectionString(QStringLiteral("SQLNCLI"), QStringLiteral(" srv "), login, password);
    EXPECT_EQ(
        text,
        QStringLiteral("Provider=SQLNCLI;Server=\" srv \";Database=MASTER;DataTypeCompatibility=80;"
                       "User ID=\"x;Provider=Evil\";Password='a;b=c\"d';"));
    const auto pairs = ado::parseConnectionString(text);
    EXPECT_EQ(pairs.size(), 6u);
    EXPECT_EQ(pairs.at(QStringLiteral("PROVIDER")), QStringLiteral("SQLNCLI"));
    EXPECT_EQ(pairs.at(QStringLiteral("USER ID")), login);
    EXPECT_EQ(pairs.at(QStringLiteral("PASSWORD")), password);
    EXPECT_EQ(pairs.at(QStringLiteral("SERVER")), QStringLiteral(" srv "));
}

TEST(DimeProviderSQL, MapsTypeCodes) {
    EXPECT_EQ(dimeProviderSQL(2), QStringLiteral("SQLNCLI10"));
    EXPECT_EQ(dimeProviderSQL(1), QStringLiteral("SQLNCLI"));
    EXPECT_EQ(dimeProviderSQL(0), QString());
    EXPECT_EQ(dimeProviderSQL(3), QString());
    EXPECT_EQ(dimeProviderSQL(-1), QString());
}

TEST(DimeTipoSQL, FailedProbeReportsAndLeavesTheArrow) {
    RecordingUi ui;
    ui.allow();
    ui.setMousePointer(0);
    EXPECT_EQ(dimeTipoSQL(testing_support::unreachableServer(), QStringLiteral("sa"),
                          QStringLiteral("pw"), false),
              0);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(ui.messages()[0].text.startsWith(kDimeTipoPrefix))
        << ui.messages()[0].text.toStdString();
    EXPECT_EQ(ui.messages()[0].style, 0);
    EXPECT_EQ(ui.pointers(), (std::vector<int>{0, 11, 1}));
}

TEST(DimeTipoSQL, QuietProbeShowsNothing) {
    RecordingUi ui;
    EXPECT_EQ(dimeTipoSQL(testing_support::unreachableServer(), QStringLiteral("sa"),
                          QStringLiteral("pw"), true),
              0);
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(ui.pointers(), (std::vector<int>{11, 1}));
}

TEST(ConectaDSN, FailedProbeIsTheOneMessageAndLeavesTheConnectionClosed) {
    RecordingUi ui;
    ui.allow();
    ado::Connection cn;
    EXPECT_FALSE(conectaDSN(testing_support::unreachableServer(), cn, QStringLiteral("sa"),
                            QStringLiteral("pw")));
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(ui.messages()[0].text.startsWith(kDimeTipoPrefix));
    EXPECT_EQ(cn.State(), ado::kStateClosed);
    EXPECT_EQ(ui.mousePointer(), 1);
}

TEST(CargaBBDD, EmptyServerNameTouchesNothing) {
    RecordingUi ui;
    TestList list;
    list.items = {QStringLiteral("previa")};
    list.text = QStringLiteral("previa");
    CargaBBDD(list, QString(), QStringLiteral("sa"), QStringLiteral("pw"));
    EXPECT_EQ(list.clears, 0);
    EXPECT_EQ(list.items, QStringList{QStringLiteral("previa")});
    EXPECT_EQ(list.text, QStringLiteral("previa"));
    EXPECT_TRUE(ui.events().empty());
}

TEST(CargaBBDD, UnreachableServerEmptiesTheListAndSaysWhy) {
    RecordingUi ui;
    ui.allow();
    TestList list;
    list.items = {QStringLiteral("previa")};
    list.text = QStringLiteral("previa");
    CargaBBDD(list, testing_support::unreachableServer(), QStringLiteral("sa"),
              QStringLiteral("pw"));
    EXPECT_EQ(list.ListCount(), 0);
    EXPECT_TRUE(list.text.isEmpty());
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(ui.messages()[0].text.startsWith(
        QStringLiteral("CargaBBDD: No se puede conectar con el servidor: no está disponible, no "
                       "existe o rechaza la conexión.")))
        << ui.messages()[0].text.toStdString();
    EXPECT_EQ(ui.messages()[0].style, 0);
}

TEST(CargaBBDD, MalformedServerNameIsReportedLikeAnyFailure) {
    RecordingUi ui;
    ui.allow();
    TestList list;
    CargaBBDD(list, QStringLiteral("db1,"), QStringLiteral("sa"), QStringLiteral("pw"));
    EXPECT_EQ(ui.messageTexts(),
              QStringList{QStringLiteral("CargaBBDD: El nombre de servidor 'db1,' no es válido.")});
}

// An unreachable server is said once, by the probe, whichever procedure
// asked: no missing provider, no missing database.
TEST(UnreachableServer, IsTheProbesOneMessage) {
    const QString server = testing_support::unreachableServer();
    const std::vector<std::function<bool()>> procedures = {
        [&] {
            return bExisteDBSQL(server, QStringLiteral("master"), QStringLiteral("sa"),
                                QStringLiteral("pw"));
        },
        [&] {
            return BorraDBSQL(server, QStringLiteral("Ventas"), QStringLiteral("sa"),
                              QStringLiteral("pw"));
        }};
    for (const auto& procedure : procedures) {
        RecordingUi ui;
        ui.allow();
        EXPECT_FALSE(procedure());
        ASSERT_EQ(ui.messages().size(), 1u) << ui.messageTexts().join(u'|').toStdString();
        EXPECT_TRUE(ui.messages()[0].text.startsWith(kDimeTipoPrefix));
        EXPECT_EQ(ui.mousePointer(), 1);
    }
}

TEST(BorraDBSQL, PasswordNeverReachesAMessage) {
    RecordingUi ui;
    ui.allow(3);
    const QString password = QStringLiteral("s3cr3t;PWD=x");
    BorraDBSQL(testing_support::unreachableServer(), QStringLiteral("Ventas"), QStringLiteral("sa"),
               password);
    for (const QString& text : ui.messageTexts()) {
        EXPECT_FALSE(text.contains(QStringLiteral("s3cr3t"))) << text.toStdString();
    }
}

} // namespace
