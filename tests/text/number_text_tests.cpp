#include "text/Formato.h"
#include "text/NumberText.h"

#include "platform/runtime/CurrentError.h"
#include "platform/runtime/RegionalSettings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

namespace {

using rt::Currency;
using rt::Variant;

// ---- rendering ------------------------------------------------------------

TEST(RenderNumber, ExactHalvesGoAwayFromZero) {
    auto en = rt::ScopedRegionalSettings::english();
    EXPECT_EQ(text::renderNumber(0.5, 0, false), QStringLiteral("1"));
    EXPECT_EQ(text::renderNumber(2.5, 0, false), QStringLiteral("3"));
    EXPECT_EQ(text::renderNumber(-2.5, 0, false), QStringLiteral("-3"));
    EXPECT_EQ(text::renderNumber(0.125, 2, false), QStringLiteral("0.13"));
    EXPECT_EQ(text::renderNumber(Currency{5}, 3, false), QStringLiteral("0.001"));
    EXPECT_EQ(text::renderNumber(Currency{-25}, 3, false), QStringLiteral("-0.003"));
}

TEST(RenderNumber, DecimalFractionsRoundAsWritten) {
    auto en = rt::ScopedRegionalSettings::english();
    // Their binary values lie just below the half; the shortest decimal
    // text of each is the number the user wrote.
    EXPECT_EQ(text::renderNumber(1.005, 2, false), QStringLiteral("1.01"));
    EXPECT_EQ(text::renderNumber(2.675, 2, false), QStringLiteral("2.68"));
    EXPECT_EQ(text::renderNumber(0.1 + 0.2, 2, false), QStringLiteral("0.30"));
    EXPECT_EQ(text::renderNumber(1.0049999, 2, false), QStringLiteral("1.00"));
    // A float is rounded at its own precision, not widened first.
    EXPECT_EQ(text::renderNumber(2.675f, 2, false), QStringLiteral("2.68"));
    EXPECT_EQ(text::renderNumber(0.1f, 10, false), QStringLiteral("0.1000000000"));
}

TEST(RenderNumber, CarriesRunIntoNewDigitsAndGroups) {
    auto en = rt::ScopedRegionalSettings::english();
    EXPECT_EQ(text::renderNumber(9.995, 2, false), QStringLiteral("10.00"));
    EXPECT_EQ(text::renderNumber(999.5, 0, true), QStringLiteral("1,000"));
    EXPECT_EQ(text::renderNumber(0.96, 1, false), QStringLiteral("1.0"));
    EXPECT_EQ(text::renderNumber(0.0005, 3, false), QStringLiteral("0.001"));
    EXPECT_EQ(text::renderNumber(0.00049, 3, false), QStringLiteral("0.000"));
    EXPECT_EQ(text::renderNumber(0.00005, 3, false), QStringLiteral("0.000"));
}

TEST(RenderNumber, AValueThatRoundsToZeroHasNoSign) {
    auto es = rt::ScopedRegionalSettings::spanish();
    EXPECT_EQ(text::renderNumber(-0.001, 2, false), QStringLiteral("0,00"));
    EXPECT_EQ(text::renderNumber(-0.0, 0, false), QStringLiteral("0"));
    EXPECT_EQ(text::renderNumber(-0.4, 0, false), QStringLiteral("0"));
    EXPECT_EQ(text::renderNumber(Currency{-25}, 2, false), QStringLiteral("0,00"));
}

TEST(RenderNumber, ShowsEveryIntegerDigit) {
    auto es = rt::ScopedRegionalSettings::spanish();
    EXPECT_EQ(text::renderNumber(1e20, 0, true), QStringLiteral("100.000.000.000.000.000.000"));
    const QString largest = text::renderNumber(std::numeric_limits<double>::max(), 1, false);
    EXPECT_EQ(largest.size(), 309 + 2);
    EXPECT_TRUE(largest.startsWith(QStringLiteral("17976931348623157")));
    EXPECT_EQ(text::renderNumber(std::numeric_limits<double>::denorm_min(), 2, false),
              QStringLiteral("0,00"));
}

TEST(RenderNumber, CurrencyIsExactOverItsWholeRange) {
    auto en = rt::ScopedRegionalSettings::english();
    const Currency lowest{std::numeric_limits<std::int64_t>::min()};
    const Currency highest{std::numeric_limits<std::int64_t>::max()};
    EXPECT_EQ(text::renderNumber(lowest, 4, true), QStringLiteral("-922,337,203,685,477.5808"));
    EXPECT_EQ(text::renderNumber(highest, 0, false), QStringLiteral("922337203685478"));
    EXPECT_EQ(text::renderNumber(highest, 6, false), QStringLiteral("922337203685477.580700"));
}

TEST(RenderNumber, UsesTheSeparatorsInForce) {
    {
        auto es = rt::ScopedRegionalSettings::spanish();
        EXPECT_EQ(text::renderNumber(1234567.891, 3, true), QStringLiteral("1.234.567,891"));
        EXPECT_EQ(text::renderNumber(1234567.891, 3, false), QStringLiteral("1234567,891"));
    }
    auto en = rt::ScopedRegionalSettings::english();
    EXPECT_EQ(text::renderNumber(1234567.891, 3, true), QStringLiteral("1,234,567.891"));
}

// Numbers with at most `decimals` decimals render exactly as written.
TEST(RenderNumber, ShortDecimalNumbersRenderAsWritten) {
    auto en = rt::ScopedRegionalSettings::english();
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<long long> units(-999'999'999'999LL, 999'999'999'999LL);
    for (int round = 0; round < 5000; ++round) {
        const long long k = units(rng);
        const int decimals = static_cast<int>(rng() % 4);
        std::string digits = std::to_string(k < 0 ? -k : k);
        if (digits.size() <= static_cast<std::size_t>(decimals)) {
            digits.insert(0, decimals + 1 - digits.size(), '0');
        }
        std::string written = (k < 0 ? "-" : "") + digits;
        if (decimals > 0) {
            written.insert(written.size() - decimals, ".");
        }
        const double value = std::strtod(written.c_str(), nullptr);
        ASSERT_EQ(text::renderNumber(value, decimals, false), QString::fromStdString(written));
    }
}

// ---- converters ------------------------------------------------------------

TEST(Converters, NullEmptyAndBlankTextsAreZero) {
    auto es = rt::ScopedRegionalSettings::spanish();
    for (const Variant& v :
         {Variant(rt::Null{}), Variant(), Variant(QString()), Variant("-"), Variant(",")}) {
        EXPECT_EQ(dimeDoble(v), 0.0);
        EXPECT_EQ(dimeMoneda(v), Currency{0});
        EXPECT_EQ(dimeSimple(v), 0.0f);
    }
}

TEST(Converters, ReadTextWithTheRegionalSeparators) {
    {
        auto es = rt::ScopedRegionalSettings::spanish();
        EXPECT_DOUBLE_EQ(dimeDoble(Variant("1.234,56")), 1234.56);
        EXPECT_DOUBLE_EQ(dimeDoble(Variant("       1.024")), 1024.0);
        EXPECT_DOUBLE_EQ(dimeDoble(Variant("1234,56")), 1234.56);
        EXPECT_DOUBLE_EQ(dimeDoble(Variant("  -12,5 ")), -12.5);
        EXPECT_DOUBLE_EQ(dimeDoble(Variant("123.456.789,5")), 123456789.5);
        // A group separator only helps the eye, wherever it stands.
        EXPECT_DOUBLE_EQ(dimeDoble(Variant("12.34")), 1234.0);
        EXPECT_EQ(dimeMoneda(Variant("1.234,5678")), Currency{12345678});
        EXPECT_FLOAT_EQ(dimeSimple(Variant("0,25")), 0.25f);
    }
    auto en = rt::ScopedRegionalSettings::english();
    EXPECT_DOUBLE_EQ(dimeDoble(Variant("1,234.56")), 1234.56);
    EXPECT_DOUBLE_EQ(dimeDoble(Variant("1.5e3")), 1500.0);
}

TEST(Converters, WhatDoesNotConvertIsZeroAndLeavesNoError) {
    auto es = rt::ScopedRegionalSettings::spanish();
    for (const char* s : {"abc", "12abc", "1,2,3", " ", "1e999", "--1"}) {
        EXPECT_EQ(dimeDoble(Variant(s)), 0.0) << s;
        EXPECT_EQ(dimeMoneda(Variant(s)), Currency{0}) << s;
        EXPECT_EQ(dimeSimple(Variant(s)), 0.0f) << s;
    }
    EXPECT_EQ(dimeDoble(Variant(std::numeric_limits<double>::infinity())), 0.0);
    EXPECT_EQ(dimeDoble(Variant(std::numeric_limits<double>::quiet_NaN())), 0.0);
    EXPECT_EQ(rt::currentError().number, 0);
}

TEST(Converters, TextsOfNoFiniteNumberAreZeroAndFormatAsZero) {
    for (int settings = 0; settings < 2; ++settings) {
        auto regional = settings == 0 ? rt::ScopedRegionalSettings::spanish()
                                      : rt::ScopedRegionalSettings::english();
        const QString zero = settings == 0 ? QStringLiteral("0,00") : QStringLiteral("0.00");
        for (const char* s : {"inf", "-inf", "nan", "NaN", " inf ", "1e400", "-1e400"}) {
            SCOPED_TRACE(std::string(s) + (settings == 0 ? " es" : " en"));
            EXPECT_EQ(dimeDoble(Variant(s)), 0.0);
            EXPECT_EQ(dimeMoneda(Variant(s)), Currency{0});
            EXPECT_EQ(dimeSimple(Variant(s)), 0.0f);
            EXPECT_EQ(formateaCampo(Variant(s), 11, 2, QStringLiteral("D"), true).trimmed(), zero);
            EXPECT_EQ(formateaCampo(Variant(s), 3, 2, {}, false).trimmed(), zero);
        }
    }
    EXPECT_EQ(rt::currentError().number, 0);
}

TEST(Converters, ValuesBeyondTheResultRangeAreZero) {
    EXPECT_EQ(dimeSimple(Variant(1e39)), 0.0f);
    EXPECT_EQ(dimeSimple(Variant(-1e39)), 0.0f);
    EXPECT_FLOAT_EQ(dimeSimple(Variant(3e38)), 3e38f);
    EXPECT_EQ(dimeMoneda(Variant(1e15)), Currency{0});
    EXPECT_EQ(dimeMoneda(Variant(std::int64_t{922337203685478})), Currency{0});
    EXPECT_EQ(dimeMoneda(Variant(std::int64_t{-922337203685477})), Currency{-9223372036854770000});
}

TEST(Converters, EveryKindConvertsLikeThePlatform) {
    EXPECT_EQ(dimeDoble(Variant(true)), -1.0);
    EXPECT_EQ(dimeDoble(Variant(false)), 0.0);
    EXPECT_EQ(dimeDoble(Variant(std::int16_t{-32768})), -32768.0);
    EXPECT_EQ(dimeDoble(Variant(std::int32_t{2147483647})), 2147483647.0);
    EXPECT_EQ(dimeDoble(Variant(Currency{12345678})), 1234.5678);
    EXPECT_EQ(dimeDoble(Variant(0.1f)), static_cast<double>(0.1f));
    EXPECT_EQ(dimeMoneda(Variant(true)), Currency{-10000});
    EXPECT_EQ(dimeMoneda(Variant(0.1f)), Currency{1000});
    EXPECT_EQ(dimeSimple(Variant(Currency{5000})), 0.5f);
}

TEST(Converters, CurrencyRoundsExactHalvesAwayFromZero) {
    EXPECT_EQ(dimeMoneda(Variant(0.00005)), Currency{1});
    EXPECT_EQ(dimeMoneda(Variant(-0.00005)), Currency{-1});
    EXPECT_EQ(dimeMoneda(Variant(0.00004)), Currency{0});
    EXPECT_EQ(dimeMoneda(Variant(1.23456)), Currency{12346});
    EXPECT_EQ(dimeMoneda(Variant(-922337203685477.0)), Currency{-9223372036854770000});
}

// ---- read-back ----------------------------------------------------------------

// What formateaCampo writes reads back, under the same settings, to the
// number it shows: the value rounded to the requested decimals.
TEST(ReadBack, FormattedTextReadsBackToTheRoundedValue) {
    std::mt19937_64 rng(2026);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    for (int settings = 0; settings < 2; ++settings) {
        auto regional = settings == 0 ? rt::ScopedRegionalSettings::spanish()
                                      : rt::ScopedRegionalSettings::english();
        for (int round = 0; round < 3000; ++round) {
            const double value = mantissa(rng) * std::pow(10.0, static_cast<double>(rng() % 13));
            const auto enteros = static_cast<std::int16_t>(1 + rng() % 15);
            const auto decimales = static_cast<std::int16_t>(rng() % 7);
            const bool miles = rng() % 2 == 0;
            // Without alignment the field is never cut: the whole number is there.
            const QString written = formateaCampo(value, enteros, decimales, QString(), miles);
            const double shown = dimeDoble(Variant(written));
            // Within half a unit of the last decimal, give or take the
            // representation error of the two doubles.
            const double slack = 4 * std::fabs(value) * std::numeric_limits<double>::epsilon();
            ASSERT_LE(std::fabs(shown - value), 0.5 * std::pow(10.0, -decimales) + slack)
                << written.toStdString() << " for " << value;
            ASSERT_EQ(formateaCampo(shown, enteros, decimales, QString(), miles), written)
                << "the shown number formats differently: " << written.toStdString();

            // Right-aligned, a number that fits its field is the same number.
            const QString aligned =
                formateaCampo(value, enteros, decimales, QStringLiteral("D"), miles);
            const int width = enteros + decimales + 1;
            ASSERT_EQ(aligned.size(), width);
            if (written.trimmed().size() <= width) {
                ASSERT_EQ(dimeDoble(Variant(aligned)), shown) << aligned.toStdString();
            }
        }
    }
}

} // namespace
