#include "core/link/hid/ReportDescriptor.h"

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

// The parser's state between items, with a step for each kind of item;
// each step returns false for a descriptor no device could mean.
class Parser {
public:
    bool global(int tag, std::uint32_t value) {
        switch (tag) {
        case kUsagePage: global_.usagePage = value; break;
        case kReportSize: global_.reportSize = value; break;
        case kReportCount: global_.reportCount = value; break;
        case kReportId:
            if (value == 0 || value > 255)
                return false;
            global_.reportId = value;
            info_.numbersReports = true;
            break;
        case kPush:
            if (stack_.size() >= kMaxPushDepth)
                return false;
            stack_.push_back(global_);
            break;
        case kPop:
            if (stack_.empty())
                return false;
            global_ = stack_.back();
            stack_.pop_back();
            break;
        default: break;
        }
        return true;
    }

    void local(int tag, std::uint32_t value, std::size_t length) {
        if (tag == kUsage && !haveUsage_) {
            // A four-byte usage names its own page in the upper half.
            usage_ = length == 4 ? value : ((global_.usagePage & 0xFFFF) << 16) | (value & 0xFFFF);
            haveUsage_ = true;
        }
    }

    bool main(int tag, std::uint32_t value) {
        const bool good = mainItem(tag, value);
        // Local items hold for the next main item only.
        haveUsage_ = false;
        usage_ = 0;
        return good;
    }

    // The caps once every item is read.
    std::optional<ReportDescriptorInfo> finish() {
        if (collections_ > 65535)
            return std::nullopt;
        info_.caps.NumberLinkCollectionNodes = static_cast<std::uint16_t>(collections_);
        std::uint16_t* lengths[3] = {&info_.caps.InputReportByteLength, &info_.caps.OutputReportByteLength,
                                     &info_.caps.FeatureReportByteLength};
        for (int kind = 0; kind < 3; ++kind) {
            std::uint64_t longest = 0;
            for (const std::uint64_t b : bits_[kind])
                longest = std::max(longest, b);
            if (longest == 0)
                continue;
            // Whole bytes of data, and one for the report ID.
            const std::uint64_t bytes = (longest + 7) / 8 + 1;
            if (bytes > 65535)
                return std::nullopt;
            *lengths[kind] = static_cast<std::uint16_t>(bytes);
        }
        return info_;
    }

private:
    bool mainItem(int tag, std::uint32_t value) {
        switch (tag) {
        case kInput:
        case kOutput:
        case kFeature: {
            const int kind = tag == kInput ? 0 : tag == kOutput ? 1 : 2;
            // At most 2^32 * 2^32 bits: a 64-bit sum of a few such items
            // could still wrap, so stop counting once past any valid length.
            std::uint64_t& b = bits_[kind][global_.reportId];
            b += static_cast<std::uint64_t>(global_.reportSize) * global_.reportCount;
            return b <= 8u * 65535u;
        }
        case kCollection:
            ++collections_;
            if (depth_ == 0 && !topLevelSeen_ && value == kApplicationCollection) {
                topLevelSeen_ = true;
                info_.caps.UsagePage = static_cast<std::uint16_t>(usage_ >> 16);
                info_.caps.Usage = static_cast<std::uint16_t>(usage_ & 0xFFFF);
            }
            ++depth_;
            return true;
        case kEndCollection:
            if (depth_ == 0)
                return false;
            --depth_;
            return true;
        default: return true;
        }
    }

    // Bits per report ID for input, output and feature reports.
    std::array<std::array<std::uint64_t, 256>, 3> bits_{};
    GlobalState global_;
    std::vector<GlobalState> stack_;
    bool haveUsage_ = false;
    std::uint32_t usage_ = 0;
    int depth_ = 0;
    bool topLevelSeen_ = false;
    ReportDescriptorInfo info_;
    std::uint32_t collections_ = 0;
};

} // namespace

std::optional<ReportDescriptorInfo> parseReportDescriptor(const std::uint8_t* data, std::size_t size) {
    Parser parser;
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
        if (type == kGlobal && !parser.global(tag, value))
            return std::nullopt;
        if (type == kLocal)
            parser.local(tag, value, length);
        if (type == kMain && !parser.main(tag, value))
            return std::nullopt;
    }
    return parser.finish();
}

} // namespace voltaro
