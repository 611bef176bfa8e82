#include "core/decode/NumberFormat.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <random>

using voltaro::formatGeneral;
using voltaro::formatShortest;
using voltaro::parseNumber;
using voltaro::parseNumberDigits;

TEST(NumberFormat, ParsesWithTheGivenSeparatorOnly) {
    EXPECT_EQ(parseNumber("01.234", "."), 1.234);
    EXPECT_EQ(parseNumber("-01,234", ","), -1.234);
    EXPECT_EQ(parseNumber(" +2 ", "."), 2.0);
    EXPECT_EQ(parseNumber("1e3", "."), 1000.0);
    EXPECT_EQ(parseNumber("5.", "."), 5.0);
    EXPECT_EQ(parseNumber(".5", "."), 0.5);
    EXPECT_FALSE(parseNumber("1,234", "."));   // a group separator is no separator here
    EXPECT_FALSE(parseNumber("1.234.5", ".")); // two separators
    EXPECT_FALSE(parseNumber("0.L", "."));     // overload text
    EXPECT_FALSE(parseNumber("", "."));
    EXPECT_FALSE(parseNumber("-", "."));
    EXPECT_FALSE(parseNumber("+-1", "."));
    EXPECT_FALSE(parseNumber("1e", "."));
    EXPECT_FALSE(parseNumber(".", "."));
    EXPECT_FALSE(parseNumber("12a", "."));
}

TEST(NumberFormat, GeneralFormatDropsZerosAndUsesTheSeparator) {
    EXPECT_EQ(formatGeneral(1.234, "."), "1.234");
    EXPECT_EQ(formatGeneral(220.0, "."), "220");
    EXPECT_EQ(formatGeneral(-0.05, ","), "-0,05");
    EXPECT_EQ(formatGeneral(0.0001, "."), "0.0001");
    EXPECT_EQ(formatGeneral(-0.0, "."), "0");
    EXPECT_EQ(formatGeneral(22000.0, "."), "22000");
    EXPECT_EQ(formatGeneral(*parseNumber("00.000", "."), "."), "0");
}

// The general format writes into a string that may hold a longer text, and
// a separator too long for its stack buffer goes another road.
TEST(NumberFormat, GeneralFormatReplacesTheTargetWithAnySeparator) {
    for (const std::string& sep : {std::string("."), std::string(40, ';')}) {
        for (const std::string& number :
             {"-012" + sep + "3400", "0" + sep + "00012", "0" + sep + "00000012"}) {
            const auto n = parseNumberDigits(number, sep);
            ASSERT_TRUE(n) << number;
            std::string out(100, 'x');
            formatGeneral(*n, sep, out);
            EXPECT_EQ(out, formatGeneral(n->value, sep)) << number;
        }
    }
}

TEST(NumberFormat, ShortestRoundTripsInFixedNotation) {
    EXPECT_EQ(formatShortest(1234 / 1000.0), "1.234");
    EXPECT_EQ(formatShortest(22000.0), "22000");
    EXPECT_EQ(formatShortest(-5 / 10000.0), "-0.0005");
    EXPECT_EQ(formatShortest(0.1 + 0.2), "0.30000000000000004");
}

// Plain decimals are read and written from their digits; the result must be
// the one from_chars and the general format give, digit for digit.
TEST(NumberFormat, PlainDecimalsReadAndWriteAsTheLibraryDoes) {
    std::mt19937 rng(20261210);
    const std::string_view seps[] = {".", ",", "::"};
    for (int i = 0; i < 200000; ++i) {
        const std::string_view sep = seps[i % 3];
        const int digits = 1 + static_cast<int>(rng() % 17); // past 15 takes the library's road
        const int point = static_cast<int>(rng() % (digits + 1));
        std::string text = rng() % 4 == 0 ? "-" : (rng() % 8 == 0 ? "+" : "");
        std::string canonical = text;
        for (int d = 0; d < digits; ++d) {
            if (d == point && point > 0) {
                text += sep;
                canonical += '.';
            }
            // Leading and trailing zeros are frequent in a meter's texts.
            const char c = rng() % 3 == 0 ? '0' : static_cast<char>('0' + rng() % 10);
            text += c;
            canonical += c;
        }
        if (point == digits && rng() % 2 == 0) {
            text += sep; // "12." reads as 12
            canonical += '.';
        }
        double expected = 0;
        const std::string_view unsigned_ =
            std::string_view(canonical).substr(canonical[0] == '-' || canonical[0] == '+');
        std::from_chars(unsigned_.data(), unsigned_.data() + unsigned_.size(), expected);
        if (canonical[0] == '-')
            expected = -expected;
        const auto n = parseNumberDigits(text, sep);
        ASSERT_TRUE(n) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(n->value), std::bit_cast<std::uint64_t>(expected)) << text;
        ASSERT_EQ(formatGeneral(*n, sep), formatGeneral(n->value, sep)) << text;
    }
}
