#pragma once

#include "core/decode/FrameAssembler.h"
#include "core/decode/MeasurementDecoder.h"
#include "core/decode/ReadingEvaluator.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace voltaro {

// What one decoded frame calls out to, in the order the calls are made. The
// window implements these to drive its widgets, the chart and the table; the
// command-line tools implement what they need.
class PipelineHooks {
public:
    virtual ~PipelineHooks() = default;
    // A limit text was rewritten to the current decimal separator.
    virtual void limitTextsRelocalised(const EvaluationSettings&) {}
    // Once per decoded frame: flip the link blink and reset the link watchdog.
    virtual void linkActivity() {}
    virtual void setChartYRange(double /*max*/, double /*min*/) {}
    virtual void alarmBeep() {}
    virtual void showSeries(int /*index*/) {}
    virtual void chartNew() {}
    // The panel's elements and digits, and the min/max texts.
    virtual void showDisplay(const DisplayState&, const ReadingEvaluator&, const Reading&) {}
    virtual void showJudgement(Verdict, const Reading&) {}
    // The reading, judged and normalised, is offered to the table.
    virtual void recordReading(const Reading&, std::string_view /*frameText*/) {}
    virtual void showBar(int /*position*/) {}
    // Every frame end the assembly sees, whether it passed its framing or not.
    virtual void frameEnded(std::string_view /*frameText*/) {}
    // A frame that passed its framing but could not be decoded; nothing of it was applied.
    virtual void frameDropped(std::string_view /*frameText*/) {}
    // Last call for a frame that was decoded.
    virtual void frameDone(std::string_view /*frameText*/, const Reading&, const DisplayState&) {}
};

// The whole road of a frame: assembly, decode and evaluation. The window,
// frame-replay and the benchmarks all run it.
class MeterPipeline : private FrameSink {
public:
    struct Stats {
        std::uint64_t frameEnds = 0;
        std::uint64_t decoded = 0;
        std::uint64_t dropped = 0; // failed the framing test or the decode
    };

    explicit MeterPipeline(PipelineHooks* hooks = nullptr) : hooks_(hooks ? hooks : &noHooks_) {}
    MeterPipeline(const MeterPipeline&) = delete;
    MeterPipeline& operator=(const MeterPipeline&) = delete;

    void DX22KDATA(const std::uint8_t* data, int size) { assembler_.DX22KDATA(data, size); }
    void HidDataDX22K(std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size) {
        assembler_.HidDataDX22K(reportId, data, size);
    }

    // Decodes and evaluates one frame string; returns false when it was dropped.
    bool LcdDisplayDX22K(std::string_view frameText);

    // Asked at the start of every decode for the user's current separator;
    // when unset, `DecimalSep` stays as it was set.
    void setDecimalSepSource(std::function<std::string()> source) { decimalSepSource_ = std::move(source); }

    FrameAssembler& assembler() { return assembler_; }
    const Stats& stats() const { return stats_; }

    // The evaluation's settings have this pipeline as their one owner: the
    // controls that show them, voltaro-log's options and a recovery change
    // them through these.
    const EvaluationSettings& settings() const { return settings_; }
    void setLimitTexts(std::string hi, std::string lo);
    void setAlarmSides(bool high, bool low); // "Set Max", "Set Min"
    void setAlarmHigh(float count) { settings_.alarmHigh = count; }
    void setAlarmLow(float count) { settings_.alarmLow = count; }
    void setContinueRecord(bool on) { settings_.multirange = on; }
    void setFill(bool on) { settings_.btFill = on; }

    // The separator values are written with; see also setDecimalSepSource.
    const std::string& decimalSep() const { return decimalSep_; }
    void setDecimalSep(std::string sep);
    // The meter's full scale in counts and the bar's position for an overload.
    void setScale(int fullScaleCount, int barOverloadPos);
    int fullScaleCount() const { return fullScaleCount_; }

    // The next reading of this function and unit goes on with the chart
    // instead of starting it again, as after the rows a recovery put back.
    void continueAfter(std::string function, std::string unit);

    const ReadingEvaluator& evaluator() const { return evaluator_; }
    // The last decoded reading and what the panel shows for it.
    const Reading& reading() const { return reading_; }
    const DisplayState& display() const { return display_; }

private:
    void frameEnded(std::string_view frameText, bool framingHolds) override;
    void limitTextsChanged() { limitsRead_ = limitsRelocalised_ = false; }
    void relocaliseLimits();

    PipelineHooks noHooks_;
    PipelineHooks* hooks_;
    FrameAssembler assembler_{*this};
    std::function<std::string()> decimalSepSource_;
    DecodedFrame decoded_;
    Stats stats_;
    std::string decimalSep_ = ".";
    int fullScaleCount_ = 22000;
    int barOverloadPos_ = 22;
    EvaluationSettings settings_;
    // The judgement limits as numbers. Both flags drop whenever a limit text
    // or the separator changes: until then the texts need no new
    // relocalisation once one found nothing to do, and the numbers read stay
    // those of the texts.
    ReadingEvaluator::JudgeLimits limits_;
    bool limitsRead_ = false;
    bool limitsRelocalised_ = false;
    ReadingEvaluator evaluator_;
    Reading reading_;
    DisplayState display_;
};

} // namespace voltaro
