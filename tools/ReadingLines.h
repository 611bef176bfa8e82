#pragma once

#include "core/decode/Reading.h"
#include "tools/LogOptions.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace voltaro {

// One reading as the lines for other programs carry it.
struct LineReading {
    std::string_view meter;      // the meter's name; empty for the one meter without a name
    std::uint64_t row = 0;       // the record number, or the line's number when not recording
    std::optional<double> value; // in SI units (V, A, ohm, Hz, F; degrees and % as shown); none: overload
    std::string unit;            // the unit of `value`: "V" for a reading shown in mV
    std::string display;         // the digits as the meter shows them, with a point
    std::string displayUnit;     // the unit shown with them: "mV", "kΩ"
    std::string_view function;
    std::string_view range;
    std::string_view judgement; // Pass or Fail

    // A decoded reading whose value text has `decimalSep` in it.
    static LineReading of(const Reading& r, std::string_view decimalSep);
};

// Writes voltaro-log's lines for other programs (--format csv, jsonl or
// influx), one a reading, each ending in "\n". Numbers are written with a
// point whatever the locale. Times are those of the system clock; the
// InfluxDB lines' nanosecond times rise strictly from one line to the next,
// so no two points of a series share a time (InfluxDB would keep only one).
class ReadingLines {
public:
    using Clock = std::chrono::system_clock;

    explicit ReadingLines(LogOptions::Format format) : format_(format) {}

    // The line before the first reading: the CSV's header, else empty.
    std::string header() const;
    std::string line(const LineReading& r, Clock::time_point when);
    // A derived column's value in the row `row` (named meters' --calc): a
    // line like a meter's, named by the column, its function "derived".
    std::string derivedLine(std::string_view column, double value, std::uint64_t row, Clock::time_point when);

    // The pieces, for the tests: a field as RFC 4180 writes it, a JSON
    // string with its quotes, an InfluxDB tag key or value and string field
    // value, a number in 15 significant digits with a point, a local time in
    // ISO 8601 with milliseconds and the zone's offset.
    static std::string csvField(std::string_view text);
    static std::string jsonString(std::string_view text);
    static std::string influxTag(std::string_view text);
    static std::string influxString(std::string_view text);
    static std::string number(double value);
    static std::string isoTime(Clock::time_point when);

private:
    std::int64_t stamp(Clock::time_point when);

    LogOptions::Format format_;
    std::int64_t lastStampNs_ = 0;
};

} // namespace voltaro
