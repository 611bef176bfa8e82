#include "core/decode/FrameAssembler.h"
#include "core/decode/MeterPipeline.h"
#include "tools/MeterSimulator.h"
#include "tools/SimRunner.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

using voltaro::MeterPipeline;
using voltaro::sim::MeterSimulator;
using voltaro::sim::SimOptions;

namespace {

// Decodes `frames` frames of a scenario and collects what the decoder saw.
struct Seen : voltaro::PipelineHooks {
    void frameDone(std::string_view, const voltaro::Reading& r, const voltaro::DisplayState& d) override {
        functions.insert(std::string(r.FuncText));
        units.insert(std::string(r.UnitText));
        for (int e = 0; e < voltaro::kLcdElementCount; ++e)
            if (d.lit.isLit(static_cast<voltaro::LcdElement>(e)))
                lit.insert(static_cast<voltaro::LcdElement>(e));
    }
    std::set<std::string> functions, units;
    std::set<voltaro::LcdElement> lit;
};

} // namespace

TEST(MeterSimulator, FramesLookLikeTheMetersOwn) {
    for (const auto& s : MeterSimulator::scenarios()) {
        if (s.name == "glitch")
            continue;
        MeterSimulator sim(s.name, 3);
        for (int i = 0; i < 200; ++i) {
            const auto bytes = sim.nextSerialBytes();
            ASSERT_EQ(bytes.size(), 14u) << s.name;
            for (int k = 0; k < 12; ++k)
                EXPECT_EQ(bytes[k] >> 4, 3) << s.name;
            EXPECT_EQ(bytes[12], 0x0D);
            EXPECT_EQ(bytes[13], 0x0A);
        }
    }
}

TEST(MeterSimulator, TourWalksThroughEveryFunctionAndFlag) {
    MeterSimulator sim("tour", 1);
    Seen seen;
    MeterPipeline p(&seen);
    const std::uint8_t lf = 0x0A;
    p.DX22KDATA(&lf, 1);
    for (int i = 0; i < 200; ++i) {
        const auto b = sim.nextSerialBytes();
        p.DX22KDATA(b.data(), static_cast<int>(b.size()));
    }
    EXPECT_EQ(p.stats().dropped, 0u);
    for (const char* f :
         {"DC", "AC", "Diode", "Frequency", "Duty", "duty", "Ohm", "Temperature", "Cont", "Cap"})
        EXPECT_TRUE(seen.functions.count(f)) << f;
    for (const char* u : {"V", "mV", "A", "mA", "uA", "Hz", "kHz", "MHz", "*", "K*", "M*", "nF", "uF", "mF",
                          "%", "V)", "?", "&  *"})
        EXPECT_TRUE(seen.units.count(u)) << u;
    using E = voltaro::LcdElement;
    for (E e : {E::LcdFH, E::LCDBATT, E::LCDHold, E::LCDREL, E::LcdAC, E::LcdDc1, E::LcdAuto, E::LcdManu,
                E::LCDBF, E::LcdP0, E::LcdP1, E::LcdP2, E::LcdP3})
        EXPECT_TRUE(seen.lit.count(e)) << voltaro::lcdElementName(e);
}

TEST(MeterSimulator, GlitchScenarioLosesOnlyTheDamagedFrames) {
    MeterSimulator sim("glitch", 1);
    MeterPipeline p;
    const std::uint8_t lf = 0x0A;
    p.DX22KDATA(&lf, 1);
    for (int i = 0; i < 100; ++i) {
        const auto b = sim.nextSerialBytes();
        p.DX22KDATA(b.data(), static_cast<int>(b.size()));
    }
    // Per ten frames: a lost byte, an extra byte, a lost CR (two frames run
    // together) and a digit that is no decimal digit.
    EXPECT_EQ(p.stats().frameEnds, 90u);
    EXPECT_EQ(p.stats().dropped, 40u);
    EXPECT_EQ(p.stats().decoded, 50u);
}

TEST(MeterSimulator, HidReportsCarryTheCountNibble) {
    MeterSimulator sim("dcv", 1);
    const auto reports = sim.nextHidReports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0][0], 0x00); // report ID
    EXPECT_EQ(reports[0][1], 0xF7);
    EXPECT_EQ(reports[0].size(), 9u);
    EXPECT_EQ(reports[1][1], 0xF7);
    EXPECT_EQ(reports[1][7], 0x0D);
    EXPECT_EQ(reports[1][8], 0x0A);
    EXPECT_EQ(reports[2][1], 0xF0);
    EXPECT_EQ(voltaro::sim::hidReportLine({0x00, 0xF7, 0x31}), "00 F7 31\n");
}

TEST(MeterSimulator, RandomWalksRepeatWithTheSameSeed) {
    MeterSimulator a("dcv", 42), b("dcv", 42), c("dcv", 43);
    bool differs = false;
    for (int i = 0; i < 50; ++i) {
        const auto fa = a.nextFrame().frameText();
        EXPECT_EQ(fa, b.nextFrame().frameText());
        differs |= fa != c.nextFrame().frameText();
    }
    EXPECT_TRUE(differs);
}

TEST(SimRunner, CommandLine) {
    std::string error;
    auto o =
        voltaro::sim::parseSimArgs({"--count", "5", "--rate", "max", "--scenario", "ohm", "--hid"}, error);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->count, 5u);
    EXPECT_NEAR(o->rate, 137.14, 0.01);
    EXPECT_EQ(o->scenario, "ohm");
    EXPECT_TRUE(o->hid);
    EXPECT_FALSE(voltaro::sim::parseSimArgs({"--scenario", "nope"}, error));
    EXPECT_NE(error.find("nope"), std::string::npos);
    EXPECT_FALSE(voltaro::sim::parseSimArgs({"--rate", "-1"}, error));
    EXPECT_FALSE(voltaro::sim::parseSimArgs({"--count"}, error));
    EXPECT_FALSE(voltaro::sim::parseSimArgs({"--bogus"}, error));
    o = voltaro::sim::parseSimArgs({"--hid", "--packets", "--report-rate", "250", "--rate", "80"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_TRUE(o->packets);
    EXPECT_EQ(o->reportRate, 250.0);
    EXPECT_EQ(voltaro::sim::parseSimArgs({"--hid"}, error)->reportRate, 1000.0);
    EXPECT_FALSE(voltaro::sim::parseSimArgs({"--packets"}, error));
    EXPECT_NE(error.find("--hid"), std::string::npos);
    EXPECT_FALSE(voltaro::sim::parseSimArgs({"--report-rate", "500"}, error));
    EXPECT_FALSE(voltaro::sim::parseSimArgs({"--hid", "--report-rate", "0"}, error));
    // A frame needs three slots: 1000 reports a second carry at most 333 frames.
    EXPECT_FALSE(voltaro::sim::parseSimArgs({"--hid", "--rate", "334"}, error));
    EXPECT_NE(error.find("333"), std::string::npos) << error;
    EXPECT_TRUE(voltaro::sim::parseSimArgs({"--hid", "--rate", "0", "--report-rate", "1"}, error));
    const auto usage = voltaro::sim::simUsage();
    for (const auto& s : MeterSimulator::scenarios())
        EXPECT_NE(usage.find(s.name), std::string::npos);
}

TEST(SimRunner, WritesTheCountedFramesIntoADescriptor) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    SimOptions o;
    o.count = 3;
    o.rate = 0;
    EXPECT_EQ(voltaro::sim::runSimulator(o, fds[1]), 3u);
    ::close(fds[1]);
    char buf[256];
    const ssize_t n = ::read(fds[0], buf, sizeof buf);
    ::close(fds[0]);
    EXPECT_EQ(n, 42);
}

namespace {

using voltaro::sim::CableReportClock;
using Kind = CableReportClock::Kind;

struct FrameTexts : voltaro::FrameSink {
    void frameEnded(std::string_view text, bool holds) override {
        texts.emplace_back(text);
        broken += holds ? 0 : 1;
    }
    std::vector<std::string> texts;
    int broken = 0;
};

std::vector<std::uint8_t> packetOf(const std::vector<std::uint8_t>& report) {
    return {report.begin() + 1, report.end()}; // the cable numbers no reports
}

} // namespace

TEST(CableReportClock, EachFrameIsTwoDataReportsInARowThenEmptyOnes) {
    struct Pace {
        double frames, reports;
    };
    for (const Pace p : {Pace{4, 1000}, Pace{20, 1000}, Pace{voltaro::sim::kLineLimitFramesPerSecond, 1000},
                         Pace{333, 1000}, Pace{1, 3}, Pace{7, 100}}) {
        SCOPED_TRACE(testing::Message() << p.frames << " frames/s at " << p.reports << " reports/s");
        MeterSimulator sim("dcv", 1);
        CableReportClock clock(sim, p.frames, p.reports);
        constexpr std::uint64_t kSlots = 30000;
        std::vector<Kind> kinds;
        std::vector<std::uint64_t> starts;
        for (std::uint64_t i = 0; i < kSlots; ++i) {
            const auto& r = clock.next();
            ASSERT_EQ(r.size(), 9u);
            ASSERT_EQ(r[0], 0x00);
            const Kind k = clock.lastKind();
            ASSERT_EQ(r[1], k == Kind::Empty ? 0xF0 : 0xF7) << "slot " << i;
            if (k == Kind::FirstHalf)
                starts.push_back(i);
            // The second half follows the first, and an empty report the second.
            const Kind after = i == 0 ? Kind::Empty : kinds.back();
            if (after != Kind::Empty) {
                ASSERT_EQ(k, after == Kind::FirstHalf ? Kind::SecondHalf : Kind::Empty) << "slot " << i;
            }
            kinds.push_back(k);
        }
        EXPECT_EQ(kinds[0], Kind::FirstHalf);
        EXPECT_EQ(clock.framesStarted(), starts.size());
        EXPECT_EQ(clock.framesEnded() + (kinds.back() == Kind::Empty ? 0 : 1), starts.size());
        // Frames keep their rate on average and are never more than a slot off it.
        const double slotsPerFrame = p.reports / p.frames;
        EXPECT_NEAR(static_cast<double>(starts.size()), kSlots / slotsPerFrame, 1.0);
        for (std::size_t k = 1; k < starts.size(); ++k) {
            EXPECT_GE(starts[k] - starts[k - 1], 3u);
            EXPECT_LT(std::abs(static_cast<double>(starts[k]) - k * slotsPerFrame), 1.0) << "frame " << k;
        }
    }
    // At the meter's pace, 8 of every 1000 reports carry data.
    MeterSimulator sim("tour", 1);
    CableReportClock clock(sim, 4, 1000);
    for (int second = 0; second < 5; ++second) {
        int data = 0;
        for (int i = 0; i < 1000; ++i) {
            clock.next();
            data += clock.lastKind() == Kind::Empty ? 0 : 1;
        }
        EXPECT_EQ(data, 8) << "second " << second;
    }
}

TEST(CableReportClock, FramesDecodeAsOnTheSerialLine) {
    for (const auto& [scenario, seed] : {std::pair{"tour", 1u}, std::pair{"dcv", 7u}}) {
        SCOPED_TRACE(scenario);
        constexpr int kFrames = 80;
        FrameTexts serial, usb;
        voltaro::FrameAssembler serialAssembler(serial), usbAssembler(usb);
        MeterSimulator serialSim(scenario, seed), usbSim(scenario, seed);
        const std::uint8_t lf = 0x0A;
        serialAssembler.DX22KDATA(&lf, 1);
        for (int i = 0; i < kFrames; ++i) {
            const auto b = serialSim.nextSerialBytes();
            serialAssembler.DX22KDATA(b.data(), static_cast<int>(b.size()));
        }
        CableReportClock clock(usbSim, 20, 1000);
        while (clock.framesEnded() < kFrames) {
            const auto packet = packetOf(clock.next());
            usbAssembler.HidDataDX22K(0, packet.data(), static_cast<std::uint16_t>(packet.size()));
        }
        EXPECT_EQ(usb.broken, 0);
        ASSERT_EQ(usb.texts.size(), static_cast<std::size_t>(kFrames));
        EXPECT_EQ(usb.texts, serial.texts);
    }
}

TEST(SimRunner, PacketsIntoAFifoReadBackOneReportPerRead) {
    char dir[] = "/tmp/meter-sim-fifo-XXXXXX";
    ASSERT_TRUE(::mkdtemp(dir));
    const std::string fifo = std::string(dir) + "/hidraw0";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto options = [&](double rate, std::uint64_t count) {
        std::string error;
        auto o =
            voltaro::sim::parseSimArgs({"--hid", "--packets", "--out", fifo, "--rate", std::to_string(rate),
                                        "--report-rate", "1000", "--count", std::to_string(count)},
                                       error);
        EXPECT_TRUE(o) << error;
        return *o;
    };
    // Reads what the FIFO holds, one read per packet, until it is empty.
    auto drain = [&](int fd) {
        std::vector<std::vector<std::uint8_t>> packets;
        std::uint8_t buf[64];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0)
            packets.emplace_back(buf, buf + n);
        EXPECT_EQ(n, -1);
        EXPECT_EQ(errno, EAGAIN);
        return packets;
    };
    std::vector<std::vector<std::uint8_t>> expected;
    MeterSimulator sim("tour", 1);
    for (int i = 0; i < 3; ++i)
        for (const auto& r : sim.nextHidReports())
            expected.push_back(packetOf(r));

    {
        // Unpaced: as many reports as today's lines, and opening needs no reader.
        const auto o = options(0, 3);
        std::string error;
        const voltaro::UniqueFd out = voltaro::sim::openSimOutput(o, error);
        ASSERT_TRUE(out) << error;
        EXPECT_EQ(voltaro::sim::runSimulator(o, out.get()), 3u);
        const voltaro::UniqueFd in(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
        EXPECT_EQ(drain(in.get()), expected);
    }
    {
        // Paced: frames 10 slots apart, the run ends with the last frame's empty report.
        const auto o = options(100, 2);
        std::string error;
        const voltaro::UniqueFd out = voltaro::sim::openSimOutput(o, error);
        ASSERT_TRUE(out) << error;
        EXPECT_EQ(voltaro::sim::runSimulator(o, out.get()), 2u);
        const voltaro::UniqueFd in(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
        const auto packets = drain(in.get());
        ASSERT_EQ(packets.size(), 13u);
        for (std::size_t i = 0; i < packets.size(); ++i) {
            const bool data = i % 10 < 2;
            EXPECT_EQ(packets[i], data ? expected[i / 10 * 3 + i % 10] : expected[2]) << "packet " << i;
        }
    }
    {
        // A full FIFO drops the reports that do not fit instead of waiting.
        const auto o = options(0, 5);
        std::string error;
        const voltaro::UniqueFd out = voltaro::sim::openSimOutput(o, error);
        ASSERT_TRUE(out) << error;
        const long page = ::sysconf(_SC_PAGESIZE);
        ASSERT_EQ(::fcntl(out.get(), F_SETPIPE_SZ, 4 * page), 4 * page); // four packets
        EXPECT_EQ(voltaro::sim::runSimulator(o, out.get()), 5u);
        const voltaro::UniqueFd in(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
        const auto packets = drain(in.get());
        EXPECT_EQ(packets, std::vector(expected.begin(), expected.begin() + 4));
    }
    ::unlink(fifo.c_str());
    ::rmdir(dir);
}
