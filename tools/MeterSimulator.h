#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace voltaro::sim {

// The content of one meter frame as the twelve nibbles the meter sends.
struct MeterFrame {
    std::uint8_t range = 0;
    std::array<char, 5> digits = {'0', '0', '0', '0', '0'};
    std::uint8_t function = 11;
    std::uint8_t status = 0;  // duty 8, minus 4, low battery 2, overload 1
    std::uint8_t option1 = 0; // relative 2
    std::uint8_t option2 = 0; // duty overload 8
    std::uint8_t option3 = 0; // DC 8, AC 4, auto 2 (and the coupling case)
    std::uint8_t option4 = 0; // hold 2

    // The 12 data bytes (high nibble 3) followed by CR and LF.
    std::array<std::uint8_t, 14> wireBytes() const;
    // "A", the twelve low digits, "D": what a decoder sees of this frame.
    std::string frameText() const;

    MeterFrame& withDigits(std::string_view five);
    MeterFrame& withCount(int count); // five digits of |count|, minus flag by its sign
};

std::uint8_t lowNibble(char digit);

// A scripted meter: a scenario yields one frame after another.
class MeterSimulator {
public:
    struct ScenarioInfo {
        std::string_view name;
        std::string_view description;
    };
    static const std::vector<ScenarioInfo>& scenarios();
    static bool hasScenario(std::string_view name);

    MeterSimulator(std::string_view scenario, std::uint32_t seed);

    // The next frame of the scenario, cycling for ever.
    MeterFrame nextFrame();

    // The bytes of the next frame as sent on the serial line. The "glitch"
    // scenario damages some of them (lost, extra or garbled bytes).
    std::vector<std::uint8_t> nextSerialBytes();

    // The next frame as the USB cable's input reports, one vector each, report
    // ID first: two data reports of seven bytes, then an empty report.
    std::vector<std::vector<std::uint8_t>> nextHidReports();

private:
    MeterFrame tourFrame(std::size_t i);
    MeterFrame walkFrame(std::uint8_t function, std::uint8_t range, std::uint8_t option3, int lo, int hi);

    std::string scenario_;
    std::mt19937 rng_;
    std::size_t index_ = 0;
    int walk_ = 12345;
};

} // namespace voltaro::sim
