#include "link/hid/ReportDescriptor.h"

#include <algorithm>
#include <array>
#include <vector>

namespace voltaro {

namespace {

enum ItemType { kMain = 0, kGlobal = 1, kLocal = 2 };
enum MainTag { kInput = 0x8, kOutput = 0x9, kCollection = 0xA, kFeature = 0xB, kEndCollection = 0xC };
enum GlobalTag {
    kUsagePage = 0x0,
    kReportSize = 0x7,
    kReportId = 0x8,
    kReportCount = 0x9,
    kPush = 0xA,
    kPop = 0xB
};
enum LocalTag { kUsage = 0x0 };
constexpr std::uint8_t kLongItemPrefix = 0xFE;
constexpr std::uint32_t kApplicationCollection = 0x01;
// Deeper nesting than any real device uses; it bounds the memory a hostile
// descriptor can make us spend.
constexpr std::size_t kMaxPushDepth = 32;

struct GlobalState {
    std::uint32_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

} // namespace

std::optional<ReportDescriptorInfo> parseReportDescriptor(const std::uint8_t* data, std::size_t size) {
    // Bits per report ID for input, output and feature reports.
    std::array<std::array<std::uint64_t, 256>, 3> bits{};
    GlobalState global;
    std::vector<GlobalState> stack;
    bool haveUsage = false;
    std::uint32_t usage = 0;
    int depth = 0;
    bool topLevelSeen = false;
    ReportDescriptorInfo info;
    std::uint32_t collections = 0;

    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t prefix = data[i++];
        if (prefix == kLongItemPrefix) {
            // Long items carry vendor data the stack has no use for.
            if (i + 2 > size)
                return std::nullopt;
            const std::size_t length = data[i];
            i += 2;
            if (length > size - i)
                return std::nullopt;
            i += length;
            continue;
        }
        const std::size_t length = (prefix & 0x3) == 3 ? 4 : (prefix & 0x3);
        if (length > size - i)
            return std::nullopt;
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < length; ++k)
            value |= static_cast<std::uint32_t>(data[i + k]) << (8 * k);
        i += length;
        const int type = (prefix >> 2) & 0x3;
        const int tag = prefix >> 4;

        if (type == kGlobal) {
            switch (tag) {
            case kUsagePage: global.usagePage = value; break;
            case kReportSize: global.reportSize = value; break;
            case kReportCount: global.reportCount = value; break;
            case kReportId:
                if (value == 0 || value > 255)
                    return std::nullopt;
                global.reportId = value;
                info.numbersReports = true;
                break;
            case kPush:
                if (stack.size() >= kMaxPushDepth)
                    return std::nullopt;
                stack.push_back(global);
                break;
            case kPop:
                if (stack.empty())
                    return std::nullopt;
                global = stack.back();
                stack.pop_back();
                break;
            default: break;
            }
        } else if (type == kLocal) {
            if (tag == kUsage && !haveUsage) {
                // A four-byte usage names its own page in the upper half.
                usage = length == 4 ? value : ((global.usagePage & 0xFFFF) << 16) | (value & 0xFFFF);
                haveUsage = true;
            }
        } else if (type == kMain) {
            switch (tag) {
            case kInput:
            case kOutput:
            case kFeature: {
                const int kind = tag == kInput ? 0 : tag == kOutput ? 1 : 2;
                // At most 2^32 * 2^32 bits: a 64-bit sum of a few such items
                // could still wrap, so stop counting once past any valid length.
                std::uint64_t& b = bits[kind][global.reportId];
                b += static_cast<std::uint64_t>(global.reportSize) * global.reportCount;
                if (b > 8u * 65535u)
                    return std::nullopt;
                break;
            }
            case kCollection:
                ++collections;
                if (depth == 0 && !topLevelSeen && value == kApplicationCollection) {
                    topLevelSeen = true;
                    info.caps.UsagePage = static_cast<std::uint16_t>(usage >> 16);
                    info.caps.Usage = static_cast<std::uint16_t>(usage & 0xFFFF);
                }
                ++depth;
                break;
            case kEndCollection:
                if (depth == 0)
                    return std::nullopt;
                --depth;
                break;
            default: break;
            }
            // Local items hold for the next main item only.
            haveUsage = false;
            usage = 0;
        }
    }
    if (collections > 65535)
        return std::nullopt;
    info.caps.NumberLinkCollectionNodes = static_cast<std::uint16_t>(collections);

    std::uint16_t* lengths[3] = {&info.caps.InputReportByteLength, &info.caps.OutputReportByteLength,
                                 &info.caps.FeatureReportByteLength};
    for (int kind = 0; kind < 3; ++kind) {
        std::uint64_t longest = 0;
        for (const std::uint64_t b : bits[kind])
            longest = std::max(longest, b);
        if (longest == 0)
            continue;
        // Whole bytes of data, and one for the report ID.
        const std::uint64_t bytes = (longest + 7) / 8 + 1;
        if (bytes > 65535)
            return std::nullopt;
        *lengths[kind] = static_cast<std::uint16_t>(bytes);
    }
    return info;
}

} // namespace voltaro
