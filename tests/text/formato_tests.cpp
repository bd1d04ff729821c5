#include "text/Formato.h"
#include "text/NumberPattern.h"

#include "platform/runtime/RegionalSettings.h"
#include "platform/runtime/RuntimeError.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using rt::Variant;

QString blanks(int n) { return QString(n, QLatin1Char(' ')); }

int runtimeErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const rt::RuntimeError& e) {
        return e.number();
    }
    return 0;
}

// ---- the number pattern --------------------------------------------------

struct PatternRow {
    std::int16_t enteros;
    bool miles;
    const char* plain;
    int plainLength;
    const char* twoDecimals;
    int twoDecimalsLength;
};

class PatternTable : public ::testing::TestWithParam<PatternRow> {};

TEST_P(PatternTable, BuildsThePatternAndItsLength) {
    const PatternRow& row = GetParam();
    const text::NumberPattern plain = text::buildNumberPattern(row.enteros, 0, row.miles);
    EXPECT_EQ(plain.text, QString::fromLatin1(row.plain));
    EXPECT_EQ(plain.length, row.plainLength);
    const text::NumberPattern decimals = text::buildNumberPattern(row.enteros, 2, row.miles);
    EXPECT_EQ(decimals.text, QString::fromLatin1(row.twoDecimals));
    EXPECT_EQ(decimals.length, row.twoDecimalsLength);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PatternTable,
    ::testing::Values(
        PatternRow{0, false, "0", 1, "0.00", 4}, PatternRow{0, true, "0", 1, "0.00", 4},
        PatternRow{1, false, "0", 1, "0.00", 4}, PatternRow{1, true, "0", 1, "0.00", 4},
        PatternRow{3, false, "##0", 3, "##0.00", 6}, PatternRow{3, true, "##0", 3, "##0.00", 6},
        PatternRow{4, false, "###0", 4, "###0.00", 7},
        PatternRow{4, true, "#,##0", 5, "#,##0.00", 8},
        PatternRow{5, true, "#,##0", 5, "#,##0.00", 8},
        PatternRow{7, true, "###,##0", 7, "###,##0.00", 10},
        PatternRow{8, true, "#,###,##0", 9, "#,###,##0.00", 12},
        PatternRow{11, false, "##########0", 11, "##########0.00", 14},
        PatternRow{11, true, "###,###,##0", 11, "###,###,##0.00", 14}));

TEST(NumberPattern, ZeroOrNegativeDecimalsAddNothing) {
    EXPECT_EQ(text::buildNumberPattern(3, -2, false).text, QStringLiteral("##0"));
    EXPECT_EQ(text::buildNumberPattern(3, -2, false).length, 3);
}

TEST(NumberPattern, CountsBeyondSixteenBitsOverflow) {
    EXPECT_EQ(text::buildNumberPattern(32767, 0, true).length, 32767);
    EXPECT_EQ(text::buildNumberPattern(32767, 0, false).length, 32767);
    EXPECT_EQ(runtimeErrorOf([] { text::buildNumberPattern(32767, 1, false); }), rt::err::Overflow);
    EXPECT_EQ(runtimeErrorOf([] { text::buildNumberPattern(1, 32766, false); }), rt::err::Overflow);
    EXPECT_EQ(text::buildNumberPattern(1, 32765, false).length, 32767);
    // The loop's bound nEnteros - 1 itself leaves the range.
    EXPECT_EQ(runtimeErrorOf([] { text::buildNumberPattern(-32768, 0, false); }),
              rt::err::Overflow);
}

// ---- formateaCampo ------------------------------------------------------------

TEST(FormateaCampo, WorkedExampleUnderSpanishSettings) {
    auto es = rt::ScopedRegionalSettings::spanish();
    EXPECT_EQ(formateaCampo(1234.56, 11, 2, QStringLiteral("D"), true),
              blanks(6) + QStringLiteral("1.234,56"));
    EXPECT_EQ(formateaCampo(1234.56, 11, 0, QStringLiteral("D"), true),
              blanks(7) + QStringLiteral("1.235"));
}

TEST(FormateaCampo, WorkedExampleUnderEnglishSettings) {
    auto en = rt::ScopedRegionalSettings::english();
    EXPECT_EQ(formateaCampo(1234.56, 11, 2, QStringLiteral("D"), true),
              blanks(6) + QStringLiteral("1,234.56"));
    EXPECT_EQ(formateaCampo(1234.56, 11, 0, QStringLiteral("D"), true),
              blanks(7) + QStringLiteral("1,235"));
}

TEST(FormateaCampo, ATooLongNumberIsCutAtTheRightEnd) {
    auto es = rt::ScopedRegionalSettings::spanish();
    EXPECT_EQ(formateaCampo(3.14159, 0, 2, QStringLiteral("D"), false), QStringLiteral("3,1"));
    // The group mark is not counted in the final width.
    EXPECT_EQ(formateaCampo(1234.0, 4, 2, QStringLiteral("D"), true), QStringLiteral("1.234,0"));
    EXPECT_EQ(formateaCampo(123456.0, 3, 0, QStringLiteral("D"), false), QStringLiteral("1234"));
}

TEST(FormateaCampo, GroupsOnlyFromFourIntegerPlaces) {
    auto es = rt::ScopedRegionalSettings::spanish();
    EXPECT_EQ(formateaCampo(1234.0, 3, 0, QString(), true), QStringLiteral("1234"));
    EXPECT_EQ(formateaCampo(1234.0, 4, 0, QString(), true), QStringLiteral("1.234"));
    EXPECT_EQ(formateaCampo(1234.0, 4, 0, QString(), false), QStringLiteral("1234"));
    // A number wider than its pattern is grouped all the way.
    EXPECT_EQ(formateaCampo(1234567890.0, 4, 0, QString(), true), QStringLiteral("1.234.567.890"));
}

TEST(FormateaCampo, NullAndBlankTextsRenderAsZero) {
    for (auto settings : {0, 1}) {
        auto regional = settings == 0 ? rt::ScopedRegionalSettings::spanish()
                                      : rt::ScopedRegionalSettings::english();
        const QString zero = settings == 0 ? QStringLiteral("0,00") : QStringLiteral("0.00");
        for (const Variant& v : {Variant(rt::Null{}), Variant(), Variant(QString()), Variant("-"),
                                 Variant(","), Variant("no es un número")}) {
            EXPECT_EQ(formateaCampo(v, 1, 2, QString(), false), zero);
            EXPECT_EQ(formateaCampo(v, 3, 2, QStringLiteral("D"), false), blanks(2) + zero);
        }
    }
}

TEST(FormateaCampo, ANegativeNumberKeepsItsSignInsideTheField) {
    auto es = rt::ScopedRegionalSettings::spanish();
    EXPECT_EQ(formateaCampo(-5.0, 3, 0, QStringLiteral("D"), false), QStringLiteral("  -5"));
    EXPECT_EQ(formateaCampo(-1234.5, 6, 1, QStringLiteral("D"), true), QStringLiteral("-1.234,5"));
}

TEST(FormateaCampo, EmptyAlignmentReturnsThePatternWidthField) {
    auto es = rt::ScopedRegionalSettings::spanish();
    // L counts the group mark and the decimals.
    EXPECT_EQ(formateaCampo(5.0, 4, 2, QString(), true), blanks(4) + QStringLiteral("5,00"));
    EXPECT_EQ(formateaCampo(5.0, 11, 0, QString(), true), blanks(10) + QStringLiteral("5"));
    // Wider than L: kept whole.
    EXPECT_EQ(formateaCampo(-123.0, 3, 0, QString(), false), QStringLiteral("-123"));
}

TEST(FormateaCampo, OnlyAnUpperCaseDAlignsRight) {
    auto es = rt::ScopedRegionalSettings::spanish();
    EXPECT_EQ(formateaCampo(7.0, 3, 0, QStringLiteral("D"), false), QStringLiteral("   7"));
    EXPECT_EQ(formateaCampo(7.0, 3, 0, QStringLiteral("d"), false), QStringLiteral("7   "));
    EXPECT_EQ(formateaCampo(7.0, 3, 0, QStringLiteral("I"), false), QStringLiteral("7   "));
    EXPECT_EQ(formateaCampo(7.0, 3, 0, QStringLiteral("centro"), false), QStringLiteral("7   "));
}

TEST(FormateaCampo, ConvertsEachKindOfValue) {
    auto es = rt::ScopedRegionalSettings::spanish();
    EXPECT_EQ(formateaCampo(Variant(std::int16_t{42}), 3, 1, QString(), false),
              QStringLiteral(" 42,0"));
    EXPECT_EQ(formateaCampo(Variant(std::int32_t{-70000}), 6, 0, QString(), true),
              QStringLiteral("-70.000"));
    EXPECT_EQ(formateaCampo(Variant(true), 2, 0, QString(), false), QStringLiteral("-1"));
    EXPECT_EQ(formateaCampo(Variant(rt::Currency{12345678}), 5, 4, QString(), true),
              QStringLiteral("1.234,5678"));
    EXPECT_EQ(formateaCampo(Variant(0.1f), 1, 10, QString(), false),
              QStringLiteral("0,1000000000"));
    EXPECT_EQ(formateaCampo(Variant("1.234,5"), 5, 2, QString(), true), QStringLiteral("1.234,50"));
}

TEST(FormateaCampo, WidthsBeyondSixteenBitsOverflow) {
    EXPECT_EQ(runtimeErrorOf([] { formateaCampo(1.0, 32767, 0, QStringLiteral("D"), false); }),
              rt::err::Overflow);
    EXPECT_EQ(runtimeErrorOf([] { formateaCampo(1.0, 32000, 800, QString(), false); }),
              rt::err::Overflow);
    // Without alignment the final width is never computed.
    EXPECT_EQ(formateaCampo(1.0, 32767, 0, QString(), false).size(), 32767);
}

TEST(FormateaCampo, ANegativeFinalWidthIsAnInvalidCall) {
    EXPECT_EQ(runtimeErrorOf([] { formateaCampo(1.0, -5, 0, QStringLiteral("D"), false); }),
              rt::err::InvalidCall);
}

// ---- alineaTexto --------------------------------------------------------------

TEST(AlineaTexto, IAlignsLeftInAnyCaseAndEverythingElseRight) {
    EXPECT_EQ(alineaTexto(QStringLiteral("ab"), 5, QStringLiteral("I")), QStringLiteral("ab   "));
    EXPECT_EQ(alineaTexto(QStringLiteral("ab"), 5, QStringLiteral("i")), QStringLiteral("ab   "));
    EXPECT_EQ(alineaTexto(QStringLiteral("ab"), 5, QStringLiteral("D")), QStringLiteral("   ab"));
    EXPECT_EQ(alineaTexto(QStringLiteral("ab"), 5, QStringLiteral("x")), QStringLiteral("   ab"));
    EXPECT_EQ(alineaTexto(QStringLiteral("ab"), 5, QString()), QStringLiteral("   ab"));
    EXPECT_EQ(alineaTexto(QStringLiteral("ab"), 5, QStringLiteral("II")), QStringLiteral("   ab"));
}

TEST(AlineaTexto, CutsTheEndOfALongerText) {
    EXPECT_EQ(alineaTexto(QStringLiteral("abcdef"), 3, QStringLiteral("D")), QStringLiteral("abc"));
    EXPECT_EQ(alineaTexto(QStringLiteral("abcdef"), 3, QStringLiteral("I")), QStringLiteral("abc"));
    EXPECT_EQ(alineaTexto(QStringLiteral("  x "), 2, QStringLiteral("I")), QStringLiteral("  "));
    EXPECT_EQ(alineaTexto(QStringLiteral("abc"), 3, QStringLiteral("I")), QStringLiteral("abc"));
}

TEST(AlineaTexto, AnEmptyTextGivesOnlyBlanks) {
    EXPECT_EQ(alineaTexto(QString(), 4, QStringLiteral("D")), blanks(4));
    EXPECT_EQ(alineaTexto(QString(), 4, QStringLiteral("I")), blanks(4));
    EXPECT_EQ(alineaTexto(QString(), 1, QStringLiteral("I")), blanks(1));
}

TEST(AlineaTexto, ZeroWidthGivesTheEmptyTextAndANegativeWidthIsAnInvalidCall) {
    EXPECT_EQ(alineaTexto(QStringLiteral("abc"), 0, QStringLiteral("D")), QString());
    EXPECT_EQ(runtimeErrorOf([] { alineaTexto(QStringLiteral("abc"), -1, QStringLiteral("D")); }),
              rt::err::InvalidCall);
    EXPECT_EQ(runtimeErrorOf([] { alineaTexto(QString(), -1, QStringLiteral("I")); }),
              rt::err::InvalidCall);
}

} // namespace
