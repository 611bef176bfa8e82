#include "core/link/hid/ReportDescriptor.h"

#include "support/HidDescriptors.h"

#include <gtest/gtest.h>

namespace voltaro {
namespace {

using testing::kCableDescriptor;

std::optional<ReportDescriptorInfo> parse(const std::vector<std::uint8_t>& d) {
    return parseReportDescriptor(d.data(), d.size());
}

TEST(ReportDescriptor, ExamplesGiveTheirReportLengthsWithTheIdByte) {
    struct Case {
        const char* name;
        const std::vector<std::uint8_t>& descriptor;
        std::uint16_t page, usage, input, output, feature, collections;
        bool numbered;
    };
    const Case cases[] = {
        {"mouse", testing::kMouseDescriptor, 0x01, 0x02, 4, 0, 0, 2, false},
        {"keyboard", testing::kKeyboardDescriptor, 0x01, 0x06, 9, 2, 0, 1, false},
        {"joystick", testing::kJoystickDescriptor, 0x01, 0x04, 5, 0, 0, 2, false},
        {"cable", kCableDescriptor, 0xFFA0, 0x01, 9, 0, 10, 1, false},
        {"numbered", testing::kNumberedDescriptor, 0xFF00, 0x01, 7, 0, 3, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto info = parse(c.descriptor);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->caps.UsagePage, c.page);
        EXPECT_EQ(info->caps.Usage, c.usage);
        EXPECT_EQ(info->caps.InputReportByteLength, c.input);
        EXPECT_EQ(info->caps.OutputReportByteLength, c.output);
        EXPECT_EQ(info->caps.FeatureReportByteLength, c.feature);
        EXPECT_EQ(info->caps.NumberLinkCollectionNodes, c.collections);
        EXPECT_EQ(info->numbersReports, c.numbered);
    }
}

TEST(ReportDescriptor, LongItemsAndFourByteUsagesAreRead) {
    std::vector<std::uint8_t> d = {0xFE, 0x02, 0x10, 0xAA, 0xBB}; // long item, skipped
    // Usage with its own page (0xFF31:0x0074), then a 2-byte input report.
    const std::vector<std::uint8_t> rest = {0x0B, 0x74, 0x00, 0x31, 0xFF, 0xA1, 0x01,
                                            0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xC0};
    d.insert(d.end(), rest.begin(), rest.end());
    const auto info = parse(d);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->caps.UsagePage, 0xFF31);
    EXPECT_EQ(info->caps.Usage, 0x0074);
    EXPECT_EQ(info->caps.InputReportByteLength, 3);
}

TEST(ReportDescriptor, MalformedDescriptorsGiveNothing) {
    const std::vector<std::vector<std::uint8_t>> bad = {
        {0x05},                                                 // item cut short
        {0x26, 0xFF},                                           // two-byte item with one byte
        {0xFE, 0x05, 0x00, 0x01},                               // long item longer than the rest
        {0xFE},                                                 // long item without its header
        {0x85, 0x00},                                           // report ID 0
        {0x86, 0x00, 0x01},                                     // report ID 256
        {0xB4},                                                 // pop without push
        {0xC0},                                                 // end without collection
        {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x95, 0x10, 0x81, 0x02}, // a report past 65535 bytes
    };
    for (const auto& d : bad)
        EXPECT_FALSE(parse(d)) << "descriptor of " << d.size() << " bytes, first " << int(d[0]);
    // Deeper pushes than any device uses.
    EXPECT_FALSE(parse(std::vector<std::uint8_t>(100, 0xA4)));
}

TEST(ReportDescriptor, HugeCountsDoNotWrapIntoAValidLength) {
    // 2^32-1 items of 2^32-1 bits, twice: far past any length, never a small one.
    const std::vector<std::uint8_t> d = {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF,
                                         0xFF, 0xFF, 0xFF, 0x81, 0x02, 0x81, 0x02};
    EXPECT_FALSE(parse(d));
}

TEST(ReportDescriptor, EmptyDescriptorHasNoReports) {
    const auto info = parseReportDescriptor(nullptr, 0);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->caps.InputReportByteLength, 0);
    EXPECT_FALSE(info->numbersReports);
}

} // namespace
} // namespace voltaro
