#include "tools/ReadingLines.h"

#include "core/recording/TimeBaseTable.h"
#include "core/recording/UnitSymbols.h"

#include <QDateTime>

#include <charconv>
#include <cstdio>

namespace voltaro {

namespace {

using Format = LogOptions::Format;

std::string utf8(const QString& s) {
    return s.toUtf8().toStdString();
}

// The InfluxDB measurement every line goes into.
constexpr std::string_view kMeasurement = "voltaro";

// InfluxDB's names and string values have no escape for a line break: one
// would end the line. Such characters become blanks.
char lineSafe(char c) {
    return c == '\n' || c == '\r' ? ' ' : c;
}

} // namespace

LineReading LineReading::of(const Reading& r, std::string_view decimalSep) {
    LineReading l;
    l.value = TimeBaseTable::siValue(r);
    l.unit = utf8(siUnitSymbols(r.UnitText));
    l.display = r.ValueText;
    // Every lit point shows the separator: a frame may light more than one.
    if (!decimalSep.empty() && decimalSep != ".") {
        for (auto at = l.display.find(decimalSep); at != std::string::npos;
             at = l.display.find(decimalSep, at + 1))
            l.display.replace(at, decimalSep.size(), ".");
    }
    l.displayUnit =
        utf8(unitSymbols(QString::fromLatin1(r.UnitText.data(), static_cast<qsizetype>(r.UnitText.size()))));
    l.function = r.FuncText;
    l.range = r.RangeText;
    l.judgement = r.JudgeText;
    return l;
}

std::string ReadingLines::csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string field = "\"";
    for (const char c : text) {
        if (c == '"')
            field += '"';
        field += c;
    }
    return field + '"';
}

std::string ReadingLines::jsonString(std::string_view text) {
    std::string s = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': s += "\\\""; break;
        case '\\': s += "\\\\"; break;
        case '\n': s += "\\n"; break;
        case '\r': s += "\\r"; break;
        case '\t': s += "\\t"; break;
        default:
            if (u < 0x20 || u == 0x7f) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                s += escaped;
            } else {
                s += c; // UTF-8 passes as it is
            }
        }
    }
    return s + '"';
}

std::string ReadingLines::influxTag(std::string_view text) {
    std::string s;
    for (const char c : text) {
        // InfluxDB reads a backslash as escaping whatever follows, yet gives
        // back only an escaped comma, equals sign or blank: a backslash of the
        // text could not come back as itself, and becomes a slash.
        const char d = c == '\\' ? '/' : lineSafe(c);
        if (d == ',' || d == '=' || d == ' ')
            s += '\\';
        s += d;
    }
    return s;
}

std::string ReadingLines::influxString(std::string_view text) {
    std::string s = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            s += '\\';
        s += lineSafe(c);
    }
    return s + '"';
}

std::string ReadingLines::number(double value) {
    // 15 significant digits: a reading's digits exactly, without the tail a
    // scaling by its prefix leaves (0.012339999999999999 for 12.34 mV).
    char buffer[64];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    return std::string(buffer, ec == std::errc() ? end : buffer);
}

std::string ReadingLines::isoTime(Clock::time_point when) {
    const qint64 ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    const int offset = local.offsetFromUtc();
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', std::abs(offset) / 3600,
                  std::abs(offset) / 60 % 60);
    return local.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz")).toStdString() + zone;
}

std::int64_t ReadingLines::stamp(Clock::time_point when) {
    const std::int64_t ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    lastStampNs_ = ns > lastStampNs_ ? ns : lastStampNs_ + 1;
    return lastStampNs_;
}

std::string ReadingLines::header() const {
    if (format_ != Format::Csv)
        return {};
    return "time,meter,row,value,unit,display,display_unit,function,range,judgement,overload\n";
}

std::string ReadingLines::line(const LineReading& r, Clock::time_point when) {
    const std::string value = r.value ? number(*r.value) : std::string();
    const bool overload = !r.value;
    std::string s;
    switch (format_) {
    case Format::Tsv: break; // the decoded frames' lines: FrameLinePrinter
    case Format::Csv:
        s = isoTime(when) + ',' + csvField(r.meter) + ',' + std::to_string(r.row) + ',' + value;
        for (const std::string_view field :
             {std::string_view(r.unit), std::string_view(r.display), std::string_view(r.displayUnit),
              r.function, r.range, r.judgement})
            s += ',' + csvField(field);
        s += overload ? ",true\n" : ",false\n";
        break;
    case Format::Jsonl:
        s = "{\"time\":" + jsonString(isoTime(when));
        if (!r.meter.empty())
            s += ",\"meter\":" + jsonString(r.meter);
        s += ",\"row\":" + std::to_string(r.row) + ",\"value\":" + (overload ? "null" : value) +
             ",\"unit\":" + jsonString(r.unit) + ",\"display\":" + jsonString(r.display) +
             ",\"display_unit\":" + jsonString(r.displayUnit) + ",\"function\":" + jsonString(r.function) +
             ",\"range\":" + jsonString(r.range) + ",\"judgement\":" + jsonString(r.judgement) +
             ",\"overload\":" + (overload ? "true" : "false") + "}\n";
        break;
    case Format::Influx: {
        // The tags in the order of their keys, as InfluxDB keeps them; empty ones left out.
        s = kMeasurement;
        for (const auto& [key, tag] : {std::pair<const char*, std::string_view>{"function", r.function},
                                       {"meter", r.meter},
                                       {"unit", r.unit}})
            if (!tag.empty())
                s += std::string(",") + key + '=' + influxTag(tag);
        s += overload ? " overload=true" : " value=" + value;
        if (!r.judgement.empty())
            s += ",judgement=" + influxString(r.judgement);
        s += ' ' + std::to_string(stamp(when)) + '\n';
        break;
    }
    }
    return s;
}

std::string ReadingLines::derivedLine(std::string_view column, double value, std::uint64_t row,
                                      Clock::time_point when) {
    LineReading r;
    r.meter = column;
    r.row = row;
    r.value = value;
    r.function = "derived";
    return line(r, when);
}

} // namespace voltaro
