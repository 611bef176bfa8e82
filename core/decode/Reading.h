#pragma once

#include "core/decode/LcdElement.h"

#include <array>
#include <string>
#include <string_view>

namespace voltaro {

// The current reading. The function, unit, range and judgement texts come
// from a fixed vocabulary and point at constant storage.
struct Reading {
    std::string ValueText;
    std::string_view FuncText;
    std::string_view UnitText;
    std::string_view RangeText;
    double Count = 0;
    double ScaledValue = 0;
    int PointIndex = 0;
    std::string_view JudgeText;
};

// What the LCD panel shows for one frame.
struct DisplayState {
    LcdSet lit;
    // d1..d5: one character each, or '\0' for an empty digit.
    std::array<char, 5> digits{};
    int barPosition = 0;

    std::string digitText(int i) const { return digits[i] ? std::string(1, digits[i]) : std::string(); }
    // "d1,d2,d3,d4,d5"
    std::string digitTexts() const;
};

// Everything one decode produces besides what the evaluation adds.
struct DecodedFrame {
    std::string ValueText;
    std::string_view FuncText;
    std::string_view UnitText;
    std::string_view RangeText;
    double Count = 0;
    double ScaledValue = 0;
    int PointIndex = 0;
    DisplayState display;
    double chartYMax = 0;
    double chartYMin = 0;
    bool overloadFlag = false; // the status nibble's overload bit
};

} // namespace voltaro
