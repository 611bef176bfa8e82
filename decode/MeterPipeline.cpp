#include "decode/MeterPipeline.h"

namespace voltaro {

void MeterPipeline::frameEnded(std::string_view frameText, bool framingHolds) {
    ++stats_.frameEnds;
    hooks_->frameEnded(frameText);
    if (!framingHolds) {
        ++stats_.dropped;
        return;
    }
    LcdDisplayDX22K(frameText);
}

bool MeterPipeline::LcdDisplayDX22K(std::string_view frameText) {
    if (decimalSepSource_)
        DecimalSep = decimalSepSource_();
    const MeasurementDecoder::Context ctx{DecimalSep, FullScaleCount, BarOverloadPos};
    // Decode before anything is shown, so a frame that cannot be decoded is
    // dropped whole and leaves every display and counter as it was.
    if (!MeasurementDecoder::decode(frameText, ctx, decoded_)) {
        ++stats_.dropped;
        hooks_->frameDropped(frameText);
        return false;
    }
    ++stats_.decoded;

    const bool hiChanged = ReadingEvaluator::relocaliseLimit(settings.hiText, DecimalSep);
    const bool loChanged = ReadingEvaluator::relocaliseLimit(settings.loText, DecimalSep);
    if (hiChanged || loChanged)
        hooks_->limitTextsRelocalised(settings);
    hooks_->linkActivity();

    reading.ValueText = decoded_.ValueText;
    reading.FuncText = decoded_.FuncText;
    reading.UnitText = decoded_.UnitText;
    reading.RangeText = decoded_.RangeText;
    reading.Count = decoded_.Count;
    reading.ScaledValue = decoded_.ScaledValue;
    reading.PointIndex = decoded_.PointIndex;
    display = decoded_.display;
    hooks_->setChartYRange(decoded_.chartYMax, decoded_.chartYMin);

    if (ReadingEvaluator::alarm(reading.Count, settings))
        hooks_->alarmBeep();
    const auto change = evaluator.updateMinMax(reading, settings, FullScaleCount);
    if (change.changed) {
        hooks_->showSeries(change.seriesIndex);
        if (change.runNew)
            hooks_->chartNew();
    }
    hooks_->showDisplay(display, evaluator, reading);

    const Verdict verdict =
        ReadingEvaluator::judge(reading, frameText, decoded_.overloadFlag, settings, DecimalSep);
    hooks_->showJudgement(verdict, reading);
    hooks_->recordReading(reading, frameText);
    hooks_->showBar(display.barPosition);
    hooks_->frameDone(frameText, reading, display);
    return true;
}

} // namespace voltaro
