#pragma once

#include "core/decode/Reading.h"
#include "core/recording/DerivedColumn.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voltaro {

// Several meters on one time base: one row per sampling tick, holding the
// row's time, then for each meter NAME its last reading as NAME.value,
// NAME.unit, NAME.function, NAME.judgement and NAME.age (seconds since that
// reading), then each derived column under its own name. Tab-separated, CR
// LF, UTF-8 (the units in readable symbols: "kΩ", "µA").
//
// What a meter's columns hold at a tick:
// - a reading at most two intervals old: the value as the meter shows it,
//   its unit, function, Pass/Fail and age;
// - an older one (stale): empty value, unit and function, the judgement
//   "stale", the age;
// - no reading yet (or none since its link came back): all empty;
// - its link gone (waiting): empty but for the judgement "waiting".
// A derived column is empty unless every meter it uses has a reading at
// most two intervals old that is not an overload.
//
// Fed on the thread of the meters' sessions; times are milliseconds of one
// monotonic clock.
class TimeBaseTable {
public:
    // `decimalSep` writes the ages and derived values, as the meters' values are.
    TimeBaseTable(std::vector<std::string> meters, std::vector<std::unique_ptr<DerivedColumn>> derived,
                  std::int64_t intervalMs, std::string decimalSep);

    int meterCount() const { return static_cast<int>(meters_.size()); }
    const std::string& meterName(int meter) const { return meters_[meter].name; }

    // The header line: "Time", the meters' columns, the derived columns.
    QByteArray header() const;

    // A meter's reading, decoded and judged, at `atMs`.
    void reading(int meter, const Reading& r, std::int64_t atMs);
    // A meter's link went away (true) or came back (false); a meter that is
    // back has no reading until its next frame.
    void setWaiting(int meter, bool waiting);
    bool waiting(int meter) const { return meters_[meter].waiting; }

    // The row of the tick at `nowMs`, its time shown as `time`, with CR LF.
    QByteArray row(std::string_view time, std::int64_t nowMs);
    // What the last row held: whether a meter's reading was in it (fresh),
    // and each derived column's value (none where it was empty).
    bool inRow(int meter) const { return meters_[meter].inRow; }
    int derivedCount() const { return static_cast<int>(derived_.size()); }
    const std::string& derivedName(int column) const { return derived_[column]->name(); }
    std::optional<double> derivedValue(int column) const { return derivedValues_[column]; }

    // A value in SI units: the meter's value scaled by its unit's prefix
    // (milli, micro, nano, kilo, mega); none for an overload.
    static std::optional<double> siValue(const Reading& r);

private:
    struct Meter {
        std::string name;
        bool have = false;
        bool waiting = false;
        bool inRow = false;
        std::int64_t atMs = 0;
        std::string value;
        std::string_view unit; // as stored, in the LCD font's characters
        std::string_view function;
        std::string_view judgement;
        std::optional<double> si;
    };

    static std::int64_t ageTenths(const Meter& m, std::int64_t nowMs);
    void appendMeter(QByteArray& line, const Meter& m, bool fresh, std::int64_t nowMs) const;
    // `decimals` after the point, or -1 for up to 15 significant digits.
    void appendNumber(QByteArray& line, double value, int decimals) const;

    std::vector<Meter> meters_;
    std::vector<std::unique_ptr<DerivedColumn>> derived_;
    std::int64_t staleAfterMs_;
    std::string decimalSep_;
    std::vector<std::optional<double>> values_; // reused for every row
    std::vector<std::optional<double>> derivedValues_;
};

} // namespace voltaro
