#include "core/decode/MeterPipeline.h"
#include "core/decode/ReadingEvaluator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace voltaro;

namespace {

Reading reading(double count, std::string value, std::string_view unit = "V", std::string_view func = "",
                int point = 1) {
    Reading r;
    r.Count = count;
    r.ValueText = std::move(value);
    r.UnitText = unit;
    r.FuncText = func;
    r.PointIndex = point;
    return r;
}

// Records the pipeline's calls by name, collapsing repeats of the same call.
struct CallLog : PipelineHooks {
    std::vector<std::string> calls;
    std::vector<Reading> recorded;

    void add(std::string name) {
        if (calls.empty() || calls.back() != name)
            calls.push_back(std::move(name));
    }
    std::string take() {
        std::string s;
        for (const auto& c : calls)
            s += (s.empty() ? "" : " ") + c;
        calls.clear();
        return s;
    }
    void limitTextsRelocalised(const EvaluationSettings&) override { add("relocalise"); }
    void linkActivity() override { add("link"); }
    void setChartYRange(double, double) override { add("chart"); }
    void alarmBeep() override { add("beep"); }
    void showSeries(int index) override { add("series" + std::to_string(index)); }
    void chartNew() override { add("new"); }
    void showDisplay(const DisplayState&, const ReadingEvaluator&, const Reading&) override {
        add("display");
    }
    void showJudgement(Verdict, const Reading&) override { add("judge"); }
    void recordReading(const Reading& r, std::string_view) override {
        add("record");
        recorded.push_back(r);
    }
    void showBar(int) override { add("bar"); }
    void frameDropped(std::string_view) override { add("dropped"); }
    void frameDone(std::string_view, const Reading&, const DisplayState&) override { add("done"); }
};

} // namespace

TEST(ReadingEvaluator, RelocaliseLimitReplacesOnlyTheFirstForeignSeparator) {
    const struct {
        const char *text, *sep, *expected;
        bool changed;
    } cases[] = {
        {"1,5", ".", "1.5", true},      {"1.5", ",", "1,5", true},      {"1,5,5", ".", "1.5,5", true},
        {"-0.25", ".", "-0.25", false}, {"22000", ",", "22000", false}, {"", ".", "", false},
        {"1.5", "'", "1'5", true},      {"1.5", "", "1.5", false},      {"1,5", "", "1,5", false}};
    for (const auto& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(ReadingEvaluator::relocaliseLimit(text, c.sep), c.changed) << c.text << " / " << c.sep;
        EXPECT_EQ(text, c.expected) << c.text << " / " << c.sep;
    }
}

TEST(ReadingEvaluator, AlarmComparesRawCountsStrictly) {
    const struct {
        double count;
        bool setMaxB, setMinB;
        bool beeps;
    } cases[] = {{20000, true, false, false}, {20001, true, false, true}, {20001, false, true, false},
                 {-100, false, true, false},  {-101, false, true, true},  {-101, true, false, false},
                 {0, true, true, false},      {-22000, true, true, true}, {21999, false, false, false}};
    for (const auto& c : cases) {
        EvaluationSettings s;
        s.setMaxB = c.setMaxB;
        s.setMinB = c.setMinB;
        s.alarmHigh = 20000;
        s.alarmLow = -100;
        EXPECT_EQ(ReadingEvaluator::alarm(c.count, s), c.beeps) << c.count << " " << c.setMaxB << c.setMinB;
    }
    EXPECT_FALSE(ReadingEvaluator::alarm(22001, EvaluationSettings{})); // both sides off by default
}

TEST(ReadingEvaluator, MinMaxRestartsOnAChangeWhichEntersNeither) {
    ReadingEvaluator ev;
    const EvaluationSettings s;
    auto c = ev.updateMinMax(reading(1234, "01.234"), s, 22000);
    EXPECT_TRUE(c.changed); // the start unit kNoUnitYet never matches
    EXPECT_FALSE(c.runNew);
    EXPECT_EQ(ev.MaxCount, -22000);
    EXPECT_EQ(ev.MinCount, 22000);
    EXPECT_EQ(ev.MaxValueText, "");
    EXPECT_EQ(ev.LastUnitText, "V");
    EXPECT_EQ(ev.LastPointIndex, 1);

    const struct {
        double count;
        const char* value;
        double max, min;
        const char *maxText, *minText;
    } steps[] = {
        {1500, "01.500", 1500, 1500, "01.500", "01.500"}, {1000, "01.000", 1500, 1000, "01.500", "01.000"},
        {1500, "1.5", 1500, 1000, "1.5", "01.000"},       {1000, "1", 1500, 1000, "1.5", "1"},
        {-3, "-00.003", 1500, -3, "1.5", "-00.003"},      {1499, "01.499", 1500, -3, "1.5", "-00.003"}};
    for (const auto& st : steps) {
        EXPECT_FALSE(ev.updateMinMax(reading(st.count, st.value), s, 22000).changed) << st.value;
        EXPECT_EQ(ev.MaxCount, st.max) << st.value;
        EXPECT_EQ(ev.MinCount, st.min) << st.value;
        EXPECT_EQ(ev.MaxValueText, st.maxText) << st.value;
        EXPECT_EQ(ev.MinValueText, st.minText) << st.value;
    }

    c = ev.updateMinMax(reading(30000, "300.00", "V", "", 2), s, 40000);
    EXPECT_TRUE(c.changed);
    EXPECT_EQ(ev.MaxCount, -40000);
    EXPECT_EQ(ev.MinCount, 40000);
    EXPECT_EQ(ev.MaxValueText, "1.5"); // texts wait for the next reading
    EXPECT_EQ(ev.LastPointIndex, 2);
    ev.updateMinMax(reading(7, "000.07", "V", "", 2), s, 40000);
    EXPECT_EQ(ev.MaxCount, 7);
    EXPECT_EQ(ev.MinCount, 7);
    EXPECT_EQ(ev.MinValueText, "000.07");
}

TEST(ReadingEvaluator, ChangeOfFunctionUnitOrPointAndTheNewAction) {
    const struct {
        const char *unit, *func;
        int point;
        bool multirange, btFill;
        bool changed, runNew;
    } cases[] = {{"V", "DC", 1, true, true, false, false}, {"V", "DC", 1, false, true, false, false},
                 {"mV", "DC", 1, true, true, true, false}, {"mV", "DC", 1, false, false, true, true},
                 {"V", "DC", 2, true, false, true, false}, {"V", "DC", 2, false, true, true, true},
                 {"V", "AC", 1, true, true, true, true},   {"V", "AC", 1, false, true, true, true},
                 {"V", "dc", 1, true, true, true, true},   {"v", "DC", 1, true, true, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.unit) + " " + c.func + " " + std::to_string(c.point) +
                     (c.multirange ? " multirange" : "") + (c.btFill ? " fill" : ""));
        EvaluationSettings s;
        s.multirange = c.multirange;
        s.btFill = c.btFill;
        ReadingEvaluator ev;
        ev.updateMinMax(reading(100, "00.100", "V", "DC", 1), s, 22000);
        ev.updateMinMax(reading(200, "00.200", "V", "DC", 1), s, 22000);
        const auto ch = ev.updateMinMax(reading(150, "00.150", c.unit, c.func, c.point), s, 22000);
        EXPECT_EQ(ch.changed, c.changed);
        EXPECT_EQ(ch.runNew, c.runNew);
        if (c.changed) {
            EXPECT_EQ(ch.seriesIndex, c.btFill ? 0 : 1);
        }
        EXPECT_EQ(ev.MaxCount, c.changed ? -22000 : 200);
        EXPECT_EQ(ev.MinCount, c.changed ? 22000 : 150);
        EXPECT_EQ(ev.LastUnitText, c.unit);
        EXPECT_EQ(ev.LastFuncText, c.func);
    }
}

TEST(ReadingEvaluator, JudgementAndNormalisation) {
    const char* plain = "A101234B000A0D";
    const struct {
        const char *value, *frame;
        bool overload;
        const char *hi, *lo, *sep, *previous;
        Verdict verdict;
        const char* after;
    } cases[] = {
        {"01.000", plain, false, "2", "1", ".", "", Verdict::Pass, "1"},
        {"02.000", plain, false, "2", "1", ".", "", Verdict::Pass, "2"},
        {"00.999", plain, false, "2", "1", ".", "Pass", Verdict::Fail, "0.999"},
        {"02.001", plain, false, "2", "1", ".", "Pass", Verdict::Fail, "2.001"},
        {"-01.234", plain, false, "-1.2340", "-1.234", ".", "", Verdict::Pass, "-1.234"},
        {"220.00", plain, false, "22000", "-22000", ".", "Fail", Verdict::Pass, "220"},
        {"-000.00", plain, false, "22000", "-22000", ".", "", Verdict::Pass, "0"},
        {"0.L", "A101234B100A0D", true, "22000", "-22000", ".", "Pass", Verdict::Fail, "0.L"},
        {"01.234", "A101234B100A0D", true, "22000", "-22000", ".", "", Verdict::Pass, "01.234"},
        {"-0L.", "A312345B500A0D", true, "22000", "-22000", ".", "Pass", Verdict::Fail, "-0L."},
        {"0L.", "A112345B008A0D", false, "22000", "-22000", ".", "Pass", Verdict::Fail, "0L."},
        {"225.80", "A222580B000A0D", false, "300", "0", ".", "Pass", Verdict::Fail, "225.8"},
        {"12.5", "A112345B80890D", false, "300", "0", ".", "Pass", Verdict::Fail, "12.5"},
        // Partial limit inputs: no judgement, the previous verdict stays.
        {"01.000", plain, false, "", "0", ".", "Fail", Verdict::Unchanged, "1"},
        {"05.000", plain, false, "-", "6", ".", "Pass", Verdict::Unchanged, "5"},
        {"05.000", plain, false, "9", "+", ".", "Fail", Verdict::Unchanged, "5"},
        {"05.000", plain, false, "-+", "0", ".", "Fail", Verdict::Unchanged, "5"},
        {"05.000", plain, false, "9", "+-", ".", "", Verdict::Unchanged, "5"},
        {"0.L", "A101234B100A0D", true, "-", "0", ".", "Pass", Verdict::Fail, "0.L"},
        {"225.80", "A222580B000A0D", false, "", "0", ".", "Pass", Verdict::Fail, "225.8"},
        // Limits that are no number skip the comparison without an error.
        {"05.000", plain, false, "abc", "0", ".", "Fail", Verdict::Unchanged, "5"},
        {"05.000", plain, false, "9", "1..2", ".", "Pass", Verdict::Unchanged, "5"},
        {"05.000", plain, false, "1,5", "0", ".", "Pass", Verdict::Unchanged, "5"},
        {"12.5", "A112345B80890D", false, "x", "0", ".", "Pass", Verdict::Fail, "12.5"},
        // The user's separator.
        {"01,234", plain, false, "2", "1,2", ",", "", Verdict::Pass, "1,234"},
        {"01,234", plain, false, "1,2", "0", ",", "", Verdict::Fail, "1,234"},
        {"01,234", plain, false, "1.2", "0", ",", "Pass", Verdict::Unchanged, "1,234"},
        {"0,L", "A101234B100A0D", true, "2", "0", ",", "Pass", Verdict::Fail, "0,L"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.value) + " in [" + c.lo + ", " + c.hi + "] " + c.frame);
        EvaluationSettings s;
        s.hiText = c.hi;
        s.loText = c.lo;
        Reading r = reading(0, c.value);
        r.JudgeText = c.previous;
        EXPECT_EQ(ReadingEvaluator::judge(r, c.frame, c.overload, s, c.sep), c.verdict);
        EXPECT_EQ(r.JudgeText, c.verdict == Verdict::Pass   ? "Pass"
                               : c.verdict == Verdict::Fail ? "Fail"
                                                            : c.previous);
        EXPECT_EQ(r.ValueText, c.after);
    }
}

TEST(ReadingEvaluatorPipeline, OneFrameRunsTheStepsInOrder) {
    CallLog log;
    MeterPipeline p(&log);
    p.setLimitTexts("1,5", p.settings().loText);
    ASSERT_TRUE(p.LcdDisplayDX22K("A101234B000A0D"));
    // The first frame is a change, and its function text differs from the empty start text.
    EXPECT_EQ(log.take(), "relocalise link chart series0 new display judge record bar done");
    EXPECT_EQ(p.settings().hiText, "1.5");
    ASSERT_EQ(log.recorded.size(), 1u);
    EXPECT_EQ(log.recorded[0].ValueText, "1.234");
    EXPECT_EQ(log.recorded[0].JudgeText, "Pass");
    EXPECT_EQ(log.recorded[0].FuncText, "DC");
    EXPECT_EQ(p.evaluator().LastUnitText, "V");

    ASSERT_TRUE(p.LcdDisplayDX22K("A101600B000A0D"));
    EXPECT_EQ(log.take(), "link chart display judge record bar done");
    EXPECT_EQ(p.evaluator().MaxValueText, "01.600"); // kept as displayed, before the judgement rewrites it
    EXPECT_EQ(log.recorded[1].JudgeText, "Fail");
}

TEST(ReadingEvaluatorPipeline, RangeSwitchRestartsTheBand) {
    const struct {
        bool multirange, btFill;
        const char* calls;
    } cases[] = {{true, true, "link chart series0 display"},
                 {false, true, "link chart series0 new display"},
                 {false, false, "link chart series1 new display"}};
    for (const auto& c : cases) {
        CallLog log;
        MeterPipeline p(&log);
        p.setContinueRecord(c.multirange);
        p.setFill(c.btFill);
        for (const char* f : {"A101234B000A0D", "A102000B000A0D", "A101000B000A0D"})
            ASSERT_TRUE(p.LcdDisplayDX22K(f));
        EXPECT_EQ(p.evaluator().MaxCount, 2000);
        EXPECT_EQ(p.evaluator().MinCount, 1000);
        log.take();
        ASSERT_TRUE(p.LcdDisplayDX22K("A201234B000A0D")); // voltage range 2: the point moves
        EXPECT_EQ(log.take().substr(0, std::string(c.calls).size()), c.calls);
        EXPECT_EQ(p.evaluator().MaxCount, -22000);
        EXPECT_EQ(p.evaluator().MinCount, 22000);
    }
}

TEST(ReadingEvaluatorPipeline, VerdictsAcrossFrames) {
    CallLog log;
    MeterPipeline p(&log);
    const struct {
        const char* frame;
        const char* hi;
        const char* judge;
        const char* value;
    } steps[] = {{"A101234B000A0D", "22000", "Pass", "1.234"}, {"A101234B000A0D", "-", "Pass", "1.234"},
                 {"A101234B000A0D", "1", "Fail", "1.234"},     {"A100500B000A0D", "", "Fail", "0.5"},
                 {"A100500B000A0D", "1", "Pass", "0.5"},       {"A100500B100A0D", "1", "Fail", "0.L"},
                 {"A222580B000A0D", "300", "Fail", "225.8"},   {"A100500B000A0D", "1", "Pass", "0.5"}};
    for (const auto& st : steps) {
        p.setLimitTexts(st.hi, "0");
        ASSERT_TRUE(p.LcdDisplayDX22K(st.frame)) << st.frame;
        EXPECT_EQ(log.recorded.back().JudgeText, st.judge) << st.frame << " hi " << st.hi;
        EXPECT_EQ(log.recorded.back().ValueText, st.value) << st.frame;
    }
}

TEST(ReadingEvaluatorPipeline, AlarmBeepsAboveTheBandWhateverThePoint) {
    CallLog log;
    MeterPipeline p(&log);
    p.setAlarmSides(true, false);
    p.setAlarmHigh(20000);
    const struct {
        const char* frame;
        bool beep;
    } steps[] = {{"A020000B000A0D", false},
                 {"A020001B000A0D", true},
                 {"A320001B000A0D", true},
                 {"A320000B000A0D", false},
                 {"A120001B400A0D", false}};
    for (const auto& st : steps) {
        ASSERT_TRUE(p.LcdDisplayDX22K(st.frame));
        EXPECT_EQ(log.take().find("beep") != std::string::npos, st.beep) << st.frame;
    }
}

TEST(ReadingEvaluatorPipeline, CommaSeparatorFromTheUser) {
    CallLog log;
    MeterPipeline p(&log);
    p.setDecimalSepSource([] { return std::string(","); });
    p.setLimitTexts("1.5", p.settings().loText);
    ASSERT_TRUE(p.LcdDisplayDX22K("A101234B000A0D"));
    EXPECT_EQ(p.settings().hiText, "1,5");
    EXPECT_EQ(log.recorded.back().ValueText, "1,234");
    EXPECT_EQ(log.recorded.back().JudgeText, "Pass");
    EXPECT_EQ(p.evaluator().MinValueText, "");
    ASSERT_TRUE(p.LcdDisplayDX22K("A101600B000A0D"));
    EXPECT_EQ(log.recorded.back().JudgeText, "Fail");
    EXPECT_EQ(p.evaluator().MaxValueText, "01,600");
}

TEST(ReadingEvaluatorPipeline, DroppedFrameLeavesTheEvaluationAlone) {
    CallLog log;
    MeterPipeline p(&log);
    ASSERT_TRUE(p.LcdDisplayDX22K("A101234B000A0D"));
    ASSERT_TRUE(p.LcdDisplayDX22K("A101500B000A0D"));
    log.take();
    EXPECT_FALSE(p.LcdDisplayDX22K("A2012A4F000E0D"));
    const std::string calls = log.take();
    EXPECT_NE(calls.find("dropped"), std::string::npos);
    for (const char* step : {"series", "judge", "record", "bar", "done"})
        EXPECT_EQ(calls.find(step), std::string::npos) << step;
    EXPECT_EQ(p.evaluator().LastPointIndex, 1);
    EXPECT_EQ(p.evaluator().MaxCount, 1500);
    EXPECT_EQ(log.recorded.size(), 2u);

    ASSERT_TRUE(p.LcdDisplayDX22K("A101600B000A0D"));
    EXPECT_EQ(log.take(), "link chart display judge record bar done");
    EXPECT_EQ(p.evaluator().MaxValueText, "01.600");
}
