#pragma once

#include "core/decode/Reading.h"

#include <string>
#include <string_view>

namespace voltaro {

// The last unit text before any frame: "113" is no unit text a frame can
// carry, so the first frame always counts as a change of unit.
constexpr std::string_view kNoUnitYet = "113";

// The user's settings the evaluation reads: the judgement limits as typed,
// the alarm band in display counts, and the chart and recording check boxes.
struct EvaluationSettings {
    std::string hiText = "22000";  // T1HI
    std::string loText = "-22000"; // T1LO
    bool setMaxB = false;
    bool setMinB = false;
    float alarmHigh = 22002.0f;
    float alarmLow = -22002.0f;
    bool multirange = true; // "Continue Record"
    bool btFill = true;     // "Fill"
};

enum class Verdict { Pass, Fail, Unchanged };

// The per-frame evaluation around the decode: limit re-localisation, alarm,
// min/max with change detection, and the Pass/Fail judgement.
class ReadingEvaluator {
public:
    // Replaces the first separator of the other convention ("," for ".",
    // otherwise ".") by `decimalSep`. Returns whether the text changed.
    static bool relocaliseLimit(std::string& text, std::string_view decimalSep);

    // Whether the reading's raw count leaves an enabled side of the alarm band.
    static bool alarm(double count, const EvaluationSettings& s);

    struct Change {
        bool changed = false;
        int seriesIndex = 0; // the chart series to show on a change
        bool runNew = false; // restart the chart
    };
    // Detects a change of function, unit or decimal point and keeps the running
    // maximum and minimum; a reading that brings a change enters neither.
    Change updateMinMax(const Reading& r, const EvaluationSettings& s, int fullScaleCount);

    // The judgement limits as numbers: usable when neither text is empty or
    // a lone sign and both read as numbers with the separator.
    struct JudgeLimits {
        bool usable = false;
        double lo = 0;
        double hi = 0;
    };
    static JudgeLimits judgeLimits(const EvaluationSettings& s, std::string_view decimalSep);

    // Judges the reading against the limits and, unless the status nibble
    // flagged an overload, rewrites `ValueText` in the general number format.
    // `JudgeText` keeps its previous value when no judgement is made.
    static Verdict judge(Reading& r, std::string_view frameText, bool overloadFlag,
                         const EvaluationSettings& s, std::string_view decimalSep) {
        return judge(r, frameText, overloadFlag, judgeLimits(s, decimalSep), decimalSep);
    }
    // The same with the limits read already (the pipeline reads them once per change).
    static Verdict judge(Reading& r, std::string_view frameText, bool overloadFlag, const JudgeLimits& limits,
                         std::string_view decimalSep);

    float MaxCount = 0;
    float MinCount = 0;
    std::string MaxValueText;
    std::string MinValueText;
    std::string LastUnitText{kNoUnitYet};
    std::string LastFuncText;
    int LastPointIndex = 0;
};

} // namespace voltaro
