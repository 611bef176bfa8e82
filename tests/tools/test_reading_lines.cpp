// voltaro-log's lines for other programs: what each format escapes, the
// JSON lines read back by a JSON parser, the values in SI units with their
// unit, and the InfluxDB times that never repeat. The lines reach a real
// InfluxDB in tests/tools/influx_write.py.
#include "core/recording/UnitSymbols.h"
#include "tools/ReadingLines.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <gtest/gtest.h>

#include <algorithm>

namespace voltaro {
namespace {

using Format = LogOptions::Format;
using namespace std::chrono_literals;

// 2026-03-01 12:00:00.250 UTC
const ReadingLines::Clock::time_point kWhen{1772366400250ms};

Reading reading(const char* value, std::string_view unit, double scaled) {
    Reading r;
    r.ValueText = value;
    r.UnitText = unit;
    r.FuncText = "DC";
    r.RangeText = "AUTO";
    r.JudgeText = "Pass";
    r.ScaledValue = scaled;
    return r;
}

LineReading lineOf(const Reading& r, std::string_view sep, std::string_view meter, std::uint64_t row) {
    LineReading l = LineReading::of(r, sep);
    l.meter = meter;
    l.row = row;
    return l;
}

TEST(ReadingLines, NamesAreEscapedAsEachFormatSays) {
    // --calc takes any printable column name: the lines must hold it whole.
    const std::string_view name = "P W,x=\"1\"\\";
    ReadingLines csv(Format::Csv);
    EXPECT_EQ(csv.derivedLine(name, 2.5, 7, kWhen).substr(29),
              ",\"P W,x=\"\"1\"\"\\\",7,2.5,,,,derived,,,false\n");
    EXPECT_EQ(ReadingLines::csvField("a\r\nb"), "\"a\r\nb\"");
    EXPECT_EQ(ReadingLines::csvField("plain"), "plain");

    ReadingLines influx(Format::Influx);
    const std::string line = influx.derivedLine(name, 2.5, 7, kWhen);
    EXPECT_EQ(line, "voltaro,function=derived,meter=P\\ W\\,x\\=\"1\"/ value=2.5 1772366400250000000\n");
    EXPECT_EQ(ReadingLines::influxString("say \"hi\" \\ bye"), "\"say \\\"hi\\\" \\\\ bye\"");
    // A line break cannot be escaped in a tag: it becomes an escaped blank.
    EXPECT_EQ(ReadingLines::influxTag("a\nb"), "a\\ b");

    EXPECT_EQ(ReadingLines::jsonString("q\"b\\n\n\x01µ"), "\"q\\\"b\\\\n\\n\\u0001µ\"");
}

TEST(ReadingLines, JsonLinesReadBackWithTheValueInSIUnitsAndAsShown) {
    // A German decimal comma in the value as shown: every number still has a point.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ReadingLines jsonl(Format::Jsonl);
    const std::string millivolts = jsonl.line(lineOf(reading("12,34", "mV", 12.34), ",", "", 3), kWhen);
    const std::string overload = jsonl.line(lineOf(reading("0L,", "K*", 22000), ",", "R \"1\"", 4), kWhen);
    // A frame that lights two points shows two separators.
    EXPECT_EQ(LineReading::of(reading("1·2·3", "V", 1), "·").display, "1.2.3");
    QLocale::setDefault(QLocale::c());
    ASSERT_EQ(millivolts.back(), '\n');
    ASSERT_EQ(std::count(millivolts.begin(), millivolts.end(), '\n'), 1);

    QJsonParseError error;
    const QJsonObject mv = QJsonDocument::fromJson(QByteArray::fromStdString(millivolts), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << millivolts;
    EXPECT_FALSE(mv.contains("meter")) << "the one meter without a name";
    EXPECT_EQ(mv["row"].toInteger(), 3);
    EXPECT_DOUBLE_EQ(mv["value"].toDouble(), 0.01234);
    EXPECT_NE(millivolts.find("\"value\":0.01234,"), std::string::npos) << millivolts;
    EXPECT_EQ(mv["unit"].toString(), "V");
    EXPECT_EQ(mv["display"].toString(), "12.34");
    EXPECT_EQ(mv["display_unit"].toString(), "mV");
    EXPECT_EQ(mv["function"].toString(), "DC");
    EXPECT_EQ(mv["range"].toString(), "AUTO");
    EXPECT_EQ(mv["judgement"].toString(), "Pass");
    EXPECT_EQ(mv["overload"].toBool(true), false);
    EXPECT_EQ(QDateTime::fromString(mv["time"].toString(), Qt::ISODateWithMs).toMSecsSinceEpoch(),
              1772366400250);

    const QJsonObject ol = QJsonDocument::fromJson(QByteArray::fromStdString(overload), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << overload;
    EXPECT_EQ(ol["meter"].toString(), "R \"1\"");
    EXPECT_TRUE(ol["value"].isNull());
    EXPECT_TRUE(ol["overload"].toBool());
    EXPECT_EQ(ol["unit"].toString(), QString::fromUtf8("\u03A9"));
    EXPECT_EQ(ol["display_unit"].toString(), QString::fromUtf8("k\u03A9"));
    EXPECT_EQ(ol["display"].toString(), "0L.");
}

TEST(ReadingLines, EveryUnitTurnsIntoItsSIUnitByItsPrefix) {
    const struct {
        const char* stored;
        double scale;
        const char* si;
    } units[] = {{"mV", 1e-3, "V"},  {"V", 1, "V"},     {"V)", 1, "V"},    {"uA", 1e-6, "A"},
                 {"mA", 1e-3, "A"},  {"K*", 1e3, "Ω"},  {"M*", 1e6, "Ω"},  {"&  *", 1, "Ω"},
                 {"nF", 1e-9, "F"},  {"uF", 1e-6, "F"}, {"mF", 1e-3, "F"}, {"kHz", 1e3, "Hz"},
                 {"MHz", 1e6, "Hz"}, {"%", 1, "%"},     {"#", 1, "°C"},    {"?", 1, "°F"}};
    for (const auto& u : units) {
        EXPECT_EQ(unitPrefixScale(u.stored), u.scale) << u.stored;
        EXPECT_EQ(siUnitSymbols(u.stored), QString::fromUtf8(u.si)) << u.stored;
    }
    ReadingLines csv(Format::Csv);
    EXPECT_EQ(csv.line(lineOf(reading("220.00", "nF", 220), ".", "C", 1), kWhen).substr(29),
              ",C,1,2.2e-07,F,220.00,nF,DC,AUTO,Pass,false\n");
}

TEST(ReadingLines, InfluxTimesRiseStrictlyAndAnOverloadHasNoValue) {
    ReadingLines influx(Format::Influx);
    std::int64_t last = 0;
    for (int i = 0; i < 3; ++i) {
        // Three readings in the same nanosecond, and one from before it.
        const auto when = i < 2 ? kWhen : kWhen - 1s;
        const std::string line = influx.line(lineOf(reading("1.500", "V", 1.5), ".", "V1", 1), when);
        const std::int64_t stamp = std::stoll(line.substr(line.rfind(' ') + 1));
        EXPECT_GT(stamp, last) << line;
        last = stamp;
    }
    EXPECT_EQ(last, 1772366400250000002);
    EXPECT_EQ(influx.line(lineOf(reading("-0L", "mV", -22000), ".", "", 2), kWhen),
              "voltaro,function=DC,unit=V overload=true,judgement=\"Pass\" 1772366400250000003\n");
    EXPECT_EQ(ReadingLines(Format::Csv).header(),
              "time,meter,row,value,unit,display,display_unit,function,range,judgement,overload\n");
    EXPECT_EQ(influx.header(), "");
}

} // namespace
} // namespace voltaro
