// A data file that changes while the window loads it: truncated, rewritten
// in place, or replaced by renaming another over it, at an exact point of the
// load (after its first read, through a read(2) the test stands between).
#include "core/recording/DataFiles.h"
#include "core/recording/ReadingTableModel.h"
#include "support/ReadInterposer.h"
#include "support/WindowTestSupport.h"
#include "widgets/app/TFCOMM.h"

#include <QFile>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

using namespace voltaro;
using voltaro::testing::AfterFirstRead;
using voltaro::testing::control;
using voltaro::testing::Expect;
using voltaro::testing::FileDialogAnswer;
using voltaro::testing::MessageBoxAnswer;

namespace {

// Rows enough for a text table several times longer than one read.
constexpr int kRows = 8000;

// A table of `rows` readings whose values start at `first`.
ReadingTable readings(int rows, int first) {
    ReadingTable t;
    for (int i = 0; i < rows; ++i) {
        const auto row = t.appendRow();
        t.setInt(row, ReadingTable::No, i + 1);
        t.setText(row, ReadingTable::Time, u"10:00:00");
        t.setText(row, ReadingTable::Function, u"DC");
        t.setText(row, ReadingTable::Value, QString::number(first + i));
        t.setText(row, ReadingTable::Unit, u"V");
        t.setText(row, ReadingTable::Judge, u"Pass");
        t.setInt(row, ReadingTable::NVal, first + i);
    }
    return t;
}

QStringList lines(const ReadingTable& t, qsizetype from = 0) {
    QStringList out;
    for (qsizetype r = from; r < t.rowCount(); ++r)
        out << QString::fromLatin1(datafiles::textLine(t, r));
    return out;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

class LoadWhileChanging : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        w = std::make_unique<TFCOMM>();
        w->show();
        control<QTimer>(*w, "Trecord")->stop();
        // One row recorded before the load.
        voltaro::testing::SerialFeeder feed(*w);
        feed(voltaro::testing::meterFrame(11, 1, "01234"));
        w->recording().model().flush();
        ASSERT_EQ(table().rowCount(), 1);
        before = lines(table());
    }
    const ReadingTable& table() { return w->recording().table(); }

    // Loads `file` through "Open old data files", with `change` done to it
    // after the load's first read; returns the message shown ("" for none).
    QString loadWhile(const QString& file, const std::function<void()>& change) {
        AfterFirstRead hook(QFile::encodeName(file).constData(), change);
        FileDialogAnswer name(file);
        MessageBoxAnswer box(QMessageBox::Ok, Expect::Optional);
        control<QToolButton>(*w, "OpenDataFiles")->click();
        EXPECT_GT(hook.reads(), 0) << "the file was never read";
        return box.text();
    }

    QTemporaryDir dir;
    std::unique_ptr<TFCOMM> w;
    QStringList before;
};

} // namespace

// Text: the rows of the whole lines read before the change stay, each exactly
// as in the file, the load is said to have failed, and no line cut short or
// made of two files becomes a row.
TEST_F(LoadWhileChanging, ATextTableTruncatedOrRewrittenMidLoadKeepsOnlyWholeLinesAndSaysItFailed) {
    const ReadingTable original = readings(kRows, 100000);
    const QByteArray bytes = datafiles::textTable(original);
    const QString file = dir.filePath("table.txt");
    // Cut in the middle of a line far beyond the first read; rewritten to the
    // same length with other values.
    const qsizetype cut = bytes.indexOf("\r\n", bytes.size() / 2) - 3;
    const QByteArray rewritten = datafiles::textTable(readings(kRows, 200000));
    ASSERT_EQ(rewritten.size(), bytes.size());
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"truncated", [&] { ASSERT_EQ(::truncate(QFile::encodeName(file).constData(), cut), 0); }},
        {"rewritten", [&] { writeFile(file, rewritten); }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        writeFile(file, bytes);
        const qsizetype rowsBefore = table().rowCount();
        EXPECT_EQ(loadWhile(file, change), "Failed to Load File!");
        const qsizetype added = table().rowCount() - rowsBefore;
        EXPECT_LT(added, kRows / 2) << "rows beyond the first read were taken";
        EXPECT_EQ(lines(table(), rowsBefore), lines(original).mid(0, added));
        EXPECT_EQ(w->recording().model().rowCount(), table().rowCount());
        EXPECT_EQ(lines(table()).mid(0, 1), before);
    }
}

// XML: a packet that changes while it is read is refused and the table stays
// as it was.
TEST_F(LoadWhileChanging, AnXmlPacketTruncatedOrRewrittenMidLoadIsRefusedAndTheTableStays) {
    const QByteArray bytes = datafiles::xmlPacket(readings(kRows, 100000));
    const QByteArray rewritten = datafiles::xmlPacket(readings(kRows, 200000));
    ASSERT_EQ(rewritten.size(), bytes.size());
    const QString file = dir.filePath("table.xml");
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"truncated",
         [&] { ASSERT_EQ(::truncate(QFile::encodeName(file).constData(), bytes.size() / 2), 0); }},
        {"rewritten", [&] { writeFile(file, rewritten); }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        writeFile(file, bytes);
        EXPECT_EQ(loadWhile(file, change), "Failed to Load File!");
        EXPECT_EQ(lines(table()), before);
        EXPECT_EQ(w->recording().model().rowCount(), 1);
    }
}

// Another file renamed over the one being loaded (as a save does) leaves the
// load reading the old one, whole: every row of it, and no message.
TEST_F(LoadWhileChanging, AFileReplacedByRenameMidLoadLoadsAsItWas) {
    const ReadingTable original = readings(kRows, 100000);
    for (const char* name : {"table.txt", "table.xml"}) {
        SCOPED_TRACE(name);
        const QString file = dir.filePath(name);
        const QString other = dir.filePath(QStringLiteral("new-") + name);
        const bool xml = datafiles::isXmlFileName(file);
        writeFile(file, xml ? datafiles::xmlPacket(original) : datafiles::textTable(original));
        writeFile(other, xml ? datafiles::xmlPacket(readings(10, 5)) : datafiles::textTable(readings(10, 5)));
        const qsizetype rowsBefore = xml ? 0 : table().rowCount();
        EXPECT_EQ(loadWhile(file,
                            [&] {
                                ASSERT_EQ(::rename(QFile::encodeName(other).constData(),
                                                   QFile::encodeName(file).constData()),
                                          0);
                            }),
                  "");
        EXPECT_EQ(lines(table(), rowsBefore), lines(original));
    }
}
