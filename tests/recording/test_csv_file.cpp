// CSV for spreadsheets: the file the window saves and voltaro-log streams,
// its dates, and reading it back through "Open old data files".
#include "core/recording/DataFiles.h"
#include "core/recording/TextTableFile.h"
#include "support/TableFiles.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

static void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

using namespace voltaro;
namespace df = voltaro::datafiles;
using voltaro::testing::dump;
using voltaro::testing::readAll;
using voltaro::testing::writeAll;

namespace {

struct Row {
    std::optional<int> no;
    const char* time; // UTF-8, as the others; nullptr: null
    const char* function;
    const char* value;
    const char* unit;
    const char* judge;
};

void add(ReadingTable& t, const Row& r) {
    const auto row = t.appendRow();
    if (r.no)
        t.setInt(row, ReadingTable::No, *r.no);
    const std::pair<int, const char*> texts[] = {{ReadingTable::Time, r.time},
                                                 {ReadingTable::Function, r.function},
                                                 {ReadingTable::Value, r.value},
                                                 {ReadingTable::Unit, r.unit},
                                                 {ReadingTable::Judge, r.judge}};
    for (const auto& [f, text] : texts)
        if (text)
            t.setText(row, f, QString::fromUtf8(text));
}

qint64 localMs(int y, int mo, int d, int h, int mi, int s) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s)).toMSecsSinceEpoch();
}

// The rows a spreadsheet would see: each line, before the CR LF.
QList<QByteArray> lines(const QByteArray& csv) {
    QList<QByteArray> out = csv.split('\n');
    if (!out.isEmpty() && out.constLast().isEmpty())
        out.removeLast();
    return out;
}

class Csv : public ::testing::Test {
protected:
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir;
};

} // namespace

TEST_F(Csv, CommaSeparatedWhereTheDecimalSeparatorIsAPoint) {
    ReadingTable t;
    add(t, {1, "10:00:00", "DC", "1.234", "V", "Pass"});
    add(t, {2, "10:00:01", "DC", "0L", "M*", "Fail"});
    add(t, {std::nullopt, nullptr, "a,b", "-0.5", "mV", "say \"hi\""});
    t.setLastRowAt(localMs(2026, 3, 1, 10, 0, 5));
    const QByteArray csv = df::csvTable(t, u".");
    EXPECT_EQ(csv, QByteArray("No,Time,DateTime,DC/AC,Value,Unit,AUTO\r\n"
                              "1,10:00:00,2026-03-01T10:00:00,DC,1.234,V,Pass\r\n"
                              "2,10:00:01,2026-03-01T10:00:01,DC,0L,M*,Fail\r\n"
                              ",,,\"a,b\",-0.5,mV,\"say \"\"hi\"\"\"\r\n"));
    ASSERT_TRUE(df::saveCsv(t, path("t.csv"), u".").ok);
    EXPECT_EQ(readAll(path("t.csv")), csv);
}

TEST_F(Csv, SemicolonSeparatedWhereItIsACommaAndEveryCommaQuoted) {
    ReadingTable t;
    add(t, {1, "10:00:00", "DC", "1,234", "V", "Pass"});
    add(t, {2, "10:00:01", "DC", "0L", "V", "Fail"});
    add(t, {3, "10:00:02", "x;y", "22000", "mV", "a,b"});
    t.setLastRowAt(localMs(2026, 3, 1, 10, 0, 5));
    EXPECT_EQ(df::csvSeparator(u","), ';');
    EXPECT_EQ(df::csvTable(t, u","),
              QByteArray("No;Time;DateTime;DC/AC;Value;Unit;AUTO\r\n"
                         "1;10:00:00;2026-03-01T10:00:00;DC;\"1,234\";V;Pass\r\n"
                         "2;10:00:01;2026-03-01T10:00:01;DC;0L;V;Fail\r\n"
                         "3;10:00:02;2026-03-01T10:00:02;\"x;y\";22000;mV;\"a,b\"\r\n"));
}

TEST_F(Csv, AValueTakesTheUsersDecimalSeparatorAndTextsStayAsTheyAre) {
    ReadingTable t;
    add(t, {1, "10:00:00", "DC", "1.5", "V", "Pass"});
    add(t, {2, "10:00:00", "DC", "-0,25", "V", "Pass"});
    add(t, {3, "10:00:00", "DC", "0.L", "V", "Pass"}); // an overload with its point lit
    add(t, {4, "10:00:00", "DC", "1.2.3", "V", "Pass"});
    add(t, {5, "10:00:00", "DC", "12", "V", "Pass"});
    t.setLastRowAt(localMs(2026, 3, 1, 10, 0, 0));
    const auto valueOf = [](const QByteArray& line, char sep) { return line.split(sep).at(4); };
    const QList<QByteArray> comma = lines(df::csvTable(t, u"."));
    EXPECT_EQ(valueOf(comma[1], ','), "1.5");
    EXPECT_EQ(valueOf(comma[2], ','), "-0.25");
    EXPECT_EQ(valueOf(comma[3], ','), "0.L");
    EXPECT_EQ(valueOf(comma[4], ','), "1.2.3");
    EXPECT_EQ(valueOf(comma[5], ','), "12");
    const QList<QByteArray> semicolon = lines(df::csvTable(t, u","));
    EXPECT_EQ(valueOf(semicolon[1], ';'), "\"1,5\"");
    EXPECT_EQ(valueOf(semicolon[2], ';'), "\"-0,25\"");
    EXPECT_EQ(valueOf(semicolon[3], ';'), "0.L");
    // A separator of neither kind: values are written as they are, between commas.
    const QList<QByteArray> other = lines(df::csvTable(t, u"'"));
    EXPECT_TRUE(other[0].startsWith("No,Time,"));
    EXPECT_EQ(other[1].split(',').at(4), "1.5");
    EXPECT_EQ(other[2], "2,10:00:00,2026-03-01T10:00:00,DC,\"-0,25\",V,Pass\r");
}

TEST_F(Csv, OnlyTheCsvExtensionInAnyCaseSelectsIt) {
    EXPECT_TRUE(df::isCsvFileName("a/b.csv"));
    EXPECT_TRUE(df::isCsvFileName("B.CSV"));
    EXPECT_TRUE(df::isCsvFileName("b.Csv"));
    EXPECT_FALSE(df::isCsvFileName("b.csv.txt"));
    EXPECT_FALSE(df::isCsvFileName("csv"));
    EXPECT_FALSE(df::isCsvFileName("b.xls"));
    EXPECT_FALSE(df::isXmlFileName("b.csv"));
}

// Saved and loaded through "Open old data files", in both variants: the same
// rows (the count, which neither CSV nor the text table carries, aside).
TEST_F(Csv, RoundTripOfBothVariants) {
    ReadingTable t;
    add(t, {1, "23:59:58", "DC", "1.5", "V", "Pass"});
    add(t, {2, "23:59:59", "DC", "0L", "M*", "Fail"}); // an overload
    add(t, {3, "00:00:00", "AC", "-0.025", "&  *", "Pass"});
    add(t, {4, "00:00:01", "a,b;c", "2", "uA", "say \"hi\""});                     // texts that need quotes
    add(t, {5, "00:00:02", "two\r\nlines", "3", "x\ny", "CR\ronly"});              // line breaks inside
    add(t, {6, "00:00:03", "", "4", " V ", nullptr});                              // empty, blanks, null
    add(t, {std::nullopt, "00:00:04", "\xc2\xb5\xce\xa9 \"\"", "5", "V", "Pass"}); // UTF-8
    add(t, {8, "not a time", "DC", "6", "V", "Pass"});
    add(t, {std::nullopt, nullptr, nullptr, nullptr, nullptr, nullptr}); // nothing at all (a packet's)
    for (const char* sep : {".", ","}) {
        SCOPED_TRACE(sep);
        const QString decimalSep = QString::fromLatin1(sep);
        ReadingTable source;
        for (qsizetype r = 0; r < t.rowCount(); ++r) {
            const auto row = source.appendRow();
            for (int f = 0; f < ReadingTable::NVal; ++f)
                if (!t.isNull(r, f))
                    f == ReadingTable::No ? source.setInt(row, f, *t.intValue(r, f))
                                          : source.setText(row, f, t.text(r, f));
        }
        // The values in the user's format, as the table shows them.
        source.setText(0, ReadingTable::Value, "1" + decimalSep + "5");
        source.setText(2, ReadingTable::Value, "-0" + decimalSep + "025");
        source.setLastRowAt(localMs(2026, 3, 2, 0, 0, 10));
        const QString file = path(sep[0] == '.' ? "comma.csv" : "semicolon.csv");
        ASSERT_TRUE(df::saveCsv(source, file, decimalSep).ok);
        const QByteArray bytes = readAll(file);
        EXPECT_EQ(bytes.left(3), sep[0] == '.' ? "No," : "No;");
        // The dates count back over the midnight before row 3.
        EXPECT_TRUE(bytes.contains("2026-03-01T23:59:59")) << bytes.toStdString();
        EXPECT_TRUE(bytes.contains("2026-03-02T00:00:00")) << bytes.toStdString();

        ReadingTable back;
        const auto r = df::loadTableFile(file, back, false);
        ASSERT_TRUE(r.ok);
        EXPECT_FALSE(r.replaced);
        EXPECT_EQ(r.rowsAdded, source.rowCount());
        EXPECT_EQ(dump(back), dump(source));
        EXPECT_EQ(back.text(0, ReadingTable::Value), "1" + decimalSep + "5");
        EXPECT_TRUE(back.isNull(5, ReadingTable::Judge));
        EXPECT_FALSE(back.isNull(5, ReadingTable::Function));
        EXPECT_EQ(back.text(5, ReadingTable::Function), "");
        // The last row has no date: the file's time is what the table knows.
        EXPECT_EQ(back.lastRowAt(), QFileInfo(file).lastModified().toMSecsSinceEpoch());
        // Saved again, the same file.
        back.setLastRowAt(localMs(2026, 3, 2, 0, 0, 10));
        EXPECT_EQ(df::csvTable(back, decimalSep), bytes);
    }
}

TEST_F(Csv, TheLastRowsDateAndTimeIsWhereTheTableEnds) {
    ReadingTable t;
    add(t, {1, "23:59:59", "DC", "1", "V", "Pass"});
    add(t, {2, "00:00:01", "DC", "2", "V", "Pass"});
    t.setLastRowAt(localMs(2026, 3, 2, 0, 0, 1));
    ASSERT_TRUE(df::saveCsv(t, path("d.csv"), u".").ok);
    ReadingTable back;
    ASSERT_TRUE(df::loadTableFile(path("d.csv"), back, false).ok);
    EXPECT_EQ(back.lastRowAt(), localMs(2026, 3, 2, 0, 0, 1));
    EXPECT_EQ(df::csvTable(back, u"."), df::csvTable(t, u"."));
}

TEST_F(Csv, DatesCountBackFromTheLastRowOverEachMidnight) {
    ReadingTable t;
    add(t, {1, "22:00:00", "DC", "1", "V", "Pass"});
    add(t, {2, "23:59:59", "DC", "1", "V", "Pass"});
    add(t, {3, "garbled", "DC", "1", "V", "Pass"});
    add(t, {4, "00:00:00", "DC", "1", "V", "Pass"});
    add(t, {5, "12:00:00", "DC", "1", "V", "Pass"});
    add(t, {6, "02:59:00", "DC", "1", "V", "Pass"}); // the next day, after a gap
    add(t, {7, "02:10:00", "DC", "1", "V", "Pass"}); // the clocks went back an hour
    add(t, {8, "2.15.00", "DC", "1", "V", "Pass"});  // another locale's separator
    t.setLastRowAt(localMs(2026, 10, 25, 2, 20, 0));
    const df::RowDates dates(t, 0);
    EXPECT_EQ(dates.date(0), QDate(2026, 10, 23));
    EXPECT_EQ(dates.date(1), QDate(2026, 10, 23));
    EXPECT_EQ(dates.date(3), QDate(2026, 10, 24));
    EXPECT_EQ(dates.date(4), QDate(2026, 10, 24));
    EXPECT_EQ(dates.date(5), QDate(2026, 10, 25));
    EXPECT_EQ(dates.date(6), QDate(2026, 10, 25));
    EXPECT_EQ(dates.date(7), QDate(2026, 10, 25));
    const QList<QByteArray> csv = lines(df::csvTable(t, u"."));
    EXPECT_EQ(csv[3], "3,garbled,,DC,1,V,Pass\r"); // no time of day, no date
    EXPECT_EQ(csv[8].split(',').at(2), "2026-10-25T02:15:00");

    // A moment later than the last row's time of day by more than an hour
    // (a file saved the morning after) is of the day after it.
    t.setLastRowAt(localMs(2026, 10, 26, 9, 0, 0));
    EXPECT_EQ(df::RowDates(t, 0).date(7), QDate(2026, 10, 26));
    t.setLastRowAt(localMs(2026, 10, 26, 1, 30, 0));
    EXPECT_EQ(df::RowDates(t, 0).date(7), QDate(2026, 10, 26));
    t.setLastRowAt(localMs(2026, 10, 26, 0, 30, 0));
    EXPECT_EQ(df::RowDates(t, 0).date(7), QDate(2026, 10, 25));
    // A table that does not know takes the fallback.
    t.setLastRowAt(std::nullopt);
    EXPECT_EQ(df::RowDates(t, localMs(2026, 1, 1, 3, 0, 0)).date(7), QDate(2026, 1, 1));

    EXPECT_EQ(df::RowDates::dateAt(u"23:59:59", localMs(2026, 3, 2, 0, 0, 0)), QDate(2026, 3, 1));
    EXPECT_EQ(df::RowDates::dateAt(u"00:00:00", localMs(2026, 3, 2, 0, 0, 0)), QDate(2026, 3, 2));
    EXPECT_FALSE(df::RowDates::dateAt(u"24:00:00", localMs(2026, 3, 2, 0, 0, 0)).isValid());
    EXPECT_FALSE(df::RowDates::dateAt(u"1:2:3", localMs(2026, 3, 2, 0, 0, 0)).isValid());
}

TEST_F(Csv, TheRecordingsMomentFollowsTheRows) {
    ReadingTable t;
    EXPECT_FALSE(t.lastRowAt());
    add(t, {1, "10:00:00", "DC", "1", "V", "Pass"});
    t.setLastRowAt(1000);
    ReadingTable more;
    add(more, {2, "10:00:01", "DC", "1", "V", "Pass"});
    more.setLastRowAt(2000);
    t.appendRows(std::move(more));
    EXPECT_EQ(t.lastRowAt(), 2000);
    ReadingTable none;
    t.appendRows(std::move(none)); // no rows: the last row is still the one before
    EXPECT_EQ(t.lastRowAt(), 2000);
    t.clear();
    EXPECT_FALSE(t.lastRowAt());

    // A text table or packet loaded ends at the file's time.
    add(t, {1, "10:00:00", "DC", "1", "V", "Pass"});
    ASSERT_TRUE(df::saveText(t, path("t.txt")).ok);
    ASSERT_TRUE(df::saveXml(t, path("t.xml")).ok);
    for (const char* name : {"t.txt", "t.xml"}) {
        ReadingTable back;
        ASSERT_TRUE(df::loadTableFile(path(name), back, false).ok);
        EXPECT_EQ(back.lastRowAt(), QFileInfo(path(name)).lastModified().toMSecsSinceEpoch()) << name;
    }
}

TEST_F(Csv, AFileCutInALineLoadsItsWholeLines) {
    ReadingTable t;
    for (int i = 1; i <= 5; ++i)
        add(t, {i, "10:00:00", "DC", "1.5", "V", "Pass"});
    t.setLastRowAt(localMs(2026, 3, 1, 10, 0, 0));
    const QByteArray whole = df::csvTable(t, u".");
    const qsizetype lastLine = whole.lastIndexOf("5,10:00:00");
    // Cut at every byte of the last line: four rows, and the load succeeds;
    // only once its CR is in is the line whole (a lone CR ends a line too).
    for (qsizetype cut = lastLine; cut <= whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        writeAll(path("cut.csv"), whole.left(cut));
        ReadingTable back;
        const auto r = df::loadTableFile(path("cut.csv"), back, false);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(back.rowCount(), cut >= whole.size() - 1 ? 5 : 4);
    }
    // A quoted field that is not closed at the end of the file is cut too.
    writeAll(path("open.csv"), whole + "6,10:00:00,,\"DC\r\nmore");
    ReadingTable back;
    const auto r = df::loadTableFile(path("open.csv"), back, false);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(back.rowCount(), 5);
}

TEST_F(Csv, ALineThatDoesNotReadStopsTheLoadAfterTheRowsBefore) {
    writeAll(path("bad.csv"), "No,Time,DateTime,DC/AC,Value,Unit,AUTO\r\n"
                              "1,10:00:00,,DC,1,V,Pass\r\n"
                              "x,10:00:01,,DC,2,V,Pass\r\n"
                              "3,10:00:02,,DC,3,V,Pass\r\n");
    writeAll(path("wide.csv"), "No,Time,DateTime,DC/AC,Value,Unit,AUTO\r\n"
                               "1,10:00:00,,DC,1,V,Pass\r\n"
                               "2,10:00:01,,DC,2,V,Pass,more\r\n");
    writeAll(path("quote.csv"), "No,Time,DateTime,DC/AC,Value,Unit,AUTO\r\n"
                                "1,10:00:00,,DC,1,V,Pass\r\n"
                                "2,10:00:01,,\"DC\"x,2,V,Pass\r\n");
    for (const char* name : {"bad.csv", "wide.csv", "quote.csv"}) {
        ReadingTable back;
        const auto r = df::loadTableFile(path(name), back, false);
        EXPECT_FALSE(r.ok) << name;
        EXPECT_EQ(r.rowsAdded, 1) << name;
        EXPECT_EQ(back.rowCount(), 1) << name;
    }
    // Empty lines and lines of blanks are passed over, short lines are rows
    // as far as they go, separators alone a row of nulls.
    writeAll(path("short.csv"),
             "No;Time;DateTime;DC/AC;Value;Unit;AUTO\r\n\r\n1;10:00:00\r\n  \r\n;;;;;;\r\n\n");
    ReadingTable back;
    ASSERT_TRUE(df::loadTableFile(path("short.csv"), back, false).ok);
    ASSERT_EQ(back.rowCount(), 2);
    EXPECT_EQ(back.text(0, ReadingTable::Time), "10:00:00");
    EXPECT_TRUE(back.isNull(0, ReadingTable::Value));
    for (int f = 0; f < ReadingTable::FieldCount; ++f)
        EXPECT_TRUE(back.isNull(1, f)) << f;
    // An empty file is no table; a header alone is an empty one.
    writeAll(path("empty.csv"), "");
    EXPECT_FALSE(df::loadTableFile(path("empty.csv"), back, true).ok);
    writeAll(path("header.csv"), "No,Time,DateTime,DC/AC,Value,Unit,AUTO\r\n");
    EXPECT_TRUE(df::loadTableFile(path("header.csv"), back, true).ok);
    EXPECT_EQ(back.rowCount(), 0);
}

TEST_F(Csv, ATextTableGivenACsvNameLoadsAsOne) {
    ReadingTable t;
    add(t, {1, "10:00:00", "DC", "1,5", "V", "Pass"});
    ASSERT_TRUE(df::saveText(t, path("old.csv")).ok);
    ReadingTable back;
    const auto r = df::loadTableFile(path("old.csv"), back, false);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(dump(back), dump(t));
}

TEST_F(Csv, SplitsRecordsAsRfc4180Says) {
    bool ok = false;
    const QStringList f = df::splitCsvLine(u"1,,\"\",\"a\"\"b\",\"x,y\",z", QLatin1Char(','), &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(f.size(), 6);
    EXPECT_EQ(f[0], "1");
    EXPECT_TRUE(f[1].isNull());
    EXPECT_FALSE(f[2].isNull());
    EXPECT_TRUE(f[2].isEmpty());
    EXPECT_EQ(f[3], "a\"b");
    EXPECT_EQ(f[4], "x,y");
    EXPECT_EQ(f[5], "z");
    EXPECT_EQ(df::splitCsvLine(u"a;b,c", QLatin1Char(';'), &ok), QStringList({"a", "b,c"}));
    EXPECT_EQ(df::splitCsvLine(u"a,", QLatin1Char(','), &ok).size(), 2);
    df::splitCsvLine(u"\"open", QLatin1Char(','), &ok);
    EXPECT_FALSE(ok);
}

TEST_F(Csv, StreamedAsTheTextTableIs) {
    const QString file = path("stream.csv");
    TextTableFile out;
    QString error;
    ASSERT_TRUE(out.open(file, false, &error, df::csvHeader(u","))) << error.toStdString();
    ReadingTable t;
    for (int i = 1; i <= 3; ++i) {
        add(t, {i, "10:00:00", "DC", "1,5", "V", "Pass"});
        out.append(df::csvLine(t, t.rowCount() - 1, u",", QDate(2026, 3, 1)));
    }
    ASSERT_TRUE(out.finish());
    EXPECT_EQ(readAll(file), "No;Time;DateTime;DC/AC;Value;Unit;AUTO\r\n"
                             "1;10:00:00;2026-03-01T10:00:00;DC;\"1,5\";V;Pass\r\n"
                             "2;10:00:00;2026-03-01T10:00:00;DC;\"1,5\";V;Pass\r\n"
                             "3;10:00:00;2026-03-01T10:00:00;DC;\"1,5\";V;Pass\r\n");
    ReadingTable back;
    ASSERT_TRUE(df::loadTableFile(file, back, false).ok);
    EXPECT_EQ(dump(back), dump(t));
}
