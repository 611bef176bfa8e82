#include "core/decode/NumberFormat.h"

#include <gtest/gtest.h>

using voltaro::formatGeneral;
using voltaro::formatShortest;
using voltaro::parseNumber;

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

TEST(NumberFormat, ShortestRoundTripsInFixedNotation) {
    EXPECT_EQ(formatShortest(1234 / 1000.0), "1.234");
    EXPECT_EQ(formatShortest(22000.0), "22000");
    EXPECT_EQ(formatShortest(-5 / 10000.0), "-0.0005");
    EXPECT_EQ(formatShortest(0.1 + 0.2), "0.30000000000000004");
}
