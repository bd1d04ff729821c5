#include "ClosedPort.h"
#include "QStringPrinter.h"
#include "platform/ado/Connection.h"
#include "platform/ado/ConnectionString.h"
#include "platform/ado/Errors.h"
#include "platform/ado/Recordset.h"

#include <gtest/gtest.h>

namespace {

std::int32_t failureNumber(const std::function<void()>& step) {
    try {
        step();
    } catch (const rt::RuntimeError& e) {
        return e.number();
    }
    return 0;
}

TEST(OleDbConnectionString, KeysIgnoreCaseAndSynonymsMeetInOneProperty) {
    const ado::ConnectionProperties p = ado::connectionProperties(
        QStringLiteral("provider=SQLNCLI;Data Source=db1;INITIAL CATALOG=Ventas;uid=sa;Pwd=x"));
    EXPECT_EQ(p.provider, QStringLiteral("SQLNCLI"));
    EXPECT_EQ(p.server, QStringLiteral("db1"));
    EXPECT_EQ(p.database, QStringLiteral("Ventas"));
    EXPECT_EQ(p.userId, QStringLiteral("sa"));
    EXPECT_EQ(p.password, QStringLiteral("x"));
    EXPECT_EQ(ado::connectionProperties(QStringLiteral("Address=a;User ID=u;Password=p;Database=d"))
                  .server,
              QStringLiteral("a"));
    EXPECT_EQ(ado::connectionProperties(QStringLiteral("Server=a;Server=b")).server,
              QStringLiteral("b"));
}

TEST(OleDbConnectionString, QuotedValuesKeepEverythingInside) {
    const auto pairs = ado::parseConnectionString(QStringLiteral(
        "Password=\"a;b=c'd\";User ID='x\"y';Server=\" s \";Database=\"q\"\"r\" ; Extra = v "));
    EXPECT_EQ(pairs.at(QStringLiteral("PASSWORD")), QStringLiteral("a;b=c'd"));
    EXPECT_EQ(pairs.at(QStringLiteral("USER ID")), QStringLiteral("x\"y"));
    EXPECT_EQ(pairs.at(QStringLiteral("SERVER")), QStringLiteral(" s "));
    EXPECT_EQ(pairs.at(QStringLiteral("DATABASE")), QStringLiteral("q\"r"));
    EXPECT_EQ(pairs.at(QStringLiteral("EXTRA")), QStringLiteral("v"));
    EXPECT_EQ(pairs.size(), 5u);
}

TEST(OleDbConnectionString, MalformedTextIsAFailure) {
    for (const QString& text :
         {QStringLiteral("Server"), QStringLiteral("=x"), QStringLiteral("Password=\"open"),
          QStringLiteral("Password=\"a\"b;")}) {
        EXPECT_EQ(failureNumber([&] { ado::parseConnectionString(text); }), ado::err::kUnspecified)
            << text.toStdString();
    }
}

TEST(OleDbConnectionString, QuotedValuesReadBackExactly) {
    for (const QString& value :
         {QStringLiteral("a;b=c\"d"), QStringLiteral("O'Brien"), QStringLiteral("\"q\""),
          QStringLiteral("'"), QStringLiteral("both ' and \""), QStringLiteral(" lead"),
          QStringLiteral("trail "), QStringLiteral("x=y"), QStringLiteral("Ñandú;"),
          QStringLiteral("\"\"''")}) {
        const QString text =
            QStringLiteral("Password=") + ado::quoteValue(value) + QStringLiteral(";User ID=u");
        const auto pairs = ado::parseConnectionString(text);
        EXPECT_EQ(pairs.at(QStringLiteral("PASSWORD")), value) << text.toStdString();
        EXPECT_EQ(pairs.size(), 2u) << text.toStdString();
    }
    EXPECT_EQ(ado::quoteValue(QStringLiteral("plain")), QStringLiteral("plain"));
}

TEST(AdoProvider, ProviderChoosesTheTdsVersion) {
    EXPECT_EQ(ado::tdsVersionFor(QStringLiteral("SQLNCLI10")), QStringLiteral("7.3"));
    EXPECT_EQ(ado::tdsVersionFor(QStringLiteral("SQLNCLI")), QStringLiteral("7.2"));
    for (const QString& other :
         {QString(), QStringLiteral("SQLOLEDB"), QStringLiteral("SQLNCLI11")}) {
        try {
            ado::tdsVersionFor(other);
            ADD_FAILURE() << other.toStdString();
        } catch (const rt::RuntimeError& e) {
            EXPECT_EQ(e.number(), 3706);
            EXPECT_EQ(e.description(), QStringLiteral("No se encuentra el proveedor. Es posible "
                                                      "que no esté instalado correctamente."));
        }
    }
}

TEST(AdoConnection, EmptyProviderFailsBeforeAnythingElse) {
    ado::Connection cn;
    cn.setConnectionString(QStringLiteral("Provider=;Server=;Database=MASTER;User ID=;Password=;"));
    EXPECT_EQ(failureNumber([&] { cn.Open(); }), 3706);
    EXPECT_EQ(cn.State(), ado::kStateClosed);
}

TEST(AdoConnection, RefusedConnectionIsTheGenericFailureWithItsCause) {
    ado::Connection cn;
    cn.setIsolationLevel(ado::isolation::ReadUncommitted);
    cn.setConnectionString(QStringLiteral("Provider=SQLNCLI;Server=%1;User ID=sa;Password=pw")
                               .arg(testing_support::unreachableServer()));
    try {
        cn.Open();
        FAIL() << "opened";
    } catch (const rt::RuntimeError& e) {
        EXPECT_EQ(e.number(), -2147467259);
        EXPECT_EQ(e.description(),
                  QStringLiteral("No se puede conectar con el servidor: no está disponible, no "
                                 "existe o rechaza la conexión."));
    }
    EXPECT_EQ(cn.State(), ado::kStateClosed);
}

TEST(AdoConnection, OutOfRangeSettingsAreRefused) {
    ado::Connection cn;
    EXPECT_EQ(failureNumber([&] { cn.setIsolationLevel(17); }), 3001);
    EXPECT_EQ(failureNumber([&] { cn.setCursorLocation(7); }), 3001);
    EXPECT_EQ(cn.IsolationLevel(), ado::isolation::ReadCommitted);
    EXPECT_EQ(cn.CursorLocation(), ado::cursor::UseServer);
    EXPECT_EQ(failureNumber([&] { cn.Close(); }), 3704);
}

TEST(AdoRecordset, NeedsAnOpenConnection) {
    ado::Connection cn;
    ado::Recordset rs;
    EXPECT_EQ(failureNumber([&] { rs.Open(QStringLiteral("SELECT 1"), cn, 0, 3, -1); }), 3709);
    EXPECT_EQ(rs.State(), ado::kStateClosed);
    EXPECT_EQ(failureNumber([&] { (void)rs.Eof(); }), 3704);
}

} // namespace
