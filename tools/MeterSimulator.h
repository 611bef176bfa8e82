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

// The USB cable's report clock: the cable sends one input report per slot,
// most of them empty. A frame starts in the first free slot at or after its
// time at `framesPerSecond`; its two data reports go out in consecutive slots
// and at least one empty report follows, which is what ends the burst for the
// receiver. A frame takes at least three slots (see fitsSlots).
class CableReportClock {
public:
    enum class Kind { FirstHalf, SecondHalf, Empty };

    static constexpr std::uint64_t kMinSlotsPerFrame = 3;
    static bool fitsSlots(double framesPerSecond, double reportsPerSecond) {
        return framesPerSecond > 0 &&
               reportsPerSecond >= static_cast<double>(kMinSlotsPerFrame) * framesPerSecond;
    }

    CableReportClock(MeterSimulator& sim, double framesPerSecond, double reportsPerSecond);

    // The report of the next slot, report ID first; valid until the next call.
    const std::vector<std::uint8_t>& next();
    Kind lastKind() const { return kind_; }

    // Frames whose first data report has gone out.
    std::uint64_t framesStarted() const { return started_; }
    // Frames followed by their empty report.
    std::uint64_t framesEnded() const { return ended_; }

private:
    std::uint64_t startSlot(std::uint64_t frame) const;

    MeterSimulator& sim_;
    double slotsPerFrame_;
    std::uint64_t slot_ = 0;
    std::uint64_t nextStart_ = 0;
    std::uint64_t started_ = 0;
    std::uint64_t ended_ = 0;
    Kind kind_ = Kind::Empty;
    std::vector<std::vector<std::uint8_t>> frame_; // the frame in progress: two data reports, one empty
};

} // namespace voltaro::sim
