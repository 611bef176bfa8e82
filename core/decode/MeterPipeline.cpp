#include "core/decode/MeterPipeline.h"

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

void MeterPipeline::setLimitTexts(std::string hi, std::string lo) {
    settings_.hiText = std::move(hi);
    settings_.loText = std::move(lo);
    limitTextsChanged();
}

void MeterPipeline::setDecimalSep(std::string sep) {
    decimalSep_ = std::move(sep);
    limitTextsChanged();
}

void MeterPipeline::setAlarmSides(bool high, bool low) {
    settings_.setMaxB = high;
    settings_.setMinB = low;
}

void MeterPipeline::setScale(int fullScaleCount, int barOverloadPos) {
    fullScaleCount_ = fullScaleCount;
    barOverloadPos_ = barOverloadPos;
}

void MeterPipeline::continueAfter(std::string function, std::string unit) {
    evaluator_.LastFuncText = std::move(function);
    evaluator_.LastUnitText = std::move(unit);
}

// Each decoded frame rewrites the limit texts to the current separator, one
// foreign separator per text and frame, until neither text has one left.
void MeterPipeline::relocaliseLimits() {
    const bool hiChanged = ReadingEvaluator::relocaliseLimit(settings_.hiText, decimalSep_);
    const bool loChanged = ReadingEvaluator::relocaliseLimit(settings_.loText, decimalSep_);
    if (hiChanged || loChanged) {
        limitsRead_ = false;
        hooks_->limitTextsRelocalised(settings_);
    } else {
        limitsRelocalised_ = true;
    }
}

bool MeterPipeline::LcdDisplayDX22K(std::string_view frameText) {
    if (decimalSepSource_) {
        std::string sep = decimalSepSource_();
        if (sep != decimalSep_)
            setDecimalSep(std::move(sep));
    }
    const MeasurementDecoder::Context ctx{decimalSep_, fullScaleCount_, barOverloadPos_};
    // Decode before anything is shown, so a frame that cannot be decoded is
    // dropped whole and leaves every display and counter as it was.
    if (!MeasurementDecoder::decode(frameText, ctx, decoded_)) {
        ++stats_.dropped;
        hooks_->frameDropped(frameText);
        return false;
    }
    ++stats_.decoded;

    if (!limitsRelocalised_)
        relocaliseLimits();
    hooks_->linkActivity();

    reading_.ValueText = decoded_.ValueText;
    reading_.FuncText = decoded_.FuncText;
    reading_.UnitText = decoded_.UnitText;
    reading_.RangeText = decoded_.RangeText;
    reading_.Count = decoded_.Count;
    reading_.ScaledValue = decoded_.ScaledValue;
    reading_.PointIndex = decoded_.PointIndex;
    display_ = decoded_.display;
    hooks_->setChartYRange(decoded_.chartYMax, decoded_.chartYMin);

    if (ReadingEvaluator::alarm(reading_.Count, settings_))
        hooks_->alarmBeep();
    const auto change = evaluator_.updateMinMax(reading_, settings_, fullScaleCount_);
    if (change.changed) {
        hooks_->showSeries(change.seriesIndex);
        if (change.runNew)
            hooks_->chartNew();
    }
    hooks_->showDisplay(display_, evaluator_, reading_);

    // The limits are read again only when their texts or the separator change.
    if (!limitsRead_) {
        limits_ = ReadingEvaluator::judgeLimits(settings_, decimalSep_);
        limitsRead_ = true;
    }
    const Verdict verdict =
        ReadingEvaluator::judge(reading_, frameText, decoded_.overloadFlag, limits_, decimalSep_);
    hooks_->showJudgement(verdict, reading_);
    hooks_->recordReading(reading_, frameText);
    hooks_->showBar(display_.barPosition);
    hooks_->frameDone(frameText, reading_, display_);
    return true;
}

} // namespace voltaro
