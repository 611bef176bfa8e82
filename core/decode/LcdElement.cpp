#include "core/decode/LcdElement.h"

#include <algorithm>
#include <array>

namespace voltaro {

namespace {

constexpr std::array<std::string_view, kLcdElementCount> kNames = {
    "LcdD0", "LcdDa",  "LcdDb",   "LcdDc",   "LcdDd",   "LcdFH",   "LcdP0",  "LcdP1",   "LcdP2", "LcdP3",
    "LcdAC", "LcdDc1", "LcdAuto", "LcdManu", "LCDHold", "LCDBATT", "LCDREL", "LcdV",    "LCDA",  "LCDF",
    "Lcdm",  "LCDn",   "LCDu",    "LCDk",    "LCDM1",   "LCDohm",  "LCDHz",  "LCDBF",   "LCDDI", "LCDFm",
    "LCDCS", "LCDFS",  "LCDBT",   "LcdRPM",  "Labmax",  "Labmin",  "EF",     "LCDsend",
};

// Element indices in the byte order of their names, worked out once.
std::array<std::uint8_t, kLcdElementCount> sortedOrder() {
    std::array<std::uint8_t, kLcdElementCount> order{};
    for (int i = 0; i < kLcdElementCount; ++i)
        order[i] = static_cast<std::uint8_t>(i);
    std::sort(order.begin(), order.end(), [](auto a, auto b) { return kNames[a] < kNames[b]; });
    return order;
}

} // namespace

std::string_view lcdElementName(LcdElement e) {
    return kNames[static_cast<int>(e)];
}

std::string LcdSet::names() const {
    static const auto order = sortedOrder();
    std::string out;
    for (auto i : order) {
        if (bits_ & (std::uint64_t{1} << i)) {
            if (!out.empty())
                out += ',';
            out += kNames[i];
        }
    }
    return out;
}

} // namespace voltaro
