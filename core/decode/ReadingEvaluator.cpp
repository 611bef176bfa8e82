#include "core/decode/ReadingEvaluator.h"

#include "core/decode/NumberFormat.h"

namespace voltaro {

bool ReadingEvaluator::relocaliseLimit(std::string& text, std::string_view decimalSep) {
    // Without a known separator there is nothing to convert to; leave the text alone.
    if (decimalSep.empty())
        return false;
    const std::string_view foreign = decimalSep == "." ? "," : ".";
    const auto at = text.find(foreign);
    if (at == std::string::npos || decimalSep == foreign)
        return false;
    text.replace(at, foreign.size(), decimalSep);
    return true;
}

bool ReadingEvaluator::alarm(double count, const EvaluationSettings& s) {
    return (count > s.alarmHigh && s.setMaxB) || (count < s.alarmLow && s.setMinB);
}

namespace {

// The function and unit texts are a few characters long: compared in place
// rather than through a library call per frame.
bool sameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

} // namespace

ReadingEvaluator::Change ReadingEvaluator::updateMinMax(const Reading& r, const EvaluationSettings& s,
                                                        int fullScaleCount) {
    Change c;
    const bool funcChanged = !sameText(r.FuncText, LastFuncText);
    c.changed = !sameText(r.UnitText, LastUnitText) || r.PointIndex != LastPointIndex || funcChanged;
    if (c.changed) {
        c.seriesIndex = s.btFill ? 0 : 1;
        // With "Continue Record" ticked only a new function restarts the chart,
        // as the check box's hint promises; a new range keeps the trend going.
        c.runNew = !s.multirange || funcChanged;
        LastUnitText = r.UnitText;
        LastFuncText = r.FuncText;
        MaxCount = static_cast<float>(-fullScaleCount);
        MinCount = static_cast<float>(fullScaleCount);
    } else {
        if (r.Count >= MaxCount) {
            MaxValueText = r.ValueText;
            MaxCount = static_cast<float>(r.Count);
        }
        if (r.Count <= MinCount) {
            MinValueText = r.ValueText;
            MinCount = static_cast<float>(r.Count);
        }
    }
    LastPointIndex = r.PointIndex;
    return c;
}

namespace {

bool isPartialLimit(std::string_view t) {
    return t.empty() || t == "-" || t == "+" || t == "-+" || t == "+-";
}

} // namespace

ReadingEvaluator::JudgeLimits ReadingEvaluator::judgeLimits(const EvaluationSettings& s,
                                                            std::string_view decimalSep) {
    JudgeLimits limits;
    if (isPartialLimit(s.hiText) || isPartialLimit(s.loText))
        return limits;
    const auto lo = parseNumber(s.loText, decimalSep);
    const auto hi = parseNumber(s.hiText, decimalSep);
    // A limit that is no number cannot be compared against; the reading
    // keeps the previous judgement rather than being lost.
    if (lo && hi)
        limits = {true, *lo, *hi};
    return limits;
}

Verdict ReadingEvaluator::judge(Reading& r, std::string_view frameText, bool overloadFlag,
                                const JudgeLimits& limits, std::string_view decimalSep) {
    static constexpr std::string_view kPass = "Pass";
    static constexpr std::string_view kFail = "Fail";
    const auto number = parseNumberDigits(r.ValueText, decimalSep);
    if (!number) {
        r.JudgeText = kFail;
        return Verdict::Fail;
    }
    const double* value = &number->value;
    const std::string_view digits = frameText.size() >= 7 ? frameText.substr(2, 5) : std::string_view();
    const std::string_view codes = frameText.size() >= 12 ? frameText.substr(7, 5) : std::string_view();
    const bool overRange = digits == "22580";
    const bool dutyOverload = codes == "B8089";

    Verdict verdict = Verdict::Unchanged;
    if (!overRange && !dutyOverload && limits.usable)
        verdict = (limits.lo <= *value && *value <= limits.hi) ? Verdict::Pass : Verdict::Fail;
    if (overRange || dutyOverload)
        verdict = Verdict::Fail;
    if (verdict == Verdict::Pass)
        r.JudgeText = kPass;
    else if (verdict == Verdict::Fail)
        r.JudgeText = kFail;

    if (!overloadFlag)
        formatGeneral(*number, decimalSep, r.ValueText);
    return verdict;
}

} // namespace voltaro
