#include "tools/MeterSimulator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace voltaro::sim {

namespace {

constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;
constexpr char kHex[] = "0123456789ABCDEF";

// Option-3 values of the coupling cases used below.
constexpr std::uint8_t kAutoDc = 10;
constexpr std::uint8_t kAutoAc = 6;
constexpr std::uint8_t kManualDc = 8;
constexpr std::uint8_t kAuto = 2;

MeterFrame frame(std::uint8_t function, std::uint8_t range, std::string_view digits,
                 std::uint8_t option3 = 0) {
    MeterFrame f;
    f.function = function;
    f.range = range;
    f.option3 = option3;
    f.withDigits(digits);
    return f;
}

// Every function, range and flag the decoder knows, one frame each.
std::vector<MeterFrame> buildTour() {
    std::vector<MeterFrame> t;
    // Voltage: every range, DC and AC, manual and auto, both signs.
    for (std::uint8_t r = 0; r <= 4; ++r) {
        t.push_back(frame(11, r, "01234", kAutoDc));
        auto neg = frame(11, r, "12345", kManualDc);
        neg.status = 4;
        t.push_back(neg);
        t.push_back(frame(11, r, "20500", kAutoAc));
    }
    // Currents.
    t.push_back(frame(0, 0, "01500", kManualDc));
    t.push_back(frame(0, 1, "01500", kManualDc));
    for (std::uint8_t r = 0; r <= 3; ++r)
        t.push_back(frame(9, r, "10203", kAutoDc));
    for (std::uint8_t r = 0; r <= 1; ++r) {
        t.push_back(frame(13, r, "04567", kAutoDc));
        t.push_back(frame(15, r, "19999", kAutoAc));
    }
    // Diode, frequency, resistance, temperature, continuity, capacitance.
    t.push_back(frame(1, 0, "05678", kAuto));
    for (std::uint8_t r = 0; r <= 7; ++r)
        t.push_back(frame(2, r, "05000", kAuto));
    for (std::uint8_t r = 0; r <= 6; ++r)
        t.push_back(frame(3, r, "00470", kAuto));
    t.push_back(frame(4, 0, "00235", kAuto));
    t.push_back(frame(5, 0, "00012", 0));
    for (std::uint8_t r = 0; r <= 7; ++r)
        t.push_back(frame(6, r, "03300", kAuto));
    // Duty cycle in every function that has it.
    for (std::uint8_t fn : {0, 2, 11, 13, 15}) {
        auto d = frame(fn, 0, "00500", kAuto);
        d.status = 8;
        t.push_back(d);
    }
    // Overload, positive and negative, and the duty overload.
    auto ol = frame(11, 1, "00000", kAutoDc);
    ol.status = 1;
    t.push_back(ol);
    ol.status = 5;
    t.push_back(ol);
    auto dutyOl = frame(11, 0, "00000", 9);
    dutyOl.status = 8;
    dutyOl.option2 = 8; // with function 11 and option 9: the "B8089" pattern
    t.push_back(dutyOl);
    auto dutyOlAuto = frame(2, 0, "00000", kAuto);
    dutyOlAuto.option2 = 8;
    t.push_back(dutyOlAuto);
    // Above full scale: 22580.
    t.push_back(frame(11, 3, "22580", kAutoDc));
    // Hold, relative, low battery.
    auto hold = frame(11, 2, "11111", kAutoDc);
    hold.option4 = 2;
    t.push_back(hold);
    auto rel = frame(11, 2, "00042", kAutoDc);
    rel.option1 = 2;
    t.push_back(rel);
    auto batt = frame(11, 2, "03300", kAutoDc);
    batt.status = 2;
    t.push_back(batt);
    // Coupling cases that turn a function into another display.
    t.push_back(frame(11, 2, "05000", 7));
    t.push_back(frame(11, 4, "05000", 11));
    t.push_back(frame(11, 0, "00500", 9));
    t.push_back(frame(11, 1, "01234", 4));
    return t;
}

const std::vector<MeterFrame>& tour() {
    static const std::vector<MeterFrame> t = buildTour();
    return t;
}

} // namespace

std::uint8_t lowNibble(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<std::uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<std::uint8_t>(c - 'A' + 10);
    return 0;
}

std::array<std::uint8_t, 14> MeterFrame::wireBytes() const {
    const std::uint8_t nibbles[12] = {range,
                                      lowNibble(digits[0]),
                                      lowNibble(digits[1]),
                                      lowNibble(digits[2]),
                                      lowNibble(digits[3]),
                                      lowNibble(digits[4]),
                                      function,
                                      status,
                                      option1,
                                      option2,
                                      option3,
                                      option4};
    std::array<std::uint8_t, 14> b{};
    for (int i = 0; i < 12; ++i)
        b[i] = static_cast<std::uint8_t>(0x30 | (nibbles[i] & 0x0F));
    b[12] = kCr;
    b[13] = kLf;
    return b;
}

std::string MeterFrame::frameText() const {
    std::string s = "A";
    const auto b = wireBytes();
    for (int i = 0; i < 12; ++i)
        s += kHex[b[i] & 0x0F];
    s += 'D';
    return s;
}

MeterFrame& MeterFrame::withDigits(std::string_view five) {
    for (int i = 0; i < 5; ++i)
        digits[i] = i < static_cast<int>(five.size()) ? five[i] : '0';
    return *this;
}

MeterFrame& MeterFrame::withCount(int count) {
    int a = std::abs(count);
    for (int i = 4; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + a % 10);
        a /= 10;
    }
    status = static_cast<std::uint8_t>(count < 0 ? (status | 4) : (status & ~4));
    return *this;
}

const std::vector<MeterSimulator::ScenarioInfo>& MeterSimulator::scenarios() {
    static const std::vector<ScenarioInfo> list = {
        {"tour", "every function, range, sign, overload, duty, hold, relative and low-battery case in turn"},
        {"trend", "DC voltage, auto range 22 V, rising and falling between 3 and 19 V once a minute "
                  "(at 4 frames/s) with a little noise"},
        {"dcv", "DC voltage, auto range 2.2 V, a slow random walk"},
        {"acv", "AC voltage, auto range 220 V, a random walk"},
        {"ohm", "resistance, 22 kOhm range, a random walk"},
        {"freq", "frequency, 220 Hz range, a random walk"},
        {"cap", "capacitance, 220 nF range, a random walk"},
        {"temp", "temperature (no decimal point), a random walk"},
        {"current", "DC milliampere, 220 mA range, a random walk"},
        {"overload", "DC voltage that alternates between readings and overload (0L)"},
        {"glitch", "DC voltage with lost, extra and garbled bytes and lost frame ends"},
    };
    return list;
}

bool MeterSimulator::hasScenario(std::string_view name) {
    const auto& l = scenarios();
    return std::any_of(l.begin(), l.end(), [&](const ScenarioInfo& s) { return s.name == name; });
}

MeterSimulator::MeterSimulator(std::string_view scenario, std::uint32_t seed)
    : scenario_(scenario), rng_(seed) {}

MeterFrame MeterSimulator::tourFrame(std::size_t i) {
    return tour()[i % tour().size()];
}

MeterFrame MeterSimulator::walkFrame(std::uint8_t function, std::uint8_t range, std::uint8_t option3, int lo,
                                     int hi) {
    std::uniform_int_distribution<int> step(-40, 40);
    walk_ = std::clamp(walk_ + step(rng_), lo, hi);
    MeterFrame f;
    f.function = function;
    f.range = range;
    f.option3 = option3;
    f.withCount(walk_);
    return f;
}

MeterFrame MeterSimulator::nextFrame() {
    const std::size_t i = index_++;
    if (scenario_ == "trend") {
        // A charge and discharge the chart shows as a wave: 240 frames a cycle.
        std::uniform_int_distribution<int> noise(-15, 15);
        const double phase = 2 * 3.14159265358979 * static_cast<double>(i % 240) / 240.0;
        MeterFrame f;
        f.function = 11;
        f.range = 1;
        f.option3 = kAutoDc;
        f.withCount(11000 + static_cast<int>(8000 * std::sin(phase)) + noise(rng_));
        return f;
    }
    if (scenario_ == "dcv" || scenario_ == "glitch")
        return walkFrame(11, 1, kAutoDc, 0, 21999);
    if (scenario_ == "acv")
        return walkFrame(11, 3, kAutoAc, 0, 21999);
    if (scenario_ == "ohm")
        return walkFrame(3, 2, kAuto, 0, 21999);
    if (scenario_ == "freq")
        return walkFrame(2, 0, kAuto, 0, 21999);
    if (scenario_ == "cap")
        return walkFrame(6, 1, kAuto, 0, 21999);
    if (scenario_ == "temp")
        return walkFrame(4, 0, kAuto, -400, 1300);
    if (scenario_ == "current")
        return walkFrame(15, 1, kAutoDc, -21999, 21999);
    if (scenario_ == "overload") {
        auto f = walkFrame(11, 1, kAutoDc, 0, 21999);
        if (i % 4 == 3)
            f.status |= 1;
        return f;
    }
    return tourFrame(i);
}

std::vector<std::uint8_t> MeterSimulator::nextSerialBytes() {
    const std::size_t i = index_;
    const auto b = nextFrame().wireBytes();
    std::vector<std::uint8_t> out(b.begin(), b.end());
    if (scenario_ == "glitch") {
        // Every few frames, one kind of damage; the frame after it is whole.
        switch (i % 10) {
        case 2: out.erase(out.begin() + 5); break;        // a lost data byte
        case 4: out.insert(out.begin() + 3, 0x37); break; // an extra byte
        case 6: out.erase(out.begin() + 12); break;       // a lost carriage return
        case 8: out[3] = 0x3B; break;                     // a digit that is no decimal digit
        default: break;
        }
    }
    return out;
}

std::vector<std::vector<std::uint8_t>> MeterSimulator::nextHidReports() {
    const auto b = nextFrame().wireBytes();
    std::vector<std::vector<std::uint8_t>> reports;
    for (int part = 0; part < 2; ++part) {
        std::vector<std::uint8_t> r = {0x00, 0xF7};
        r.insert(r.end(), b.begin() + part * 7, b.begin() + part * 7 + 7);
        reports.push_back(std::move(r));
    }
    reports.push_back({0x00, 0xF0, 0, 0, 0, 0, 0, 0, 0});
    return reports;
}

CableReportClock::CableReportClock(MeterSimulator& sim, double framesPerSecond, double reportsPerSecond)
    : sim_(sim),
      slotsPerFrame_(std::max(reportsPerSecond / framesPerSecond, static_cast<double>(kMinSlotsPerFrame))) {}

std::uint64_t CableReportClock::startSlot(std::uint64_t frame) const {
    return static_cast<std::uint64_t>(std::ceil(static_cast<double>(frame) * slotsPerFrame_));
}

const std::vector<std::uint8_t>& CableReportClock::next() {
    const std::uint64_t slot = slot_++;
    if (slot == nextStart_) {
        frame_ = sim_.nextHidReports();
        ++started_;
        // Rounding must never squeeze a frame into fewer slots than its
        // reports and the empty report after them.
        nextStart_ = std::max(startSlot(started_), slot + kMinSlotsPerFrame);
        kind_ = Kind::FirstHalf;
        return frame_[0];
    }
    if (kind_ == Kind::FirstHalf) {
        kind_ = Kind::SecondHalf;
        return frame_[1];
    }
    if (kind_ == Kind::SecondHalf)
        ++ended_;
    kind_ = Kind::Empty;
    return frame_[2];
}

} // namespace voltaro::sim
