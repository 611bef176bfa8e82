#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace voltaro {

// The elements of the LCD panel that a decoded frame can light. The names are
// the ones the panel's controls carry.
enum class LcdElement : std::uint8_t {
    LcdD0,
    LcdDa,
    LcdDb,
    LcdDc,
    LcdDd,
    LcdFH,
    LcdP0,
    LcdP1,
    LcdP2,
    LcdP3,
    LcdAC,
    LcdDc1,
    LcdAuto,
    LcdManu,
    LCDHold,
    LCDBATT,
    LCDREL,
    LcdV,
    LCDA,
    LCDF,
    Lcdm,
    LCDn,
    LCDu,
    LCDk,
    LCDM1,
    LCDohm,
    LCDHz,
    LCDBF,
    LCDDI,
    LCDFm,
    LCDCS,
    LCDFS,
    LCDBT,
    LcdRPM,
    Labmax,
    Labmin,
    EF,
    LCDsend,
};

inline constexpr int kLcdElementCount = static_cast<int>(LcdElement::LCDsend) + 1;

std::string_view lcdElementName(LcdElement e);

// A set of lit elements, one bit each; cheap to copy and compare.
class LcdSet {
public:
    void light(LcdElement e) { bits_ |= bit(e); }
    void putOut(LcdElement e) { bits_ &= ~bit(e); }
    void setLit(LcdElement e, bool lit) { lit ? light(e) : putOut(e); }
    bool isLit(LcdElement e) const { return (bits_ & bit(e)) != 0; }
    std::uint64_t bits() const { return bits_; }
    bool operator==(const LcdSet&) const = default;

    // The lit elements' names, sorted by their bytes, joined by commas.
    std::string names() const;

private:
    static constexpr std::uint64_t bit(LcdElement e) { return std::uint64_t{1} << static_cast<int>(e); }
    std::uint64_t bits_ = 0;
};

} // namespace voltaro
