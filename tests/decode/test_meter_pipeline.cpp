#include "core/decode/MeterPipeline.h"
#include "tools/MeterSimulator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using voltaro::DisplayState;
using voltaro::EvaluationSettings;
using voltaro::MeterPipeline;
using voltaro::PipelineHooks;
using voltaro::Reading;
using voltaro::ReadingEvaluator;
using voltaro::Verdict;
using voltaro::sim::MeterFrame;

namespace {

// Records the names of the calls a frame makes, in order.
class CallLog : public PipelineHooks {
public:
    void limitTextsRelocalised(const EvaluationSettings&) override { calls.push_back("relocalise"); }
    void linkActivity() override { calls.push_back("blink"); }
    void setChartYRange(double max, double min) override {
        calls.push_back("yrange " + std::to_string(int(max)) + " " + std::to_string(int(min)));
    }
    void alarmBeep() override { calls.push_back("beep"); }
    void showSeries(int index) override { calls.push_back("series " + std::to_string(index)); }
    void chartNew() override { calls.push_back("new"); }
    void showDisplay(const DisplayState&, const ReadingEvaluator&, const Reading&) override {
        calls.push_back("display");
    }
    void showJudgement(Verdict v, const Reading&) override {
        calls.push_back(v == Verdict::Pass ? "pass" : v == Verdict::Fail ? "fail" : "unjudged");
    }
    void recordReading(const Reading& r, std::string_view) override {
        calls.push_back("record " + r.ValueText);
        recorded.push_back(r);
    }
    void showBar(int position) override { calls.push_back("bar " + std::to_string(position)); }
    void frameDropped(std::string_view text) override { dropped.emplace_back(text); }

    std::vector<std::string> calls;
    std::vector<Reading> recorded;
    std::vector<std::string> dropped;
};

MeterFrame volts(int count, std::uint8_t range = 1) {
    MeterFrame f;
    f.function = 11;
    f.range = range;
    f.option3 = 10;
    f.withCount(count);
    return f;
}

void send(MeterPipeline& p, const MeterFrame& f, bool leadingLineFeed = false) {
    std::vector<std::uint8_t> bytes;
    if (leadingLineFeed)
        bytes.push_back(0x0A);
    const auto w = f.wireBytes();
    bytes.insert(bytes.end(), w.begin(), w.end());
    p.DX22KDATA(bytes.data(), static_cast<int>(bytes.size()));
}

} // namespace

TEST(MeterPipeline, RunsTheStepsOfOneFrameInOrder) {
    CallLog log;
    MeterPipeline p(&log);
    p.setAlarmSides(true, false);
    p.setAlarmHigh(1000);
    send(p, volts(1234), true);
    const std::vector<std::string> expected = {"blink",   "yrange 22 -22", "beep",         "series 0", "new",
                                               "display", "pass",          "record 1.234", "bar 1"};
    EXPECT_EQ(log.calls, expected);
    EXPECT_EQ(p.stats().frameEnds, 1u);
    EXPECT_EQ(p.stats().decoded, 1u);

    // The same function, unit and point again: no change, so no series or New call.
    log.calls.clear();
    send(p, volts(999));
    EXPECT_EQ(log.calls, (std::vector<std::string>{"blink", "yrange 22 -22", "display", "pass",
                                                   "record 0.999", "bar 1"}));
}

TEST(MeterPipeline, UndecodableFrameIsDroppedWholeAndReceptionGoesOn) {
    CallLog log;
    MeterPipeline p(&log);
    send(p, volts(1234), true);
    const Reading before = p.reading();
    const DisplayState shownBefore = p.display();
    log.calls.clear();

    MeterFrame bad = volts(1234);
    bad.digits[2] = 'B';
    send(p, bad);
    EXPECT_TRUE(log.calls.empty()); // not even the link blink
    ASSERT_EQ(log.dropped.size(), 1u);
    EXPECT_EQ(log.dropped[0], bad.frameText());
    EXPECT_EQ(p.reading().ValueText, before.ValueText);
    EXPECT_EQ(p.display().lit, shownBefore.lit);
    EXPECT_EQ(p.stats().dropped, 1u);
    EXPECT_EQ(p.assembler().LowNibbles(), "A"); // the line feed after the dropped frame starts the next

    send(p, volts(2222));
    ASSERT_EQ(log.recorded.size(), 2u);
    EXPECT_EQ(log.recorded.back().ValueText, "2.222");
    EXPECT_EQ(p.stats().frameEnds, 3u);
    EXPECT_EQ(p.stats().decoded, 2u);
}

TEST(MeterPipeline, FramingFailuresCountAsDropped) {
    MeterPipeline p;
    send(p, volts(1)); // no line feed before it: the stream started mid-frame
    send(p, volts(2));
    EXPECT_EQ(p.stats().frameEnds, 2u);
    EXPECT_EQ(p.stats().decoded, 1u);
    EXPECT_EQ(p.stats().dropped, 1u);
}

TEST(MeterPipeline, LimitTextsFollowTheDecimalSeparator) {
    CallLog log;
    MeterPipeline p(&log);
    std::string sep = ",";
    p.setDecimalSepSource([&] { return sep; });
    p.setLimitTexts("1.5", "0.5");
    send(p, volts(1234), true); // 1,234 with "," as separator
    EXPECT_EQ(p.settings().hiText, "1,5");
    EXPECT_EQ(p.settings().loText, "0,5");
    EXPECT_EQ(log.calls.front(), "relocalise");
    ASSERT_EQ(log.recorded.size(), 1u);
    EXPECT_EQ(log.recorded[0].ValueText, "1,234");
    EXPECT_EQ(log.recorded[0].JudgeText, "Pass");

    sep = ".";
    send(p, volts(1600));
    EXPECT_EQ(p.settings().hiText, "1.5");
    EXPECT_EQ(log.recorded.back().ValueText, "1.6");
    EXPECT_EQ(log.recorded.back().JudgeText, "Fail");
}

TEST(MeterPipeline, BadLimitTextLosesNoFrame) {
    CallLog log;
    MeterPipeline p(&log);
    p.setLimitTexts("1x", p.settings().loText);
    send(p, volts(1234), true);
    send(p, volts(1300));
    EXPECT_EQ(log.recorded.size(), 2u);
    EXPECT_EQ(p.stats().dropped, 0u);
}

TEST(MeterPipeline, UsbReportsReachTheSamePath) {
    CallLog log;
    MeterPipeline p(&log);
    voltaro::sim::MeterSimulator sim("dcv", 7);
    for (int i = 0; i < 5; ++i)
        for (const auto& r : sim.nextHidReports())
            p.HidDataDX22K(r[0], r.data() + 1, static_cast<std::uint16_t>(r.size() - 1));
    EXPECT_EQ(p.stats().decoded, 5u);
    EXPECT_EQ(log.recorded.size(), 5u);
}
