#include "RecordingUi.h"
#include "errors/zuErrores_Sencillo.h"
#include "platform/runtime/CurrentError.h"

#include <gtest/gtest.h>

namespace {

using testing_support::Message;
using testing_support::RecordingUi;

// A procedure with a failure path that reports through the shared reporter,
// the way the components do.
QString failingProcedure(const QString& scope, rt::RuntimeError error) {
    QString result;
    rt::withFailurePath([&] { throw error; }, [&] { reportError(scope); });
    return result;
}

TEST(ErrorReporter, SharedInstanceIsCreatedOnFirstUseAndReused) {
    // This binary has not reported anything before this test.
    EXPECT_FALSE(oErroresCreated());
    RecordingUi ui;
    ui.allow(2);
    failingProcedure(QStringLiteral("getToken"), rt::RuntimeError(13, QStringLiteral("D")));
    ASSERT_TRUE(oErroresCreated());
    zuErrores_Sencillo* first = &oErrores();
    failingProcedure(QStringLiteral("item"), rt::RuntimeError(9));
    EXPECT_EQ(&oErrores(), first);
    EXPECT_EQ(ui.messages().front(), (Message{QStringLiteral("getToken. Error 13: D"), 0}));
}

TEST(ErrorReporter, NegativeNumbersKeepSignAndAllDigits) {
    RecordingUi ui;
    ui.allow(2);
    failingProcedure(QStringLiteral("s"), rt::RuntimeError(-1, QStringLiteral("x")));
    failingProcedure(QStringLiteral("s"), rt::RuntimeError(-2147217843, QStringLiteral("y")));
    EXPECT_EQ(ui.messageTexts(), QStringList({QStringLiteral("s. Error -1: x"),
                                              QStringLiteral("s. Error -2147217843: y")}));
}

TEST(ErrorReporter, EmptyScopeAndEmptyDescriptionKeepTheFrame) {
    RecordingUi ui;
    ui.allow(1);
    failingProcedure(QString(), rt::RuntimeError(70, QString()));
    EXPECT_EQ(ui.messages().front(), (Message{QStringLiteral(". Error 70: "), 0}));
}

TEST(ErrorReporter, NeverChangesTheCurrentError) {
    RecordingUi ui;
    ui.allow(1);
    rt::setCurrentError(53, QStringLiteral("No se ha encontrado el archivo"));
    oErrores().errorVB(QStringLiteral("CopiaCarpeta"));
    EXPECT_EQ(rt::currentError().number, 53);
    EXPECT_EQ(ui.messageTexts().front(),
              QStringLiteral("CopiaCarpeta. Error 53: No se ha encontrado el archivo"));
    rt::clearCurrentError();
}

TEST(ErrorReporter, TheCallerReturnsNormallyWithItsDefaultAndNoErrorLeft) {
    RecordingUi ui;
    ui.allow(1);
    EXPECT_TRUE(failingProcedure(QStringLiteral("setLista"), rt::RuntimeError(7)).isEmpty());
    EXPECT_EQ(rt::currentError().number, 0);
}

TEST(ErrorReporter, ErrorSinNumeroShowsTheGivenMessageWithoutNumber) {
    RecordingUi ui;
    ui.allow(1);
    rt::setCurrentError(5, QStringLiteral("ignored"));
    oErrores().errorSinNumero(QStringLiteral("cArch"), QStringLiteral("sin datos"));
    EXPECT_EQ(ui.messages().front(), (Message{QStringLiteral("cArch. Error : sin datos"), 0}));
    rt::clearCurrentError();
}

} // namespace
