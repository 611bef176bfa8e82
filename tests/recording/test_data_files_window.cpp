// Saving and loading data files through the window's handlers, answering
// the real file dialogs and message boxes as a user would.
#include "core/recording/DataFiles.h"
#include "core/recording/Journal.h"
#include "core/recording/JournalFormat.h"
#include "core/recording/ReadingTableModel.h"
#include "support/FileSizeLimit.h"
#include "support/WindowTestSupport.h"
#include "widgets/app/TFCOMM.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

static void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

using namespace voltaro;
using voltaro::testing::control;

namespace {

class DataFilesWindow : public ::testing::Test {
protected:
    void SetUp() override {
        w = std::make_unique<TFCOMM>();
        w->show();
        control<QTimer>(*w, "Trecord")->stop();
    }

    void addRow(int no, const char* value, const char* unit) {
        const auto row = w->recording().table().appendRow();
        w->recording().table().setInt(row, ReadingTable::No, no);
        w->recording().table().setText(row, ReadingTable::Time, u"10:00:00");
        w->recording().table().setText(row, ReadingTable::Function, u"DC");
        w->recording().table().setText(row, ReadingTable::Value, QString::fromLatin1(value));
        w->recording().table().setText(row, ReadingTable::Unit, QString::fromLatin1(unit));
        w->recording().table().setText(row, ReadingTable::Judge, u"Pass");
        w->recording().model().rowsAppended();
        w->recording().model().flush();
    }

    // What a message box showed.
    struct Box {
        QString text;
        QString title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool askedToReplace = false; // the save dialog asked before overwriting
    };

    // Clicks `button` with the file dialog answered with `file`, a question
    // to replace an existing file answered with Yes, and any message box
    // that follows answered with OK; returns that box ("" text when none
    // came). The watcher ends with the click, so it can never answer a box
    // of a later step.
    static Box click(QToolButton* button, const QString& file) {
        using voltaro::testing::Expect;
        voltaro::testing::FileDialogAnswer name(file);
        voltaro::testing::MessageBoxAnswer replace(QMessageBox::Yes, Expect::Optional);
        voltaro::testing::MessageBoxAnswer result(QMessageBox::Ok, Expect::Optional);
        button->click();
        return Box{result.text(), result.title(), result.icon(), replace.answered() > 0};
    }

    QString saveAs(const QString& file) { return click(control<QToolButton>(*w, "saveas"), file).text; }

    int gridRows() const { return w->recording().model().rowCount(); }

    QTemporaryDir dir;
    std::unique_ptr<TFCOMM> w;
};

} // namespace

TEST_F(DataFilesWindow, TextSaveThenLoadAppends) {
    addRow(1, "1.5", "V");
    addRow(2, "0,25", "&  *");
    const QString file = dir.filePath("log.txt");
    EXPECT_EQ(saveAs(file), "save table to specified file: " + file + " Scuss!");
    ASSERT_TRUE(QFile::exists(file));
    ASSERT_NE(control<QFileDialog>(*w, "SaveDialog2"), nullptr);
    EXPECT_EQ(control<QFileDialog>(*w, "SaveDialog2")->defaultSuffix(), "xls");
    EXPECT_EQ(control<QFileDialog>(*w, "SaveDialog2")->nameFilters(),
              QStringList({"Excel File(*.xls)", "XML(*.xml)", "Txt File(*.txt)", "CSV File(*.csv)"}));

    const QString noBox = click(control<QToolButton>(*w, "OpenDataFiles"), file).text;
    EXPECT_TRUE(noBox.isEmpty());
    ASSERT_EQ(w->recording().table().rowCount(), 4);
    EXPECT_EQ(gridRows(), 4);
    EXPECT_EQ(w->recording().table().text(3, ReadingTable::Unit), "&  *");
    EXPECT_EQ(w->recording().table().text(2, ReadingTable::No), "1");
    EXPECT_EQ(control<QFileDialog>(*w, "OpenDialog1")->nameFilters(),
              QStringList({"Exel File(*.xls)", "XML (*.xml)", "Txt File(*.txt)", "CSV File(*.csv)"}));
}

TEST_F(DataFilesWindow, XmlLoadReplacesTheTable) {
    addRow(1, "1.5", "V");
    const QString file = dir.filePath("one.xml");
    EXPECT_EQ(saveAs(file), ""); // an XML save says nothing when it works
    ASSERT_TRUE(QFile::exists(file));
    addRow(2, "2", "A");
    addRow(3, "3", "mV");
    EXPECT_EQ(gridRows(), 3);
    EXPECT_EQ(click(control<QToolButton>(*w, "OpenDataFiles"), file).text, "");
    ASSERT_EQ(w->recording().table().rowCount(), 1);
    EXPECT_EQ(gridRows(), 1);
    EXPECT_EQ(w->recording().table().text(0, ReadingTable::Value), "1.5");
}

TEST_F(DataFilesWindow, FailedLoadShowsErrorBox) {
    addRow(1, "1.5", "V");
    const QString file = dir.filePath("empty.txt");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const Box box = click(control<QToolButton>(*w, "OpenDataFiles"), file);
    EXPECT_EQ(box.text, "Failed to Load File!");
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.title, "Error");
    EXPECT_EQ(w->recording().table().rowCount(), 1);
}

TEST_F(DataFilesWindow, FailedSavesSayWhyAndKeepTheOldFile) {
    for (int i = 1; i < 5000; ++i)
        addRow(i, "1.5", "V");
    const QString old = dir.filePath("old.txt");
    const QString oldXml = dir.filePath("old.xml");
    for (const QString& f : {old, oldXml}) {
        QFile file(f);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("before");
    }
    // Nothing can be written at all, then a disk that fills up part-way
    // through: each save says so, and the old file stays as it was.
    for (const rlim_t room : {rlim_t(0), rlim_t(64 * 1024)}) {
        Box text;
        Box xml;
        {
            voltaro::testing::FileSizeLimit limit(room);
            ASSERT_TRUE(limit.active());
            text = click(control<QToolButton>(*w, "saveas"), old);
            xml = click(control<QToolButton>(*w, "saveas"), oldXml);
        }
        EXPECT_TRUE(text.askedToReplace);
        EXPECT_EQ(text.text, "Could not save table to specified file: " + old);
        EXPECT_TRUE(xml.askedToReplace);
        EXPECT_TRUE(xml.text.startsWith("Could not save table to specified file: " + oldXml));
        for (const QString& f : {old, oldXml}) {
            QFile file(f);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_EQ(file.readAll(), "before");
        }
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"old.txt", "old.xml"}));
}

TEST_F(DataFilesWindow, CancelledDialogsDoNothing) {
    addRow(1, "1.5", "V");
    EXPECT_EQ(saveAs(QString()), "");
    EXPECT_EQ(click(control<QToolButton>(*w, "OpenDataFiles"), QString()).text, "");
    EXPECT_EQ(w->recording().table().rowCount(), 1);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

TEST_F(DataFilesWindow, RefusedPacketKeepsTheTableRecording) {
    addRow(1, "1.5", "V");
    w->recording().recorder().NextRecordNo = 2;
    const QString good = dir.filePath("good.xml");
    ASSERT_EQ(saveAs(good), "");
    QFile in(good);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray foreign = in.readAll().replace("attrname=\"NVal\"", "attrname=\"Count\"");
    for (const auto& [name, bytes] :
         {std::pair{"foreign.xml", foreign}, std::pair{"broken.xml", QByteArray("<DATA")}}) {
        const QString file = dir.filePath(name);
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
        out.close();
        const Box box = click(control<QToolButton>(*w, "OpenDataFiles"), file);
        EXPECT_EQ(box.text, "Failed to Load File!") << name;
        EXPECT_EQ(box.title, "Error");
        EXPECT_EQ(w->recording().table().rowCount(), 1);
    }

    // The next reading is recorded after the row that was there, as before.
    Reading r;
    r.FuncText = "DC";
    r.UnitText = "V";
    r.ValueText = "2.000";
    r.JudgeText = "Pass";
    w->recording().INDataToTable(r);
    w->recording().model().flush();
    ASSERT_EQ(w->recording().table().rowCount(), 2);
    EXPECT_EQ(gridRows(), 2);
    EXPECT_EQ(w->recording().table().text(1, ReadingTable::No), "2");
    EXPECT_EQ(w->recording().table().text(1, ReadingTable::Value), "2.000");
}

TEST_F(DataFilesWindow, UpperCaseXmlNameIsATextTable) {
    addRow(1, "1.5", "&  *");
    const QString file = dir.filePath("data.XML");
    EXPECT_EQ(saveAs(file), "save table to specified file: " + file + " Scuss!");
    QFile saved(file);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray("No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n"
                                          "1\t10:00:00\tDC\t1.5\t&  *\tPass\r\n"));
    EXPECT_EQ(click(control<QToolButton>(*w, "OpenDataFiles"), file).text, "");
    ASSERT_EQ(w->recording().table().rowCount(), 2); // appended, not replaced
    EXPECT_EQ(w->recording().table().text(1, ReadingTable::Unit), "&  *");
}

// CSV in the window's decimal separator: semicolons where it is a comma. The
// rows load back through "Open old data files", appended as a text table's.
TEST_F(DataFilesWindow, CsvSaveFollowsTheDecimalSeparatorAndLoadsBack) {
    addRow(1, "1,5", "V");
    addRow(2, "0L", "M*");
    w->recording().table().setLastRowAt(QDateTime(QDate(2026, 3, 1), QTime(10, 0, 5)).toMSecsSinceEpoch());
    for (const char* sep : {",", "."}) {
        SCOPED_TRACE(sep);
        w->pipeline().setDecimalSep(sep);
        const QString file = dir.filePath(sep[0] == ',' ? "semicolon.csv" : "COMMA.CSV");
        EXPECT_EQ(saveAs(file), ""); // a CSV save says nothing when it works, as an XML save
        QFile saved(file);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_EQ(saved.readAll(), sep[0] == ','
                                       ? QByteArray("No;Time;DateTime;DC/AC;Value;Unit;AUTO\r\n"
                                                    "1;10:00:00;2026-03-01T10:00:00;DC;\"1,5\";V;Pass\r\n"
                                                    "2;10:00:00;2026-03-01T10:00:00;DC;0L;M*;Pass\r\n")
                                       : QByteArray("No,Time,DateTime,DC/AC,Value,Unit,AUTO\r\n"
                                                    "1,10:00:00,2026-03-01T10:00:00,DC,1.5,V,Pass\r\n"
                                                    "2,10:00:00,2026-03-01T10:00:00,DC,0L,M*,Pass\r\n"));
    }
    EXPECT_EQ(click(control<QToolButton>(*w, "OpenDataFiles"), dir.filePath("semicolon.csv")).text, "");
    ASSERT_EQ(w->recording().table().rowCount(), 4);
    EXPECT_EQ(gridRows(), 4);
    EXPECT_EQ(w->recording().table().text(2, ReadingTable::Value), "1,5");
    EXPECT_EQ(w->recording().table().text(3, ReadingTable::Value), "0L");
    EXPECT_EQ(w->recording().table().text(3, ReadingTable::Unit), "M*");
    // A CSV that does not load says so, as the other formats do.
    QFile broken(dir.filePath("broken.csv"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("No,Time\r\nx,10:00:00\r\n");
    broken.close();
    EXPECT_EQ(click(control<QToolButton>(*w, "OpenDataFiles"), broken.fileName()).text,
              "Failed to Load File!");
}

// The disk fills up while the window records: the journal cannot grow, then
// saving fails too. Each is told, the files already there stay byte for byte,
// and every frame that arrives meanwhile still becomes a row; once there is
// room again the journal catches up with all of them.
TEST_F(DataFilesWindow, AFullDiskIsToldKeepsTheOldFilesAndRecordingGoesOn) {
    using voltaro::testing::MessageBoxAnswer;
    using voltaro::testing::waitUntil;
    voltaro::testing::SerialFeeder feed(*w);
    int count = 100;
    const auto frames = [&count](int n) {
        std::vector<sim::MeterFrame> out;
        for (int i = 0; i < n; ++i)
            out.push_back(voltaro::testing::meterFrame(11, 1, "01234").withCount(count++));
        return out;
    };
    const auto rowLines = [this] {
        QStringList out;
        for (qsizetype r = 0; r < w->recording().table().rowCount(); ++r)
            out << QString::fromLatin1(datafiles::textLine(w->recording().table(), r));
        return out;
    };
    const auto journalled = [this] {
        ReadingTable rows;
        std::vector<journalformat::Entry> entries;
        QFile file(w->recording().journal().path());
        if (!file.open(QIODevice::ReadOnly))
            return qsizetype(0);
        journalformat::read(file.readAll(), rows, entries);
        return rows.rowCount();
    };
    Journal& journal = w->recording().journal();
    feed(frames(3));
    ASSERT_TRUE(waitUntil([&] { return journalled() == 3; }, 5000));

    const QString old = dir.filePath("old.txt");
    const QString oldXml = dir.filePath("old.xml");
    ASSERT_EQ(saveAs(old), "save table to specified file: " + old + " Scuss!");
    ASSERT_EQ(saveAs(oldXml), "");
    QByteArray oldBytes[2];
    for (int i = 0; i < 2; ++i) {
        QFile f(i == 0 ? old : oldXml);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        oldBytes[i] = f.readAll();
    }
    // The saves emptied the journal; three more rows fill it again.
    feed(frames(3));
    ASSERT_TRUE(waitUntil([&] { return journalled() == 3 && journal.unsavedRows() == 3; }, 5000));
    {
        // Not a byte more for any file of the program.
        voltaro::testing::FileSizeLimit full(QFileInfo(journal.path()).size());
        ASSERT_TRUE(full.active());
        {
            MessageBoxAnswer told(QMessageBox::Ok);
            feed(frames(2));
            ASSERT_TRUE(waitUntil([&] { return told.answered() > 0; }, 5000));
            EXPECT_TRUE(told.text().startsWith("The readings are not protected"))
                << told.text().toStdString();
            EXPECT_EQ(journal.health(), Journal::Health::Failing);
        }
        EXPECT_EQ(w->recording().table().rowCount(), 8);

        const Box text = click(control<QToolButton>(*w, "saveas"), old);
        EXPECT_TRUE(text.askedToReplace);
        EXPECT_EQ(text.text, "Could not save table to specified file: " + old);
        const Box xml = click(control<QToolButton>(*w, "saveas"), oldXml);
        EXPECT_TRUE(xml.text.startsWith("Could not save table to specified file: " + oldXml))
            << xml.text.toStdString();
        for (int i = 0; i < 2; ++i) {
            QFile f(i == 0 ? old : oldXml);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), oldBytes[i]) << f.fileName().toStdString();
        }
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"old.txt", "old.xml"}));
        EXPECT_EQ(journal.unsavedRows(), 5) << "a failed save leaves the rows unsaved";

        // Frames after the failures are still recorded.
        feed(frames(2));
        w->recording().model().flush();
        EXPECT_EQ(w->recording().table().rowCount(), 10);
        EXPECT_EQ(gridRows(), 10);
    }
    MessageBoxAnswer again(QMessageBox::Ok);
    ASSERT_TRUE(waitUntil([&] { return again.answered() > 0; }, 5000));
    EXPECT_TRUE(again.text().contains("protected once more")) << again.text().toStdString();
    // The journal holds every unsaved row, whole and in order.
    ASSERT_TRUE(waitUntil([&] { return journalled() == 7; }, 5000));
    ReadingTable rows;
    std::vector<journalformat::Entry> entries;
    QFile file(journal.path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    journalformat::read(file.readAll(), rows, entries);
    QStringList journalLines;
    for (qsizetype r = 0; r < rows.rowCount(); ++r)
        journalLines << QString::fromLatin1(datafiles::textLine(rows, r));
    EXPECT_EQ(journalLines, rowLines().mid(3));
}
