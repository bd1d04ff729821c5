#include "platform/runtime/CurrentError.h"
#include "platform/runtime/RegionalSettings.h"
#include "platform/runtime/RuntimeError.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(RuntimeError, ClassicNumbersCarryTheirSpanishText) {
    EXPECT_EQ(rt::RuntimeError(rt::err::DiskFull).description(), QStringLiteral("Disco lleno"));
    EXPECT_EQ(rt::RuntimeError(rt::err::PathNotFound).description(),
              QStringLiteral("No se ha encontrado la ruta de acceso"));
    EXPECT_EQ(rt::RuntimeError(rt::err::Overflow).description(), QStringLiteral("Desbordamiento"));
    EXPECT_TRUE(rt::standardDescription(12345).isEmpty());
}

TEST(RuntimeError, KeepsNegativeNumbersAndLibraryText) {
    const rt::RuntimeError e(-2147467259, QStringLiteral("[FreeTDS] fallo"));
    EXPECT_EQ(e.number(), -2147467259);
    EXPECT_EQ(e.description(), QStringLiteral("[FreeTDS] fallo"));
}

TEST(FailurePath, FillsTheCurrentErrorForTheHandlerAndClearsItAfter) {
    rt::ErrorRecord seen;
    const bool completed =
        rt::withFailurePath([] { throw rt::RuntimeError(13); }, [&] { seen = rt::currentError(); });
    EXPECT_FALSE(completed);
    EXPECT_EQ(seen.number, 13);
    EXPECT_EQ(seen.description, QStringLiteral("No coinciden los tipos"));
    EXPECT_EQ(rt::currentError().number, 0);
    EXPECT_TRUE(rt::currentError().description.isEmpty());
}

TEST(FailurePath, ExhaustedMemoryIsErrorSeven) {
    int number = 0;
    rt::withFailurePath([] { throw std::bad_alloc(); },
                        [&] { number = rt::currentError().number; });
    EXPECT_EQ(number, rt::err::OutOfMemory);
}

TEST(FailurePath, ABodyThatCompletesRunsNoHandler) {
    bool handled = false;
    EXPECT_TRUE(rt::withFailurePath([] {}, [&] { handled = true; }));
    EXPECT_FALSE(handled);
}

TEST(FailurePath, AFailureInsideTheHandlerReachesTheCaller) {
    EXPECT_THROW(
        rt::withFailurePath([] { throw rt::RuntimeError(5); }, [] { throw rt::RuntimeError(9); }),
        rt::RuntimeError);
}

TEST(CurrentError, IsKeptPerThread) {
    rt::setCurrentError(61, QStringLiteral("x"));
    int other = -1;
    std::thread([&] { other = rt::currentError().number; }).join();
    EXPECT_EQ(other, 0);
    EXPECT_EQ(rt::currentError().number, 61);
    rt::clearCurrentError();
}

TEST(RegionalSettings, ScopedOverrideSetsAndRestoresTheSeparators) {
    const QChar before = rt::decimalSeparator();
    {
        auto spanish = rt::ScopedRegionalSettings::spanish();
        EXPECT_EQ(rt::decimalSeparator(), QChar(','));
        EXPECT_EQ(rt::groupSeparator(), QChar('.'));
        {
            auto english = rt::ScopedRegionalSettings::english();
            EXPECT_EQ(rt::decimalSeparator(), QChar('.'));
            EXPECT_EQ(rt::groupSeparator(), QChar(','));
        }
        EXPECT_EQ(rt::decimalSeparator(), QChar(','));
    }
    EXPECT_EQ(rt::decimalSeparator(), before);
}

} // namespace
