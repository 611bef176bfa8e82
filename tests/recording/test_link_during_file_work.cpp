// The link goes on while the window loads or saves a large data file: the
// serial line's bytes are read from the terminal meanwhile (none waits for
// the file until the terminal is full), held, and recorded in order once the
// file is done. The meter is a pseudo-terminal behind "COM1" that the test
// writes frames into during the load or save, at an exact point of it: after
// the file's first read or write, which waits until the window has taken
// them all in.
#include "core/recording/DataFiles.h"
#include "core/recording/ReadingTableModel.h"
#include "support/LinkTestSupport.h"
#include "support/ReadInterposer.h"
#include "support/WindowTestSupport.h"
#include "support/WriteInterposer.h"
#include "widgets/app/TFCOMM.h"

#include <QApplication>
#include <QDir>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace voltaro;
using voltaro::testing::AfterFirstRead;
using voltaro::testing::AfterFirstWrite;
using voltaro::testing::control;
using voltaro::testing::Expect;
using voltaro::testing::MessageBoxAnswer;
using voltaro::testing::Pty;

namespace {

// More bytes than the terminal holds unread: a window that did not read
// the line while the file loads would leave the writer waiting for good.
constexpr int kFrames = 6000;
constexpr int kFileRows = 200'000;

ReadingTable bigTable() {
    ReadingTable t;
    for (int i = 0; i < kFileRows; ++i) {
        const auto row = t.appendRow();
        t.setInt(row, ReadingTable::No, i + 1);
        t.setText(row, ReadingTable::Time, QStringLiteral("09:%1:%2").arg(i / 60 % 60).arg(i % 60));
        t.setText(row, ReadingTable::Function, u"DC");
        t.setText(row, ReadingTable::Value, QString::number(i));
        t.setText(row, ReadingTable::Unit, u"V");
        t.setText(row, ReadingTable::Judge, u"Pass");
        t.setInt(row, ReadingTable::NVal, i);
    }
    return t;
}

std::vector<sim::MeterFrame> countingFrames(int first) {
    std::vector<sim::MeterFrame> frames;
    for (int i = 0; i < kFrames; ++i)
        frames.push_back(voltaro::testing::meterFrame(11, 1, "00000").withCount((first + i) % 100000));
    return frames;
}

QStringList values(const ReadingTable& t, qsizetype from) {
    QStringList out;
    for (qsizetype r = from; r < t.rowCount(); ++r)
        out << t.text(r, ReadingTable::Value);
    return out;
}

// "COM1" names the pseudo-terminal for one test.
class Com1Override {
public:
    explicit Com1Override(const QString& device) { qputenv("VOLTARO_COM1", device.toLocal8Bit()); }
    ~Com1Override() { qunsetenv("VOLTARO_COM1"); }
};

class LinkDuringFileWork : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(pty.ok()) << pty.error().toStdString();
        w = std::make_unique<TFCOMM>();
        w->show();
        control<QTimer>(*w, "Trecord")->stop();
        control<QPushButton>(*w, "COMCon")->click();
        ASSERT_TRUE(w->linkBar().driver().Connected());
    }
    const ReadingTable& table() { return w->recording().table(); }

    // Writes the frames' bytes into the terminal, a piece at a time, and
    // waits until the window has read them all; false when it did not. Runs
    // on another thread than the window's. The line feed before the first
    // frame comes only when the stream starts with these frames.
    bool sendAndWaitUntilRead(const std::vector<sim::MeterFrame>& frames, bool streamStarts = true) {
        auto bytes = voltaro::testing::serialBytes(frames);
        if (!streamStarts)
            bytes.erase(bytes.begin());
        const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        for (std::size_t at = 0; at < all.size(); at += 4096)
            if (!pty.send(all.substr(at, 4096)))
                return false;
        const QDeadlineTimer deadline(10000);
        while (voltaro::testing::pendingBytes(pty.slave()) != 0)
            if (deadline.hasExpired())
                return false;
            else
                QThread::msleep(5);
        return true;
    }

    // Loads `file` with the frames sent after its first read; returns the
    // progress dialog's text if one showed.
    QString loadWhileFramesArrive(const QString& file, const std::vector<sim::MeterFrame>& frames,
                                  bool streamStarts) {
        std::atomic<bool> read{false};
        AfterFirstRead hook(QFile::encodeName(file).constData(),
                            [&] { read = sendAndWaitUntilRead(frames, streamStarts); });
        QString shown;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, [&] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QProgressDialog*>(top); dialog && dialog->isVisible())
                    shown = dialog->labelText();
        });
        look.start(20);
        MessageBoxAnswer box(QMessageBox::Ok, Expect::Optional);
        w->recording().LoadTableFile(file, false);
        EXPECT_EQ(box.answered(), 0) << box.text().toStdString();
        EXPECT_GT(hook.reads(), 0);
        EXPECT_TRUE(read) << "the window did not read the line while the file loaded";
        return shown;
    }

    QTemporaryDir dir;
    Pty pty;
    Com1Override com1{pty.path()};
    std::unique_ptr<TFCOMM> w;
};

} // namespace

TEST_F(LinkDuringFileWork, FramesThatArriveWhileAPacketLoadsAreRecordedAfterItsRowsInOrder) {
    const ReadingTable file = bigTable();
    const QString name = dir.filePath("big.xml");
    ASSERT_TRUE(datafiles::saveXml(file, name).ok);
    const auto frames = countingFrames(1);

    const QString shown = loadWhileFramesArrive(name, frames, true);
    EXPECT_EQ(shown, "Loading big.xml...");
    // The packet replaced the table; every frame came after it, none lost.
    ASSERT_EQ(table().rowCount(), kFileRows + kFrames);
    EXPECT_EQ(table().text(kFileRows - 1, ReadingTable::Value),
              file.text(kFileRows - 1, ReadingTable::Value));
    EXPECT_EQ(values(table(), kFileRows), voltaro::testing::valuesOf(*w, frames));
    w->recording().model().flush();
    EXPECT_EQ(w->recording().model().rowCount(), kFileRows + kFrames);
    // The journal holds the rows recorded since the packet replaced the table.
    EXPECT_EQ(w->recording().unsavedRows(), kFrames);
}

TEST_F(LinkDuringFileWork, FramesThatArriveWhileATextTableLoadsAreRecordedAfterItsRowsInOrder) {
    // One row recorded before: the text table's rows come after it, then the frames.
    std::atomic<bool> sent{false};
    std::thread meter([&] { sent = sendAndWaitUntilRead({voltaro::testing::meterFrame(11, 1, "01234")}); });
    ASSERT_TRUE(voltaro::testing::waitUntil([&] { return sent && table().rowCount() == 1; }));
    meter.join();
    const QString name = dir.filePath("big.txt");
    ASSERT_TRUE(datafiles::saveText(bigTable(), name).ok);
    // The stream goes on from that frame: no line feed to start it.
    const auto frames = countingFrames(1);
    const QString shown = loadWhileFramesArrive(name, frames, false);
    EXPECT_EQ(shown, "Loading big.txt...");
    ASSERT_EQ(table().rowCount(), 1 + kFileRows + kFrames);
    EXPECT_EQ(table().text(1, ReadingTable::Value), "0");
    EXPECT_EQ(values(table(), 1 + kFileRows), voltaro::testing::valuesOf(*w, frames));
}

// Frames that arrive while the table is saved are recorded after the save,
// and so are in the journal, not in the file.
TEST_F(LinkDuringFileWork, FramesThatArriveWhileTheTableIsSavedAreRecordedAfterItAndJournalled) {
    const QString loaded = dir.filePath("big.xml");
    ASSERT_TRUE(datafiles::saveXml(bigTable(), loaded).ok);
    w->recording().LoadTableFile(loaded, false);
    ASSERT_EQ(table().rowCount(), kFileRows);

    const auto frames = countingFrames(1);
    std::atomic<bool> read{false};
    const QString saved = dir.filePath("saved.txt");
    {
        AfterFirstWrite hook(QFile::encodeName(QDir(dir.path()).canonicalPath()).constData(),
                             [&] { read = sendAndWaitUntilRead(frames); });
        MessageBoxAnswer box(QMessageBox::Ok);
        w->recording().SaveTableAsText(saved);
        EXPECT_TRUE(box.text().contains("Scuss")) << box.text().toStdString();
        EXPECT_GT(hook.writes(), 0);
    }
    EXPECT_TRUE(read) << "the window did not read the line while the file was saved";
    ASSERT_EQ(table().rowCount(), kFileRows + kFrames);
    EXPECT_EQ(values(table(), kFileRows), voltaro::testing::valuesOf(*w, frames));
    ReadingTable file;
    ASSERT_TRUE(datafiles::loadText(file, saved).ok);
    EXPECT_EQ(file.rowCount(), kFileRows);
    EXPECT_EQ(w->recording().unsavedRows(), kFrames);
}
