#include "platform/runtime/CurrentError.h"
#include "platform/runtime/RegionalSettings.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Utf8Locale.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <langinfo.h>
#include <optional>
#include <string>
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

// The locale variables of a start, restored when the test ends.
class LocaleEnvironment {
public:
    LocaleEnvironment() {
        for (std::size_t i = 0; i < std::size(kNames); ++i) {
            if (const char* value = std::getenv(kNames[i])) {
                saved_[i] = value;
            }
            unsetenv(kNames[i]);
        }
    }
    ~LocaleEnvironment() {
        for (std::size_t i = 0; i < std::size(kNames); ++i) {
            saved_[i] ? setenv(kNames[i], saved_[i]->c_str(), 1) : unsetenv(kNames[i]);
        }
        std::setlocale(LC_ALL, "");
    }
    LocaleEnvironment(const LocaleEnvironment&) = delete;
    LocaleEnvironment& operator=(const LocaleEnvironment&) = delete;

private:
    static constexpr const char* kNames[] = {"LANG", "LC_ALL", "LC_CTYPE"};
    std::optional<std::string> saved_[std::size(kNames)];
};

// What Qt finds when it reads the locale from the environment at start.
std::string codesetQtWouldSee() {
    std::setlocale(LC_ALL, "");
    return nl_langinfo(CODESET);
}

TEST(Utf8Locale, AStartWithoutALanguageRunsInUtf8) {
    const struct {
        const char* variable; // nullptr: no locale variable at all
        const char* value;
    } starts[] = {{nullptr, nullptr}, {"LC_ALL", "C"}, {"LANG", "POSIX"}, {"LC_CTYPE", "C"}};
    for (const auto& start : starts) {
        const LocaleEnvironment scope;
        if (start.variable) {
            setenv(start.variable, start.value, 1);
        }
        rt::useUtf8WhenNoLocaleIsSet();
        EXPECT_EQ(codesetQtWouldSee(), "UTF-8") << (start.variable ? start.variable : "none");
        EXPECT_EQ(std::getenv("LANG") ? std::string(std::getenv("LANG")) : std::string(),
                  start.variable && std::string(start.variable) == "LANG" ? start.value : "");
    }
}

} // namespace
