#include "ClosedPort.h"
#include "QStringPrinter.h"
#include "platform/dmo/Failure.h"
#include "platform/dmo/NameMatch.h"
#include "platform/dmo/SQLServer.h"
#include "platform/runtime/RegionalSettings.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace {

TEST(DmoFailure, ServerMessagesFoldIntoTheLibrarysNumberRange) {
    EXPECT_EQ(dmo::foldedNumber(18456), static_cast<std::int32_t>(0x80044000u + 18456u));
    EXPECT_EQ(dmo::foldedNumber(18456), -2147186664);
    EXPECT_EQ(dmo::foldedNumber(3702), -2147201418);
    EXPECT_EQ(dmo::foldedNumber(std::nullopt), -2147467259);
}

TEST(DmoFailure, DriverErrorsKeepTheirText) {
    const odbc::Error error(
        {{QStringLiteral("42000"), 3701, QStringLiteral("[FreeTDS][SQL Server]Cannot drop")}});
    const rt::RuntimeError failure = dmo::failureFrom(error);
    EXPECT_EQ(failure.number(), dmo::foldedNumber(3701));
    EXPECT_EQ(failure.description(), QStringLiteral("[FreeTDS][SQL Server]Cannot drop"));
}

TEST(DmoServer, UnreachableServerIsAFailureWithoutServerNumber) {
    dmo::SQLServer server;
    try {
        server.Connect(testing_support::unreachableServer(), QStringLiteral("sa"),
                       QStringLiteral("pw"));
        FAIL() << "connected";
    } catch (const rt::RuntimeError& e) {
        EXPECT_EQ(e.number(), dmo::kNoServerMessage);
        EXPECT_EQ(e.description(),
                  QStringLiteral("No se puede conectar con el servidor: no está disponible, no "
                                 "existe o rechaza la conexión."));
    }
}

TEST(DmoServer, CallsNeedAConnection) {
    dmo::SQLServer server;
    EXPECT_THROW((void)server.VersionMajor(), rt::RuntimeError);
    EXPECT_THROW((void)server.Databases().begin(), rt::RuntimeError);
    EXPECT_THROW((void)server.Databases().Item(QStringLiteral("x")), rt::RuntimeError);
}

TEST(DmoServer, MalformedServerNameIsAFailureOfConnect) {
    dmo::SQLServer server;
    EXPECT_THROW(
        server.Connect(QStringLiteral("db1,notaport"), QStringLiteral("sa"), QStringLiteral("pw")),
        rt::RuntimeError);
}

} // namespace

namespace {

TEST(DmoItem, ExactNameFirstThenTheOnlyOneEqualWithoutRegardToCase) {
    const QStringList names = {QStringLiteral("Caso"), QStringLiteral("CASO"),
                               QStringLiteral("Única"),
                               QStringLiteral("x]; DROP DATABASE [Ventas")};
    EXPECT_EQ(dmo::matchingName(names, QStringLiteral("CASO")), QStringLiteral("CASO"));
    EXPECT_EQ(dmo::matchingName(names, QStringLiteral("Caso")), QStringLiteral("Caso"));
    EXPECT_EQ(dmo::matchingName(names, QStringLiteral("ÚNICA")), QStringLiteral("Única"));
    EXPECT_EQ(dmo::matchingName(names, QStringLiteral("X]; drop database [ventas")),
              QStringLiteral("x]; DROP DATABASE [Ventas"));
}

// Without regard to case means by the regional settings' rules: in Turkish
// the capital of "i" is "İ", so "ingresos" is not "INGRESOS" there.
TEST(DmoItem, CaseFollowsTheRegionalSettingsTurkishIncluded) {
    const QStringList names = {QStringLiteral("INGRESOS"), QStringLiteral("İNDİCE")};
    const QLocale turkish(QLocale::Turkish, QLocale::Turkey);
    const QLocale spanish(QLocale::Spanish, QLocale::Spain);
    const struct {
        QLocale locale;
        QString wanted;
        QString found; // empty: no database matches
    } cases[] = {
        {spanish, QStringLiteral("ingresos"), QStringLiteral("INGRESOS")},
        {turkish, QStringLiteral("ingresos"), {}},
        {turkish, QStringLiteral("ındıce"), {}},
        {turkish, QStringLiteral("indice"), QStringLiteral("İNDİCE")},
        {spanish, QStringLiteral("indice"), {}},
    };
    for (const auto& c : cases) {
        rt::ScopedRegionalSettings regional(c.locale);
        SCOPED_TRACE(c.locale.name().toStdString() + " " + c.wanted.toStdString());
        if (c.found.isEmpty()) {
            EXPECT_THROW(dmo::matchingName(names, c.wanted), rt::RuntimeError);
        } else {
            EXPECT_EQ(dmo::matchingName(names, c.wanted), c.found);
        }
    }
}

TEST(DmoItem, NoneOrSeveralCandidatesAreErrorsNamingTheRequest) {
    const QStringList names = {QStringLiteral("Caso"), QStringLiteral("CASO"),
                               QStringLiteral("Ventas")};
    for (const QString& wanted :
         {QStringLiteral("caso"), QStringLiteral("Ventas "), QStringLiteral("Vent")}) {
        try {
            dmo::matchingName(names, wanted);
            ADD_FAILURE() << wanted.toStdString();
        } catch (const rt::RuntimeError& e) {
            EXPECT_EQ(e.number(), dmo::kNoServerMessage);
            EXPECT_TRUE(e.description().contains(u'\'' + wanted + u'\''))
                << e.description().toStdString();
        }
    }
}

} // namespace
