// The reading table, the recording rules and the number edits' input rules.
#include "core/recording/InputRules.h"
#include "core/recording/ReadingTable.h"
#include "core/recording/Recorder.h"
#include "core/recording/UnitSymbols.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

// Readable texts in failure messages.
static void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

using namespace voltaro;

namespace {

Reading reading(std::string value, double count, std::string_view func = "DC", std::string_view unit = "V",
                std::string_view range = "AUTO", std::string_view judge = "Pass") {
    Reading r;
    r.ValueText = std::move(value);
    r.Count = count;
    r.FuncText = func;
    r.UnitText = unit;
    r.RangeText = range;
    r.JudgeText = judge;
    return r;
}

// Every field of a row in field order, "|" between them.
QString rowText(const ReadingTable& t, qsizetype row) {
    QStringList fields;
    for (int f = 0; f < ReadingTable::FieldCount; ++f)
        fields << t.text(row, f);
    return fields.join('|');
}

using Outcome = Recorder::Outcome;

} // namespace

// --- The reading table -------------------------------------------------------

TEST(ReadingTable, FieldsInOrderWithTypes) {
    ReadingTable t;
    const char* names[] = {"No", "time", "DC/AC", "Value", "Unit", "Auto", "NVal"};
    ASSERT_EQ(t.fields().size(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(t.fields()[i].name, QString::fromLatin1(names[i]));
        const bool integer = i == ReadingTable::No || i == ReadingTable::NVal;
        EXPECT_EQ(t.fields()[i].type, integer ? FieldType::Integer : FieldType::Text) << names[i];
    }
}

TEST(ReadingTable, FieldLookupIgnoresCase) {
    ReadingTable t;
    // The names as the recording step and the file writers spell them.
    const char* spelled[] = {"no", "Time", "dc/ac", "value", "unit", "AUTO", "Nval"};
    for (int f = 0; f < ReadingTable::FieldCount; ++f)
        EXPECT_EQ(t.fieldIndex(QString::fromLatin1(spelled[f])), f) << spelled[f];
    for (const char* unknown : {"Judge", "", "No ", "NVal2"})
        EXPECT_EQ(t.fieldIndex(QString::fromLatin1(unknown)), -1) << unknown;
}

TEST(ReadingTable, NewRowIsNullUntilSet) {
    ReadingTable t;
    const auto row = t.appendRow();
    EXPECT_EQ(row, 0);
    for (int f = 0; f < ReadingTable::FieldCount; ++f) {
        EXPECT_TRUE(t.isNull(row, f)) << f;
        EXPECT_EQ(t.text(row, f), QString()) << f;
    }
    EXPECT_FALSE(t.intValue(row, ReadingTable::NVal).has_value());

    // Setting one integer field leaves the other null.
    t.setInt(row, ReadingTable::NVal, 0);
    EXPECT_FALSE(t.isNull(row, ReadingTable::NVal));
    EXPECT_TRUE(t.isNull(row, ReadingTable::No));
    EXPECT_EQ(t.intValue(row, ReadingTable::NVal), 0);
    // An empty text is a value, not null.
    t.setText(row, ReadingTable::Unit, u"");
    EXPECT_FALSE(t.isNull(row, ReadingTable::Unit));

    t.setInt(row, ReadingTable::No, 5);
    t.setNull(row, ReadingTable::NVal);
    t.setNull(row, ReadingTable::Unit);
    EXPECT_TRUE(t.isNull(row, ReadingTable::NVal));
    EXPECT_TRUE(t.isNull(row, ReadingTable::Unit));
    EXPECT_EQ(t.intValue(row, ReadingTable::No), 5);
}

TEST(ReadingTable, IntegersKeepTheirFull32Bits) {
    ReadingTable t;
    for (const std::int32_t v : {INT_MIN, -22000, -1, 0, 1, 22000, INT_MAX}) {
        const auto row = t.appendRow();
        t.setInt(row, ReadingTable::NVal, v);
        EXPECT_EQ(t.intValue(row, ReadingTable::NVal), v);
        EXPECT_EQ(t.text(row, ReadingTable::NVal), QString::number(v));
        EXPECT_TRUE(t.isNull(row, ReadingTable::No));
    }
}

TEST(ReadingTable, TextsAreCutToTwentyCharacters) {
    ReadingTable t;
    const QString twenty = QStringLiteral("abcdefghijklmnopqrst");
    const struct {
        QString in;
        QString kept;
    } cases[] = {{twenty + "uvwxy", twenty},
                 {twenty, twenty},
                 {"0.L", "0.L"},
                 {QString(25, u'\u03A9'), QString(20, u'\u03A9')}};
    for (const auto& c : cases) {
        const auto row = t.appendRow();
        t.setText(row, ReadingTable::Value, c.in);
        EXPECT_EQ(t.text(row, ReadingTable::Value), c.kept);
    }
}

TEST(ReadingTable, RowsKeepTheirOwnTextsAndClearEmptiesAll) {
    ReadingTable t;
    for (const char* v : {"1.5", "2", "1.5"}) {
        const auto row = t.appendRow();
        t.setText(row, ReadingTable::Value, QString::fromLatin1(v));
    }
    // Rewriting one row leaves the others that held the same text alone.
    t.setText(0, ReadingTable::Value, u"9");
    EXPECT_EQ(t.text(0, ReadingTable::Value), "9");
    EXPECT_EQ(t.text(1, ReadingTable::Value), "2");
    EXPECT_EQ(t.text(2, ReadingTable::Value), "1.5");

    t.clear();
    EXPECT_EQ(t.rowCount(), 0);
    const auto row = t.appendRow();
    EXPECT_EQ(row, 0);
    EXPECT_TRUE(t.isNull(row, ReadingTable::Value));
    t.setText(row, ReadingTable::Judge, u"Fail");
    EXPECT_EQ(t.text(row, ReadingTable::Judge), "Fail");
}

TEST(ReadingTable, AMovedTableKeepsFindingItsTexts) {
    auto original = std::make_unique<ReadingTable>();
    for (int i = 0; i < 1000; ++i) {
        const auto row = original->appendRow();
        original->setText(row, ReadingTable::Value, QString::number(i % 100));
    }
    ReadingTable moved = std::move(*original);
    original.reset();
    // A text already held is found again, not stored a second time.
    const std::size_t bytes = moved.memoryBytes();
    const auto row = moved.appendRow();
    moved.setText(row, ReadingTable::Value, u"42");
    EXPECT_EQ(moved.memoryBytes(), bytes);
    EXPECT_EQ(moved.text(row, ReadingTable::Value), "42");
    EXPECT_EQ(moved.text(999, ReadingTable::Value), "99");
    moved.setText(row, ReadingTable::Value, u"new");
    EXPECT_GT(moved.memoryBytes(), bytes);
    EXPECT_EQ(moved.text(row, ReadingTable::Value), "new");
}

// Texts short enough to sit in the lookup's slots and longer ones, many
// enough for each field's lookup to grow several times: every one reads back
// as set and, set again in its field, is found rather than stored twice.
TEST(ReadingTable, EveryTextIsFoundAgainWhateverItsLengthAndField) {
    ReadingTable t;
    QStringList texts;
    for (int i = 0; i < 3000; ++i)
        texts << QString::number(i * 7919).repeated(1 + i % 4).left(i % 23);
    for (int i = 0; i < texts.size(); ++i) {
        const auto row = t.appendRow();
        t.setText(row, ReadingTable::Time + i % 5, texts[i]);
    }
    for (int i = texts.size() - 1; i >= 0; --i) {
        const int field = ReadingTable::Time + i % 5;
        const auto row = t.appendRow();
        t.setText(row, field, texts[i]);
        ASSERT_EQ(t.text(row, field), texts[i].left(ReadingTable::kTextSize));
        ASSERT_EQ(t.text(i, field), texts[i].left(ReadingTable::kTextSize));
        // The same pooled copy: found, not pooled again.
        ASSERT_EQ(t.textView(row, field).data(), t.textView(i, field).data()) << i;
    }
}

// --- Recording rules ---------------------------------------------------------

class Recording : public ::testing::Test {
protected:
    ReadingTable table;
    Recorder rec{table};
    Outcome add(const Reading& r, bool recordSI = false, bool repeatSet = true,
                const QString& interval = "10") {
        return rec.INDataToTable(r, {recordSI, repeatSet, samplingIntervalSeconds(interval)},
                                 QStringLiteral("12:34:56"));
    }
};

TEST_F(Recording, WithRepeatEveryReadingIsARowNumberedFromOne) {
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(add(reading("1.5", 1500)), Outcome::Recorded);
    ASSERT_EQ(table.rowCount(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(table.intValue(i, ReadingTable::No), i + 1);
    EXPECT_EQ(rec.NextRecordNo, 4);
    EXPECT_EQ(rec.RecordedCount, 3);
}

TEST_F(Recording, RowHoldsTheReading) {
    EXPECT_EQ(rec.INDataToTable(reading("-12.34", -1234, "AC", "mV", "MANU", "Fail"), {false, true, 10},
                                QStringLiteral("07.05.09")),
              Outcome::Recorded);
    EXPECT_EQ(add(reading("0.L", 22000, "Ohm", "K*", "AUTO", "Fail")), Outcome::Recorded);
    EXPECT_EQ(add(reading("-0L.", -22000, "DC", "V", "AUTO", "Fail")), Outcome::Recorded);
    ASSERT_EQ(table.rowCount(), 3);
    EXPECT_EQ(rowText(table, 0), "1|07.05.09|AC|-12.34|mV|Fail|-1234");
    EXPECT_EQ(rowText(table, 1), "2|12:34:56|Ohm|0.L|K*|Fail|22000");
    EXPECT_EQ(rowText(table, 2), "3|12:34:56|DC|-0L.|V|Fail|-22000");
    EXPECT_EQ(table.intValue(2, ReadingTable::NVal), -22000);
    // The range takes part in the repeat key but is not stored.
    EXPECT_EQ(rec.LastRecordKey, "-0L.DCVAUTO");
}

TEST_F(Recording, RepeatFilterSkipsTheRowButNotTheChartAndSurvivesClearing) {
    const struct {
        Reading r;
        Outcome expected;
    } steps[] = {
        {reading("1.5", 1500), Outcome::Recorded},
        {reading("1.5", 1500), Outcome::ChartOnly},
        {reading("1.5", 1500, "DC", "V", "MANU"), Outcome::Recorded}, // another range
        {reading("1.5", 1500, "DC", "V", "MANU", "Fail"),
         Outcome::ChartOnly}, // the judgement is no part of the key
        {reading("1.5", 1500, "AC", "V", "MANU"), Outcome::Recorded},
        {reading("1.5", 1500, "AC", "mV", "MANU"), Outcome::Recorded},
        {reading("1.6", 1600, "AC", "mV", "MANU"), Outcome::Recorded},
    };
    for (const auto& s : steps)
        EXPECT_EQ(add(s.r, false, false), s.expected) << s.r.ValueText << s.r.FuncText << s.r.UnitText;
    EXPECT_EQ(table.rowCount(), 5);

    rec.clear();
    EXPECT_EQ(table.rowCount(), 0);
    EXPECT_EQ(rec.NextRecordNo, 1);
    EXPECT_EQ(rec.RecordedCount, 0);
    EXPECT_EQ(add(reading("1.6", 1600, "AC", "mV", "MANU"), false, false), Outcome::ChartOnly);
    EXPECT_EQ(table.rowCount(), 0);
    EXPECT_EQ(add(reading("1.7", 1700, "AC", "mV", "MANU"), false, false), Outcome::Recorded);
    EXPECT_EQ(table.intValue(0, ReadingTable::No), 1);
}

TEST_F(Recording, SamplingGateWaitsForTheCountdown) {
    EXPECT_EQ(add(reading("1", 1), true, true, "3"), Outcome::Recorded);
    EXPECT_EQ(rec.SampleCountdown, 3);
    for (int left = 3; left > 0; --left) {
        EXPECT_EQ(add(reading("2", 2), true), Outcome::Stopped) << left;
        rec.tick(true);
        EXPECT_EQ(rec.SampleCountdown, left - 1);
    }
    rec.tick(true); // never below 0
    EXPECT_EQ(rec.SampleCountdown, 0);
    EXPECT_EQ(add(reading("3", 3), true, true, "3"), Outcome::Recorded);
    EXPECT_EQ(table.rowCount(), 2);
    EXPECT_EQ(table.text(1, ReadingTable::Value), "3");
}

TEST_F(Recording, EveryRecordedRowReloadsTheCountdownFromTheInterval) {
    const struct {
        const char* interval;
        int countdown;
    } cases[] = {{"7", 7}, {"0", 0}, {"-", 0}, {"+", 0}, {"", 0}, {"25", 25}};
    for (const auto& c : cases) {
        // Reloaded even while sampling is off.
        EXPECT_EQ(add(reading(c.interval, 1), false, true, QString::fromLatin1(c.interval)),
                  Outcome::Recorded);
        EXPECT_EQ(rec.SampleCountdown, c.countdown) << '"' << c.interval << '"';
    }
    // The countdown runs only while sampling is on.
    rec.tick(false);
    EXPECT_EQ(rec.SampleCountdown, 25);
    rec.tick(true);
    EXPECT_EQ(rec.SampleCountdown, 24);
}

TEST_F(Recording, SamplingAnUnchangedReadingOnlyPlotsAndKeepsTheGateOpen) {
    EXPECT_EQ(add(reading("1", 1), false, false, "0"), Outcome::Recorded);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(add(reading("1", 1), true, false, "5"), Outcome::ChartOnly);
    EXPECT_EQ(rec.SampleCountdown, 0);
    EXPECT_EQ(add(reading("2", 2), true, false, "5"), Outcome::Recorded);
    EXPECT_EQ(rec.SampleCountdown, 5);
    EXPECT_EQ(add(reading("3", 3), true, false, "5"), Outcome::Stopped);
}

TEST_F(Recording, RecordLimitAdmitsExactlyThatManyRows) {
    rec.RecordLimit = 3;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(add(reading(std::to_string(i), i)), Outcome::Recorded);
    // Neither a row nor a chart point, not even for a repeated reading.
    EXPECT_EQ(add(reading("9", 9)), Outcome::Stopped);
    EXPECT_EQ(add(reading("2", 2), false, false), Outcome::Stopped);
    EXPECT_EQ(table.rowCount(), 3);
    EXPECT_EQ(rec.RecordedCount, 3);

    rec.RecordLimit = 5;
    EXPECT_EQ(add(reading("3", 3)), Outcome::Recorded);
    EXPECT_EQ(table.intValue(3, ReadingTable::No), 4);

    rec.clear();
    rec.RecordLimit = 1;
    EXPECT_EQ(add(reading("4", 4)), Outcome::Recorded);
    EXPECT_EQ(add(reading("5", 5)), Outcome::Stopped);
    EXPECT_EQ(table.rowCount(), 1);
}

TEST(TimeOfDay, TwoDigitsEachWithTheGivenSeparator) {
    EXPECT_EQ(timeOfDayText(QTime(9, 5, 3), ":"), "09:05:03");
    EXPECT_EQ(timeOfDayText(QTime(23, 59, 59), "."), "23.59.59");
    EXPECT_EQ(timeOfDayText(QTime(0, 0, 0), ":"), "00:00:00");
    const QString sep = localeTimeSeparator();
    ASSERT_EQ(sep.size(), 1);
    EXPECT_FALSE(sep[0].isLetterOrNumber());
}

TEST(TimeOfDay, ClockKeepsATextForItsSecondOnly) {
    TimeOfDayClock clock(":");
    auto local = [](qint64 ms) { return timeOfDayText(QDateTime::fromMSecsSinceEpoch(ms).time(), ":"); };
    const qint64 t0 = QDateTime(QDate(2026, 3, 1), QTime(12, 0, 7)).toMSecsSinceEpoch();
    EXPECT_EQ(clock.at(t0 + 999), local(t0));
    EXPECT_EQ(clock.at(t0 + 1000), local(t0 + 1000));
    EXPECT_EQ(clock.at(t0 + 1999), local(t0 + 1000));
    // A clock set back, and times before 1970.
    EXPECT_EQ(clock.at(t0 + 500), local(t0));
    EXPECT_EQ(clock.at(-1), local(-1));
    EXPECT_EQ(clock.at(0), local(0));
    EXPECT_NE(local(t0), local(t0 + 1000));
}

// --- Input rules of the number edits --------------------------------------------

TEST(InputRules, KeyFilters) {
    const struct {
        char16_t c;
        bool limitDot, limitComma, alarm, digits;
    } cases[] = {
        {u'0', true, true, true, true},          {u'9', true, true, true, true},
        {u'-', true, true, true, false},         {u'+', false, false, true, false},
        {u'.', true, false, false, false},       {u',', false, true, false, false},
        {u' ', false, false, false, false},      {u'e', false, false, false, false},
        {u'a', false, false, false, false},      {u'\b', true, true, true, true},
        {u'\u0663', false, false, false, false}, // another script's digit
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.c));
        EXPECT_EQ(limitKeyAccepted(QChar(c.c), "."), c.limitDot);
        EXPECT_EQ(limitKeyAccepted(QChar(c.c), ","), c.limitComma);
        EXPECT_EQ(alarmKeyAccepted(QChar(c.c)), c.alarm);
        EXPECT_EQ(digitKeyAccepted(QChar(c.c)), c.digits);
    }
}

TEST(InputRules, LimitTextRepairs) {
    const struct {
        const char* text;
        const char* sep;
        bool repaired;
        const char* result;
        int start, length;
    } cases[] = {
        {"-", ".", true, "-0", 1, 1},    {" - ", ".", true, "-0", 1, 1},    {"", ".", true, "0", 0, 1},
        {"+", ".", true, "0", 0, 1},     {"-+", ".", true, "0", 0, 1},      {"1.5.5", ".", true, "0", 0, 1},
        {"1,5", ".", true, "0", 0, 1},   {"1.5", ",", true, "0", 0, 1},     {"1,5", ",", false, "", 0, 0},
        {"1.5", ".", false, "", 0, 0},   {"-0", ".", false, "", 0, 0},      {"-22000", ".", false, "", 0, 0},
        {"1e3", ".", false, "", 0, 0},   {"-2.5E-3", ".", false, "", 0, 0}, {"1e", ".", true, "0", 0, 1},
        {"1 000", ".", true, "0", 0, 1}, {".5", ".", false, "", 0, 0},      {"5.", ".", false, "", 0, 0},
        {"--5", ".", true, "0", 0, 1},   {"5-", ".", true, "0", 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\" with " + c.sep);
        const auto fix = repairLimitText(QString::fromLatin1(c.text), QString::fromLatin1(c.sep));
        ASSERT_EQ(fix.has_value(), c.repaired);
        if (fix) {
            EXPECT_EQ(fix->text, c.result);
            EXPECT_EQ(fix->selectionStart, c.start);
            EXPECT_EQ(fix->selectionLength, c.length);
            // A repaired text passes the rule, so the edit's change handler ends there.
            EXPECT_FALSE(repairLimitText(fix->text, QString::fromLatin1(c.sep)));
        }
    }
}

TEST(InputRules, IntervalTextRepairs) {
    const struct {
        const char* text;
        bool repaired;
    } cases[] = {
        {"10", false}, {"0", false},         {"2147483647", false}, {"-5", false},
        {"", true},    {"2147483648", true}, {"99999999999", true}, {"1.5", true},
        {"-", true},   {"+", true},          {"a", true},
    };
    for (const auto& c : cases) {
        const auto fix = repairIntervalText(QString::fromLatin1(c.text));
        ASSERT_EQ(fix.has_value(), c.repaired) << '"' << c.text << '"';
        if (fix) {
            EXPECT_EQ(fix->text, "1");
            EXPECT_EQ(fix->selectionStart, 0);
            EXPECT_EQ(fix->selectionLength, 1);
        }
    }
}

TEST(InputRules, AlarmLimitValues) {
    const struct {
        const char* text;
        bool valid;
        float value;
    } cases[] = {
        {"-", true, 0},
        {"+", true, 0},
        {"", true, 0},
        {"20000", true, 20000},
        {"-22000", true, -22000},
        {"+5", true, 5},
        {"2147483647", true, 2147483647.0f},
        {"--5", false, 0},
        {"5-", false, 0},
        {"+-", false, 0},
        {"2147483648", false, 0},
        {"1.5", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        QString error;
        const auto v = alarmLimitValue(QString::fromLatin1(c.text), error);
        ASSERT_EQ(v.has_value(), c.valid);
        if (v) {
            EXPECT_EQ(*v, c.value);
            EXPECT_TRUE(error.isEmpty());
        } else {
            EXPECT_EQ(error,
                      QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLatin1(c.text)));
        }
    }
}

// --- Unit texts shown as symbols ----------------------------------------------

TEST(UnitSymbols, EveryDecodedUnitReadsAsASymbol) {
    const struct {
        const char* stored;
        const char16_t* shown;
    } cases[] = {
        {"V", u"V"},        {"mV", u"mV"},     {"A", u"A"},         {"mA", u"mA"},    {"uA", u"\u00B5A"},
        {"Hz", u"Hz"},      {"kHz", u"kHz"},   {"MHz", u"MHz"},     {"*", u"\u03A9"}, {"K*", u"k\u03A9"},
        {"M*", u"M\u03A9"}, {"nF", u"nF"},     {"uF", u"\u00B5F"},  {"mF", u"mF"},    {"%", u"%"},
        {"V)", u"V"},       {"?", u"\u00B0F"}, {"&  *", u"\u03A9"}, {"", u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(unitSymbols(QString::fromLatin1(c.stored)), QString::fromUtf16(c.shown)) << c.stored;
}
