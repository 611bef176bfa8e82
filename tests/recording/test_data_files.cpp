// Saving the reading table as a text table or an XML data packet and reading
// both back.
#include "core/recording/DataFiles.h"
#include "support/FileSizeLimit.h"
#include "support/TableFiles.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
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

// Every unit text the decoder produces, in the symbol font's characters.
const char* const kUnits[] = {"Hz", "kHz",  "MHz", "%",  "A",  "V)", "*",  "K*", "M*", "?",
                              "#",  "&  *", "nF",  "uF", "mF", "V",  "mV", "uA", "mA"};

struct Row {
    std::optional<int> no;
    const char* time;
    const char* function;
    const char* value;
    const char* unit;
    const char* judge;
    std::optional<int> count;
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
            t.setText(row, f, QString::fromLatin1(text));
    if (r.count)
        t.setInt(row, ReadingTable::NVal, *r.count);
}

class DataFiles : public ::testing::Test {
protected:
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir;
};

} // namespace

TEST_F(DataFiles, TextTableLineByLine) {
    ReadingTable t;
    add(t, {7, "12:04:31", "DC", "1.234", "V", "Pass", 1234});
    add(t, {std::nullopt, " 12:04:32\t", "", "0,5", "&  *", nullptr, std::nullopt});
    ASSERT_TRUE(df::saveText(t, path("log.txt")).ok);
    const QByteArray bytes = readAll(path("log.txt"));
    EXPECT_EQ(bytes, QByteArray("No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n"
                                "7\t12:04:31\tDC\t1.234\tV\tPass\r\n"
                                "\t12:04:32\tNULL\t0,5\t&  *\tNULL\r\n"));
    EXPECT_EQ(bytes.count("\r\n"), 3);
    EXPECT_EQ(bytes, df::textTable(t));
}

TEST_F(DataFiles, TextColumnsThatWouldNotReadBackAreQuoted) {
    ReadingTable t;
    add(t, {1, "a\tb", "\"q", "x\"y", "V", "Pass", std::nullopt});
    EXPECT_EQ(df::textTable(t).split('\n').at(1), QByteArray("1\t\"a\tb\"\t\"\"\"q\"\tx\"y\tV\tPass\r"));
    ASSERT_TRUE(df::saveText(t, path("q.txt")).ok);
    ReadingTable back;
    const auto r = df::loadText(back, path("q.txt"));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(back.text(0, ReadingTable::Time), "a\tb");
    EXPECT_EQ(back.text(0, ReadingTable::Function), "\"q");
    EXPECT_EQ(back.text(0, ReadingTable::Value), "x\"y");
}

TEST_F(DataFiles, TextRoundTripOfEveryUnitAndBothDecimalSeparators) {
    ReadingTable t;
    int no = 1;
    for (const char* unit : kUnits) {
        add(t, {no, "09:00:01", "DC", "1.5", unit, "Pass", std::nullopt});
        ++no;
        add(t, {no, "09:00:02", "AC", "-0,25", unit, "Fail", std::nullopt});
        ++no;
    }
    ASSERT_TRUE(df::saveText(t, path("units.xls")).ok);
    ReadingTable back;
    const auto r = df::loadText(back, path("units.xls"));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.rowsAdded, t.rowCount());
    EXPECT_FALSE(r.replaced);
    ASSERT_EQ(back.rowCount(), t.rowCount());
    for (qsizetype row = 0; row < t.rowCount(); ++row) {
        for (int f = 0; f < ReadingTable::NVal; ++f)
            EXPECT_EQ(back.text(row, f), t.text(row, f)) << "row " << row << " field " << f;
        EXPECT_TRUE(back.isNull(row, ReadingTable::NVal));
    }
    EXPECT_EQ(back.text(2 * 11, ReadingTable::Unit), "&  *");
}

TEST_F(DataFiles, TextNullsReadBackAsWritten) {
    ReadingTable t;
    add(t, {std::nullopt, "10:00:00", nullptr, "2", "V", "Pass", 5});
    ASSERT_TRUE(df::saveText(t, path("n.txt")).ok);
    ReadingTable back;
    ASSERT_TRUE(df::loadText(back, path("n.txt")).ok);
    ASSERT_EQ(back.rowCount(), 1);
    EXPECT_TRUE(back.isNull(0, ReadingTable::No));
    EXPECT_FALSE(back.isNull(0, ReadingTable::Function));
    EXPECT_EQ(back.text(0, ReadingTable::Function), "NULL");
    // The count is not part of the text table.
    EXPECT_TRUE(back.isNull(0, ReadingTable::NVal));
}

TEST_F(DataFiles, OnlyLowerCaseXmlExtensionSelectsThePacket) {
    EXPECT_TRUE(df::isXmlFileName("a/b.xml"));
    EXPECT_FALSE(df::isXmlFileName("data.XML"));
    EXPECT_FALSE(df::isXmlFileName("data.Xml"));
    EXPECT_FALSE(df::isXmlFileName("data.xls"));
    EXPECT_FALSE(df::isXmlFileName("xml"));

    ReadingTable t;
    add(t, {1, "10:00:00", "DC", "3", "V", "Pass", 3});
    ReadingTable loadedAsText;
    add(loadedAsText, {9, "08:00:00", "AC", "1", "A", "Fail", std::nullopt});
    ASSERT_TRUE(df::saveText(t, path("data.XML")).ok);
    EXPECT_TRUE(readAll(path("data.XML")).startsWith("No\tTime\t"));
    const auto r = df::loadTableFile(path("data.XML"), loadedAsText, false);
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.replaced);
    ASSERT_EQ(loadedAsText.rowCount(), 2); // appended, not replaced
    EXPECT_EQ(loadedAsText.text(1, ReadingTable::Value), "3");
}

TEST_F(DataFiles, LoadingTextTwiceAppendsTwice) {
    ReadingTable t;
    add(t, {1, "10:00:00", "DC", "1", "V", "Pass", std::nullopt});
    add(t, {2, "10:00:01", "DC", "2", "V", "Fail", std::nullopt});
    ASSERT_TRUE(df::saveText(t, path("twice.txt")).ok);
    ReadingTable back;
    ASSERT_TRUE(df::loadTableFile(path("twice.txt"), back, false).ok);
    ASSERT_TRUE(df::loadTableFile(path("twice.txt"), back, false).ok);
    ASSERT_EQ(back.rowCount(), 4);
    EXPECT_EQ(back.text(2, ReadingTable::No), "1");
    EXPECT_EQ(back.text(3, ReadingTable::Value), "2");
    ASSERT_TRUE(df::loadTableFile(path("twice.txt"), back, true).ok);
    EXPECT_EQ(back.rowCount(), 2);
}

TEST_F(DataFiles, EmptyOrMissingFileFails) {
    writeAll(path("empty.txt"), QByteArray());
    ReadingTable t;
    EXPECT_FALSE(df::loadText(t, path("empty.txt")).ok);
    EXPECT_FALSE(df::loadText(t, path("missing.txt")).ok);
    EXPECT_FALSE(df::loadXml(t, path("missing.xml")).ok);
    // A header alone is a valid, empty table.
    writeAll(path("header.txt"), "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n");
    EXPECT_TRUE(df::loadText(t, path("header.txt")).ok);
    EXPECT_EQ(t.rowCount(), 0);
}

TEST_F(DataFiles, FailingLineStopsAndLeavesNoHalfRow) {
    writeAll(path("bad.txt"), "header\r\n"
                              "1\t10:00:00\tDC\t1\tV\tPass\r\n"
                              "x\t10:00:01\tDC\t2\tV\tPass\r\n"
                              "3\t10:00:02\tDC\t3\tV\tPass\r\n");
    ReadingTable t;
    const auto r = df::loadText(t, path("bad.txt"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.rowsAdded, 1);
    ASSERT_EQ(t.rowCount(), 1);
    EXPECT_EQ(t.text(0, ReadingTable::No), "1");

    writeAll(path("long.txt"), "h\n1\ta\tb\tc\td\te\t7\t8\n");
    ReadingTable u;
    EXPECT_FALSE(df::loadText(u, path("long.txt")).ok);
    EXPECT_EQ(u.rowCount(), 0);

    // Old blank-separated lines: the seventh token lands in the count.
    writeAll(path("seven.txt"), "h\n1 a b c d e oops\n");
    ReadingTable v;
    EXPECT_FALSE(df::loadText(v, path("seven.txt")).ok);
    EXPECT_EQ(v.rowCount(), 0);
}

TEST_F(DataFiles, OldBlankSeparatedFilesStillLoad) {
    writeAll(path("old.txt"), "No Time DC/AC Value Unit AUTO\r\n"
                              "1 12:00:00 DC 1.5 V Pass\r\n"
                              "\r\n"
                              "  2  12:00:01 AC \"0 ,5\" \"K*\" Fail  3\n"
                              "\"4\" 12:00:02 DC 1\"\"2\r"
                              "5 NULL\r\n");
    ReadingTable t;
    const auto r = df::loadText(t, path("old.txt"));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.rowsAdded, 4);
    EXPECT_EQ(dump(t), QStringList({"1|12:00:00|DC|1.5|V|Pass|<null>", "2|12:00:01|AC|0 ,5|K*|Fail|3",
                                    "4|12:00:02|DC|1\"\"2|<null>|<null>|<null>",
                                    "5|NULL|<null>|<null>|<null>|<null>|<null>"}));
}

TEST_F(DataFiles, SplittingLines) {
    EXPECT_EQ(df::splitTextLine(u"  a  b\x01\"c d\"e"), QStringList({"a", "b", "c d", "e"}));
    EXPECT_EQ(df::splitTextLine(u"\t x \t\"y\tz\" \t&  *\t"), QStringList({"", "x", "y\tz", "&  *", ""}));
    EXPECT_EQ(df::splitTextLine(u"\"un\"\"closed"), QStringList({"un\"closed"}));
    bool ok = true;
    df::splitTextLine(u"1\t\"a\"b\tc", &ok);
    EXPECT_FALSE(ok);
    df::splitTextLine(u"1\t\"a\" \tc", &ok);
    EXPECT_TRUE(ok);
}

TEST_F(DataFiles, XmlPacketLayout) {
    ReadingTable t;
    add(t, {1, "10:00:00", "DC", "1.5", "V", "Pass", std::nullopt});
    const QString xml = QString::fromUtf8(df::xmlPacket(t));
    EXPECT_TRUE(xml.contains("<DATAPACKET Version=\"2.0\">"));
    EXPECT_TRUE(xml.contains("<FIELD attrname=\"No\" fieldtype=\"i4\"/>"));
    EXPECT_TRUE(xml.contains("<FIELD attrname=\"DC/AC\" fieldtype=\"string\" WIDTH=\"20\"/>"));
    EXPECT_TRUE(xml.contains("<FIELD attrname=\"NVal\" fieldtype=\"i4\"/>"));
    EXPECT_TRUE(xml.contains("<PARAMS/>"));
    EXPECT_TRUE(xml.contains("<ROW RowState=\"4\" No=\"1\" time=\"10:00:00\" DC_AC=\"DC\" Value=\"1.5\" "
                             "Unit=\"V\" Auto=\"Pass\"/>"));
    EXPECT_EQ(df::xmlAttributeName("DC/AC"), "DC_AC");
    EXPECT_EQ(df::xmlAttributeName("1x"), "_1x");
    EXPECT_EQ(df::xmlAttributeName(""), "_");
}

TEST_F(DataFiles, XmlRoundTripKeepsEveryFieldAndNull) {
    ReadingTable t;
    int no = 1;
    for (const char* unit : kUnits)
        add(t, {no++, "11:00:00", "DC", "1,5", unit, "Pass", no * 7 - 20000});
    add(t, {std::nullopt, nullptr, nullptr, nullptr, nullptr, nullptr, std::nullopt});
    add(t, {-5, "<&\"'>", " lead", "trail ", "\t", "Fail", 0});
    ASSERT_TRUE(df::saveXml(t, path("t.xml")).ok);
    ReadingTable back;
    add(back, {99, "old", "old", "old", "old", "old", 99});
    const auto r = df::loadXml(back, path("t.xml"));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.replaced);
    EXPECT_EQ(r.rowsAdded, t.rowCount());
    EXPECT_EQ(dump(back), dump(t));
    EXPECT_TRUE(back.isNull(t.rowCount() - 2, ReadingTable::Time));
}

TEST_F(DataFiles, MalformedXmlLeavesTableUnchanged) {
    ReadingTable t;
    add(t, {1, "10:00:00", "DC", "1", "V", "Pass", 1});
    const QStringList before = dump(t);
    ReadingTable source;
    add(source, {2, "10:00:01", "AC", "2", "A", "Fail", 2});
    const QByteArray good = df::xmlPacket(source);
    const QByteArray broken[] = {
        good.left(good.size() - 20),                        // cut short
        QByteArray("not xml at all"),                       // no document
        QByteArray(good).replace("No=\"2\"", "No=\"two\""), // integer that is not
        QByteArray(good).replace("DC_AC=", "Other="),       // unknown attribute
        QByteArray(good).replace("<DATAPACKET", "<PACKET").replace("</DATAPACKET", "</PACKET"),
        good + "<extra/>", // a second root
    };
    for (const auto& bytes : broken) {
        SCOPED_TRACE(bytes.left(80).toStdString());
        writeAll(path("bad.xml"), bytes);
        EXPECT_FALSE(df::loadXml(t, path("bad.xml")).ok);
        EXPECT_EQ(dump(t), before);
    }
    writeAll(path("good.xml"), good);
    EXPECT_TRUE(df::loadXml(t, path("good.xml")).ok);
    EXPECT_EQ(dump(t), dump(source));
}

TEST_F(DataFiles, PacketWithForeignFieldsIsRefused) {
    ReadingTable t;
    add(t, {1, "10:00:00", "DC", "1", "V", "Pass", 1});
    const QStringList before = dump(t);
    const QByteArray good = df::xmlPacket(t);
    const QByteArray foreign[] = {
        QByteArray(good).replace("attrname=\"NVal\"", "attrname=\"Count\""),
        QByteArray(good).replace("attrname=\"No\" fieldtype=\"i4\"", "attrname=\"No\" fieldtype=\"string\""),
        QByteArray(good).replace("<FIELD attrname=\"NVal\" fieldtype=\"i4\"/>", ""),
        QByteArray(good).replace("<FIELD attrname=\"NVal\" fieldtype=\"i4\"/>",
                                 "<FIELD attrname=\"NVal\" fieldtype=\"i4\"/><FIELD attrname=\"Extra\" "
                                 "fieldtype=\"i4\"/>"),
        QByteArray(good).replace("attrname=\"Auto\"", "attrname=\"time\""),
    };
    for (const auto& bytes : foreign) {
        ASSERT_NE(bytes, good);
        writeAll(path("foreign.xml"), bytes);
        EXPECT_FALSE(df::loadXml(t, path("foreign.xml")).ok);
        EXPECT_EQ(dump(t), before);
    }
    // Names match without regard to case.
    writeAll(path("case.xml"),
             QByteArray(good).replace("attrname=\"time\"", "attrname=\"TIME\"").replace(" time=", " TIME="));
    EXPECT_TRUE(df::loadXml(t, path("case.xml")).ok);
    EXPECT_EQ(dump(t), before);
}

TEST_F(DataFiles, FailedSaveKeepsTheOldFile) {
    ReadingTable t;
    add(t, {1, "10:00:00", "DC", "1", "V", "Pass", 1});
    EXPECT_FALSE(df::saveText(t, path("no/such/folder/x.txt")).ok);
    const auto xmlFail = df::saveXml(t, path("no/such/folder/x.xml"));
    EXPECT_FALSE(xmlFail.ok);
    EXPECT_FALSE(xmlFail.error.isEmpty());

    // A name taken by a folder: the save fails and what was there stays.
    ASSERT_TRUE(QDir(dir.path()).mkpath("taken.txt"));
    ASSERT_TRUE(QDir(dir.path()).mkpath("taken.xml"));
    writeAll(path("taken.txt/inside"), "kept");
    writeAll(path("taken.xml/inside"), "kept");
    EXPECT_FALSE(df::saveText(t, path("taken.txt")).ok);
    EXPECT_FALSE(df::saveXml(t, path("taken.xml")).ok);
    EXPECT_EQ(readAll(path("taken.txt/inside")), "kept");
    EXPECT_EQ(readAll(path("taken.xml/inside")), "kept");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

TEST_F(DataFiles, SaveThatFailsHalfWayKeepsTheOldFile) {
    ReadingTable t;
    for (int i = 0; i < 20000; ++i)
        add(t, {i, "10:00:00", "DC", "1.234", "V", "Pass", i});
    writeAll(path("old.txt"), "old text");
    writeAll(path("old.xml"), "old xml");
    df::SaveResult text;
    df::SaveResult xml;
    {
        // Room for the first pieces of the file but not for all of it.
        voltaro::testing::FileSizeLimit limit(100 * 1024);
        ASSERT_TRUE(limit.active());
        text = df::saveText(t, path("old.txt"));
        xml = df::saveXml(t, path("old.xml"));
    }
    EXPECT_FALSE(text.ok);
    EXPECT_FALSE(text.error.isEmpty());
    EXPECT_FALSE(xml.ok);
    EXPECT_FALSE(xml.error.isEmpty());
    EXPECT_EQ(readAll(path("old.txt")), "old text");
    EXPECT_EQ(readAll(path("old.xml")), "old xml");
    // No half-written copies are left beside them.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"old.txt", "old.xml"}));
    // The same table saves in full once there is room.
    ASSERT_TRUE(df::saveText(t, path("old.txt")).ok);
    ReadingTable back;
    ASSERT_TRUE(df::loadText(back, path("old.txt")).ok);
    // The file is read in pieces: lines cut at a piece's end read back whole.
    EXPECT_EQ(back.rowCount(), t.rowCount());
    EXPECT_EQ(df::textTable(back), df::textTable(t));
}

TEST_F(DataFiles, SaveIntoReadOnlyFolderKeepsTheOldFile) {
    ReadingTable t;
    add(t, {1, "10:00:00", "DC", "1", "V", "Pass", 1});
    ASSERT_TRUE(QDir(dir.path()).mkdir("locked"));
    const QString old = path("locked/old.txt");
    writeAll(old, "old contents");
    const QString oldXml = path("locked/old.xml");
    writeAll(oldXml, "old xml");
    QFile::setPermissions(path("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QFile probe(path("locked/probe"));
    const bool permissionsIgnored = probe.open(QIODevice::WriteOnly);
    const bool textSaved = df::saveText(t, old).ok;
    const bool xmlSaved = df::saveXml(t, oldXml).ok;
    QFile::setPermissions(path("locked"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (permissionsIgnored)
        GTEST_SKIP() << "running with rights that ignore folder permissions";
    EXPECT_FALSE(textSaved);
    EXPECT_FALSE(xmlSaved);
    EXPECT_EQ(readAll(old), "old contents");
    EXPECT_EQ(readAll(oldXml), "old xml");
}

TEST_F(DataFiles, AnXmlSaveThatWouldDropAControlCharacterIsRefusedAndTheOldFileStays) {
    ReadingTable t;
    add(t, {1, "10:00:00", "DC", "1.5", "V", "Pass", 1});
    ASSERT_TRUE(df::saveXml(t, path("t.xml")).ok);
    const QByteArray before = readAll(path("t.xml"));
    // Loaded from a text file, where it is a character like any other.
    writeAll(path("odd.txt"), "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n2\t10:00:01\tDC\t1\v5\tV\tPass\r\n");
    ASSERT_TRUE(df::loadText(t, path("odd.txt")).ok);
    ASSERT_EQ(t.text(1, ReadingTable::Value), QStringLiteral("1\v5"));
    const auto result = df::saveXml(t, path("t.xml"));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(
        result.error.contains(QStringLiteral("row 2, column \"Value\" holds the control character 0x0B")))
        << result.error.toStdString();
    EXPECT_EQ(readAll(path("t.xml")), before);
    // The text table carries it and reads it back.
    ASSERT_TRUE(df::saveText(t, path("again.txt")).ok);
    ReadingTable back;
    ASSERT_TRUE(df::loadText(back, path("again.txt")).ok);
    EXPECT_EQ(back.text(1, ReadingTable::Value), QStringLiteral("1\v5"));
}

TEST_F(DataFiles, TextsAreCutAtACharacterBoundaryAndASmallTableIsSmall) {
    ReadingTable t;
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80"); // two UTF-16 units
    add(t, {1, "10:00:00", "DC", "1", "V", "Pass", 1});
    t.setText(0, ReadingTable::Judge, QString(19, u'x') + smile);
    EXPECT_EQ(t.text(0, ReadingTable::Judge), QString(19, u'x'));
    t.setText(0, ReadingTable::Judge, QString(18, u'x') + smile + smile);
    EXPECT_EQ(t.text(0, ReadingTable::Judge), QString(18, u'x') + smile);
    // One row takes room for a few rows, not for tens of thousands.
    EXPECT_LT(t.memoryBytes(), 8192u);
}

TEST_F(DataFiles, ALineLongerThanAnyTableLineStopsTheLoad) {
    // A row that would read, were it not a megabyte long: no table has such a line.
    writeAll(path("long.txt"), "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n1\t10:00:00\tDC\t1\tV\tPass\r\n"
                               "2\t10:00:01\tDC\t1\tV\tPass" +
                                   QByteArray(1 << 20, ' ') + "\r\n3\t10:00:02\tDC\t1\tV\tPass\r\n");
    ReadingTable t;
    const auto r = df::loadText(t, path("long.txt"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.rowsAdded, 1);
    EXPECT_EQ(t.rowCount(), 1);
}
