#pragma once

#include "decode/FrameAssembler.h"
#include "decode/MeasurementDecoder.h"
#include "decode/ReadingEvaluator.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

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

    std::string DecimalSep = ".";
    int FullScaleCount = 22000;
    int BarOverloadPos = 22;
    EvaluationSettings settings;
    ReadingEvaluator evaluator;
    Reading reading;
    DisplayState display;

private:
    void frameEnded(std::string_view frameText, bool framingHolds) override;

    PipelineHooks noHooks_;
    PipelineHooks* hooks_;
    FrameAssembler assembler_{*this};
    std::function<std::string()> decimalSepSource_;
    DecodedFrame decoded_;
    Stats stats_;
};

} // namespace voltaro
