// The integer reading shared by the edits, and the message for a text that is none.
#include "core/decode/IntegerText.h"

#include <gtest/gtest.h>

#include <optional>

using namespace voltaro;

TEST(IntegerText, AcceptsSignedDecimalsWithin32BitsAndBlanksAround) {
    const struct {
        const char* text;
        int value;
    } cases[] = {{"0", 0},
                 {"-0", 0},
                 {"+5", 5},
                 {"007", 7},
                 {" 7 ", 7},
                 {"\t-12", -12},
                 {"2147483647", 2147483647},
                 {"-2147483648", -2147483647 - 1}};
    for (const auto& c : cases)
        EXPECT_EQ(parseInteger(QString::fromUtf8(c.text)), std::optional<int>(c.value)) << c.text;
}

TEST(IntegerText, RefusesEverythingElse) {
    // Each is a text a user can reach with the key filters or by pasting.
    for (const char* text : {"", " ", "+", "-", "+-1", "- 1", "20000-", "1.0", "1,000", "1e3", "0x10",
                             "2147483648", "-2147483649", "99999999999", "\u0663", "\uff11\uff12"})
        EXPECT_EQ(parseInteger(QString::fromUtf8(text)), std::nullopt) << text;
}

TEST(IntegerText, MessageQuotesTheTextAsTyped) {
    EXPECT_EQ(notAnIntegerMessage(QStringLiteral("20000-")), "'20000-' is not a valid integer value");
    EXPECT_EQ(notAnIntegerMessage(QString()), "'' is not a valid integer value");
    // A text that looks like a placeholder is quoted, not filled in again.
    EXPECT_EQ(notAnIntegerMessage(QStringLiteral("5%1")), "'5%1' is not a valid integer value");
}
