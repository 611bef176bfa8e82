#include "decode/MeterPipeline.h"
#include "tools/MeterSimulator.h"
#include "tools/SimRunner.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <unistd.h>

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
