// The window's USB cable link, driven through its real handlers, over the
// simulated HID platform: the cable list, its configuration, reading into the
// LCD, grid and chart, the cable check, the history, and a cable that goes
// away and comes back.
#include "core/decode/MeterPipeline.h"
#include "core/link/hid/THidDeviceReadThread.h"
#include "core/recording/DataFiles.h"
#include "core/recording/ReadingTableModel.h"
#include "core/sys/LinkClaim.h"
#include "support/CableFeed.h"
#include "support/LinkTestSupport.h"
#include "support/SimulatedHidPlatform.h"
#include "support/WindowTestSupport.h"
#include "widgets/app/TFCOMM.h"
#include "widgets/chart/PlotSurface.h"
#include "widgets/lcd/LcdPanel.h"
#include "widgets/ui/ClickPanel.h"

#include <QListWidget>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace voltaro;
using voltaro::testing::alternatingFeed;
using voltaro::testing::control;
using voltaro::testing::Expect;
using voltaro::testing::MessageBoxAnswer;
using voltaro::testing::SimulatedHidDevice;
using voltaro::testing::SimulatedHidPlatform;
using voltaro::testing::waitUntil;
using S = LinkState::State;

namespace {

const std::vector<std::uint8_t> kConfiguration = {0x00, 0x00, 0x4B, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
const std::vector<std::uint8_t> kEmpty = {0xF0, 0, 0, 0, 0, 0, 0, 0};

class UsbLink : public ::testing::Test {
protected:
    void open() {
        w = std::make_unique<TFCOMM>(nullptr, platform);
        w->show();
        USBCon = control<QPushButton>(*w, "USBCon");
        COMCon = control<QPushButton>(*w, "COMCon");
        devices = control<QListWidget>(*w, "DevListBox");
        history = control<QListWidget>(*w, "HistoryListBox");
    }
    QStringList items() const {
        QStringList out;
        for (int i = 0; i < devices->count(); ++i)
            out << devices->item(i)->text();
        return out;
    }
    S state() const { return w->linkBar().state().state(); }
    bool historyHas(const QString& line) const {
        return !history->findItems(line, Qt::MatchExactly).isEmpty();
    }
    std::uint64_t decoded() const { return w->pipeline().stats().decoded; }

    // Sends `frames` frames the way the cable carries them: two data reports
    // each, then a report without data that ends the burst.
    void sendFrames(SimulatedHidDevice& cable, int frames, int value = 1234) {
        for (int i = 0; i < frames; ++i) {
            const auto bytes = voltaro::testing::meterFrame(11, 1, "01234").withCount(value + i).wireBytes();
            for (int part = 0; part < 2; ++part) {
                std::vector<std::uint8_t> r(8, 0xF7);
                std::copy_n(bytes.begin() + part * 7, 7, r.begin() + 1);
                ASSERT_TRUE(waitUntil([&] { return cable.send(r); }));
            }
            ASSERT_TRUE(waitUntil([&] { return cable.send(kEmpty); }));
        }
    }
    // A press that connects: the feature report is sent and the link runs,
    // its read thread with a node of its own beside the one for feature reports.
    void connect(SimulatedHidDevice& cable) {
        USBCon->click();
        ASSERT_EQ(state(), S::UsbRunning);
        ASSERT_TRUE(waitUntil([&] { return cable.openNodes() == 2; }));
    }
    std::vector<std::string> rowValues() const {
        std::vector<std::string> out;
        for (qsizetype r = 0; r < w->recording().table().rowCount(); ++r)
            out.push_back(w->recording().table().text(r, ReadingTable::Value).toStdString());
        return out;
    }
    static void sendAll(SimulatedHidDevice& cable, const std::vector<std::vector<std::uint8_t>>& reports) {
        for (const auto& r : reports)
            ASSERT_TRUE(cable.send(r));
    }
    bool reading() const {
        const THidDevice* d = w->linkBar().usb().activeDevice();
        return d && d->readThread();
    }

    std::shared_ptr<SimulatedHidPlatform> platform = std::make_shared<SimulatedHidPlatform>();
    std::unique_ptr<TFCOMM> w;
    QPushButton* USBCon = nullptr;
    QPushButton* COMCon = nullptr;
    QListWidget* devices = nullptr;
    QListWidget* history = nullptr;
};

} // namespace

TEST_F(UsbLink, TheListAtStartUpPreselectsTheLastCableWithoutASerialNumber) {
    const std::shared_ptr<SimulatedHidDevice> plugged[] = {
        SimulatedHidDevice::mouse(), SimulatedHidDevice::cable(), SimulatedHidDevice::cable(),
        SimulatedHidDevice::cable("A7")};
    for (const auto& d : plugged)
        platform->plug(d);
    open();
    EXPECT_EQ(items(), QStringList({"USB Optical Mouse", "USB to Serial", "USB to Serial",
                                    "USB to Serial (Serial=A7)"}));
    EXPECT_EQ(devices->currentRow(), 2);
    EXPECT_EQ(USBCon->text(), "USB Connect");
    // Listing opens no node: what the list shows comes from the system's device tree.
    for (const auto& d : plugged)
        EXPECT_EQ(d->opens(), 0);
}

TEST_F(UsbLink, PressConfiguresAndReadsReleaseConfiguresAgainAndStops) {
    auto cable = SimulatedHidDevice::cable();
    platform->plug(cable);
    open();
    connect(*cable);
    EXPECT_EQ(cable->features(), std::vector<std::vector<std::uint8_t>>({kConfiguration}));
    EXPECT_TRUE(historyHas("00 4B 00 00 03 00 00 00 00 00 "));
    EXPECT_EQ(USBCon->text(), "USB Disconnect");
    EXPECT_TRUE(COMCon->isHidden());
    EXPECT_TRUE(control<ClickPanel>(*w, "BtCOM1")->isHidden());
    EXPECT_TRUE(w->lcd().isLit(LcdElement::LCDsend));

    sendFrames(*cable, 5);
    ASSERT_TRUE(waitUntil([&] { return decoded() >= 5; }));
    EXPECT_TRUE(w->lcd().isLit(LcdElement::LcdV));
    EXPECT_EQ(w->recording().table().rowCount(), 5);
    EXPECT_GE(w->chart().plot().pointCount(0), 6); // the placeholder and a point per frame

    USBCon->click();
    EXPECT_EQ(state(), S::Idle);
    EXPECT_EQ(cable->features().size(), 2u);
    EXPECT_EQ(cable->features().back(), kConfiguration);
    EXPECT_EQ(USBCon->text(), "USB Connection");
    EXPECT_FALSE(COMCon->isHidden());
    EXPECT_FALSE(w->lcd().isLit(LcdElement::LCDsend));
    // Nobody reads any more: the read thread is gone.
    EXPECT_FALSE(reading());
}

TEST_F(UsbLink, APressWithoutACableOrWithoutAccessSaysWhyAndGoesBackUp) {
    open();
    {
        MessageBoxAnswer box(QMessageBox::Ok);
        USBCon->click();
        EXPECT_EQ(box.text(), "USB interface cable is not securely connected, please check and re-try.");
    }
    EXPECT_FALSE(USBCon->isChecked());
    EXPECT_EQ(USBCon->text(), "USB Connection");

    auto cable = SimulatedHidDevice::queryOnlyCable();
    platform->plug(cable);
    ASSERT_TRUE(waitUntil([&] { return devices->count() == 1; }));
    MessageBoxAnswer box(QMessageBox::Ok);
    USBCon->click();
    EXPECT_TRUE(box.text().contains(cable->path)) << box.text().toStdString();
    EXPECT_TRUE(box.text().contains("70-voltaro-usb-cable.rules"));
    EXPECT_EQ(state(), S::Idle);
    EXPECT_FALSE(USBCon->isChecked());
}

TEST_F(UsbLink, ACableThatRefusesItsConfigurationIsNotShownAsReading) {
    auto cable = SimulatedHidDevice::cable();
    cable->script.featureFails = true;
    platform->plug(cable);
    open();
    MessageBoxAnswer box(QMessageBox::Ok);
    USBCon->click();
    EXPECT_TRUE(box.text().contains("did not take its configuration")) << box.text().toStdString();
    EXPECT_EQ(state(), S::Idle);
    EXPECT_FALSE(USBCon->isChecked());
    EXPECT_EQ(cable->opens(), 1); // opened to configure it, never to read it
}

TEST_F(UsbLink, TheCableCheckFiresOnlyAfter1900ReportsWithoutData) {
    auto cable = SimulatedHidDevice::cable();
    platform->plug(cable);
    open();
    connect(*cable);
    auto* timer = control<QTimer>(*w, "ConTimer");
    int ticks = 0;
    QObject::connect(timer, &QTimer::timeout, [&] { ++ticks; });
    // A count of A to F carries no meter bytes: the report counts; one that
    // carries bytes starts the count again.
    const auto idle = [&] { return w->linkBar().usb().cable().idleReports(); };
    ASSERT_TRUE(waitUntil([&] { return cable->send({0xFA, 1, 2}); }));
    ASSERT_TRUE(waitUntil([&] { return idle() == 1; }));
    ASSERT_TRUE(waitUntil([&] { return cable->send({0xF1, 0x31}); }));
    ASSERT_TRUE(waitUntil([&] { return idle() == 0; }));
    for (int i = 0; i < 1899; ++i)
        ASSERT_TRUE(waitUntil([&] { return cable->send(kEmpty); }));
    ASSERT_TRUE(waitUntil([&] { return idle() == 1899; }));
    // Six ticks: the check has run at least once, and found too few.
    const int from = ticks;
    ASSERT_TRUE(waitUntil([&] { return ticks >= from + 6; }, 5000));
    EXPECT_EQ(state(), S::UsbRunning);

    MessageBoxAnswer box(QMessageBox::Ok);
    ASSERT_TRUE(waitUntil([&] { return cable->send(kEmpty); }));
    ASSERT_TRUE(waitUntil([&] { return box.answered() > 0; }, 5000));
    EXPECT_EQ(box.text(), "USB interface cable is securely connected, please check if the meter is ready.");
    EXPECT_EQ(state(), S::UsbStopped);
    // Stopped, the window shows the idle state whole.
    EXPECT_FALSE(USBCon->isChecked());
    EXPECT_EQ(USBCon->text(), "USB Connection");
    EXPECT_FALSE(COMCon->isHidden());
    EXPECT_EQ(w->linkBar().usb().cable().idleReports(), 0);
    // Stopped, the cable is no longer claimed: another instance may read it.
    const QString key = LinkClaim::cableKey(cable->portPath, cable->path);
    LinkClaim::Holder holder;
    QString error;
    EXPECT_NE(LinkClaim::take(key, &holder, &error), nullptr) << error.toStdString();
    // A press starts it again, claiming it again.
    USBCon->click();
    EXPECT_EQ(state(), S::UsbRunning);
    EXPECT_EQ(LinkClaim::take(key, &holder, &error), nullptr);
    EXPECT_EQ(holder.pid, QCoreApplication::applicationPid());
}

TEST_F(UsbLink, TheHistoryShowsTheNewest300ReportLinesInOrder) {
    auto cable = SimulatedHidDevice::cable();
    platform->plug(cable);
    open();
    connect(*cable);
    int ticks = 0;
    QObject::connect(control<QTimer>(*w, "ConTimer"), &QTimer::timeout, [&] { ++ticks; });
    // The list takes the trace's new lines on the cable check's tick.
    const auto shownAfter = [&](std::uint64_t frames) {
        EXPECT_TRUE(waitUntil([&] { return decoded() == frames; }));
        const int from = ticks;
        EXPECT_TRUE(waitUntil([&] { return ticks >= from + 2; }, 3000));
    };
    sendFrames(*cable, 160); // two data reports a frame: 320 lines
    shownAfter(160);
    ASSERT_EQ(history->count(), 300);
    EXPECT_EQ(history->currentRow(), 299);
    const QString last = history->item(299)->text();
    EXPECT_TRUE(last.startsWith("R ")) << last.toStdString();
    EXPECT_NE(last, history->item(298)->text());
    // Two lines more: the oldest two go, the rest move up in order.
    sendFrames(*cable, 1, 5000);
    shownAfter(161);
    EXPECT_EQ(history->count(), 300);
    EXPECT_EQ(history->item(297)->text(), last);
}

TEST_F(UsbLink, ReadErrorsGoToTheHistory) {
    auto cable = SimulatedHidDevice::cable();
    platform->plug(cable);
    open();
    connect(*cable);
    cable->failReads(EIO);
    EXPECT_TRUE(waitUntil([&] { return historyHas("READ ERROR: Input/output error (5)"); }));
    control<QPushButton>(*w, "ClearBtn")->click();
    EXPECT_EQ(history->count(), 0);
}

TEST_F(UsbLink, AnotherDeviceComingOrGoingLeavesTheReadingsFlowing) {
    auto cable = SimulatedHidDevice::cable();
    auto mouse = SimulatedHidDevice::mouse();
    platform->plug(cable);
    open();
    connect(*cable);
    sendFrames(*cable, 2);
    ASSERT_TRUE(waitUntil([&] { return decoded() >= 2; }));

    platform->plug(mouse);
    ASSERT_TRUE(waitUntil([&] { return devices->count() == 2; }));
    EXPECT_TRUE(historyHas("Arrival of USB Optical Mouse"));
    sendFrames(*cable, 2, 2000);
    EXPECT_TRUE(waitUntil([&] { return decoded() >= 4; }));
    platform->unplug(mouse);
    ASSERT_TRUE(waitUntil([&] { return devices->count() == 1; }));
    // Listed while it came and went, but its node never opened: the program
    // reads the cable and nothing else.
    EXPECT_EQ(mouse->opens(), 0);
    sendFrames(*cable, 2, 3000);
    EXPECT_TRUE(waitUntil([&] { return decoded() >= 6; }));
    EXPECT_EQ(state(), S::UsbRunning);
    EXPECT_EQ(USBCon->text(), "USB Disconnect");
    // The cable stayed plugged in: it keeps its configuration.
    EXPECT_EQ(cable->features().size(), 1u);
}

// A mouse plugged in and pulled out again and again while the cable streams
// at the line's rate, frames of DC and AC volts in turn: the cable's device,
// node and read thread stay, and the table holds every frame sent, in order,
// none made of two.
TEST_F(UsbLink, AMouseComingAndGoingWhileTheCableStreamsLosesAndJoinsNoFrame) {
    const auto feed = alternatingFeed(10000, 5); // more than the test sends
    auto cable = SimulatedHidDevice::cable();
    platform->plug(cable);
    open();
    connect(*cable);
    const THidDevice* device = w->linkBar().usb().activeDevice();
    const THidDeviceReadThread* thread = device->readThread();
    const int opens = cable->opens();
    cable->startStreaming(1000, [&feed](std::uint64_t i) {
        return i < feed.reports.size() ? feed.reports[i] : std::vector<std::uint8_t>{};
    });
    auto mouse = SimulatedHidDevice::mouse();
    // Each change handled, then a few reports read before the next.
    const auto readOn = [&] {
        const auto read = cable->reportsRead();
        return waitUntil([&] { return cable->reportsRead() >= read + 3; });
    };
    for (int i = 0; i < 20; ++i) {
        platform->plug(mouse);
        ASSERT_TRUE(waitUntil([&] { return devices->count() == 2; }));
        ASSERT_TRUE(readOn());
        platform->unplug(mouse);
        ASSERT_TRUE(waitUntil([&] { return devices->count() == 1; }));
        ASSERT_TRUE(readOn());
    }
    cable->stopStreaming();
    const std::size_t sent = cable->offered();
    ASSERT_LT(sent, feed.reports.size());
    const auto want = voltaro::testing::recordedValues(
        {feed.reports.begin(), feed.reports.begin() + static_cast<std::ptrdiff_t>(sent)});
    ASSERT_TRUE(waitUntil([&] { return cable->reportsRead() == sent; }));
    waitUntil([&] { return rowValues().size() >= want.size(); });
    EXPECT_EQ(rowValues(), want);
    EXPECT_EQ(w->linkBar().usb().activeDevice(), device);
    EXPECT_EQ(device->readThread(), thread);
    EXPECT_EQ(cable->opens(), opens);
    EXPECT_EQ(cable->features().size(), 1u);
}

TEST_F(UsbLink, AnUnpluggedCableIsWaitedForAndTakenUpAgain) {
    auto cable = SimulatedHidDevice::cable("W1");
    platform->plug(SimulatedHidDevice::cable("OTHER"));
    platform->plug(cable);
    open();
    devices->setCurrentRow(1);
    connect(*cable);
    control<QTimer>(*w, "Trecord")->stop();
    control<QCheckBox>(*w, "RepeatSet")->setChecked(false);
    sendFrames(*cable, 2);
    ASSERT_TRUE(waitUntil([&] { return decoded() >= 2; }));
    const auto rows = w->recording().table().rowCount();

    {
        MessageBoxAnswer told(QMessageBox::Ok);
        platform->unplug(cable);
        ASSERT_TRUE(waitUntil([&] { return told.answered() > 0; }));
        EXPECT_EQ(told.text(), "USB interface cable is not securely connected, please check and re-try.");
    }
    EXPECT_EQ(state(), S::UsbWaiting);
    EXPECT_TRUE(USBCon->isChecked());
    EXPECT_EQ(USBCon->text(), "Waiting for cable");
    EXPECT_TRUE(historyHas("Removal of USB to Serial (Serial=W1)"));

    // The other cable is not the one that went away; the same one, back, is.
    auto back = SimulatedHidDevice::cable("W1");
    platform->plug(back);
    ASSERT_TRUE(waitUntil([&] { return state() == S::UsbRunning; }));
    EXPECT_EQ(back->features(), std::vector<std::vector<std::uint8_t>>({kConfiguration}));
    // Its read thread has a node of its own beside the one the feature report went through.
    ASSERT_TRUE(waitUntil([&] { return back->openNodes() == 2; }));
    sendFrames(*back, 2, 4000);
    ASSERT_TRUE(waitUntil([&] { return decoded() >= 4; }));
    EXPECT_EQ(w->recording().table().rowCount(), rows + 2);
    EXPECT_EQ(USBCon->text(), "USB Disconnect");
}

// The cable is pulled out half way through a frame: once the first of its two
// data reports has reached the frame assembler, and once while it is still on
// its way. The link waits; the rows recorded before stay, whole, and the first
// frame of the cable that comes back is recorded, not joined to the half frame.
TEST_F(UsbLink, ACablePulledOutHalfWayThroughAFrameKeepsEveryRowAndJoinsNoFrames) {
    auto cable = SimulatedHidDevice::cable("W1");
    platform->plug(cable);
    open();
    devices->setCurrentRow(0);
    connect(*cable);
    const auto rowLines = [&] {
        QStringList out;
        for (qsizetype r = 0; r < w->recording().table().rowCount(); ++r)
            out << QString::fromLatin1(datafiles::textLine(w->recording().table(), r));
        return out;
    };
    const auto valueOf = [&](int count) {
        return voltaro::testing::valuesOf(*w, {voltaro::testing::meterFrame(11, 1, "01234").withCount(count)})
            .value(0);
    };
    int round = 0;
    for (const bool handedOver : {true, false}) {
        SCOPED_TRACE(handedOver ? "the half frame handed over" : "the half frame on its way");
        ++round;
        sendFrames(*cable, 2, 1000 * round);
        ASSERT_TRUE(waitUntil([&] { return w->recording().table().rowCount() == 4 * round - 2; }));
        const QStringList recorded = rowLines();

        const auto half = voltaro::testing::meterFrame(11, 1, "01234").withCount(9999).wireBytes();
        std::vector<std::uint8_t> first(8, 0xF7);
        std::copy_n(half.begin(), 7, first.begin() + 1);
        ASSERT_TRUE(cable->send(first));
        if (handedOver) {
            ASSERT_TRUE(waitUntil([&] { return w->pipeline().assembler().UsbBurstPending(); }));
        }
        {
            MessageBoxAnswer told(QMessageBox::Ok);
            platform->unplug(cable);
            ASSERT_TRUE(waitUntil([&] { return told.answered() > 0; }));
        }
        EXPECT_EQ(state(), S::UsbWaiting);
        EXPECT_EQ(rowLines(), recorded);

        cable = SimulatedHidDevice::cable("W1");
        platform->plug(cable);
        ASSERT_TRUE(waitUntil([&] { return state() == S::UsbRunning; }));
        ASSERT_TRUE(waitUntil([&] { return cable->openNodes() == 2; }));
        sendFrames(*cable, 2, 1000 * round + 500);
        ASSERT_TRUE(waitUntil([&] { return w->recording().table().rowCount() >= recorded.size() + 2; }));
        ASSERT_EQ(w->recording().table().rowCount(), recorded.size() + 2);
        EXPECT_EQ(rowLines().mid(0, recorded.size()), recorded);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(w->recording().table().text(recorded.size() + i, ReadingTable::Value),
                      valueOf(1000 * round + 500 + i))
                << "row " << recorded.size() + i;
    }
}

// The cable is pulled out half way through a DC frame and plugged in again
// before the window hears of either, as after a suspend: one change, the
// same cable under a new device. Its first frame, AC, is not joined to the half.
TEST_F(UsbLink, ACablePulledAndPluggedBackUnseenStartsANewFrame) {
    const auto feed = alternatingFeed(6, 9);
    auto cable = SimulatedHidDevice::cable("W1");
    platform->plug(cable);
    open();
    devices->setCurrentRow(0);
    connect(*cable);
    sendAll(*cable, feed.frameReports(0, 2));
    ASSERT_TRUE(waitUntil([&] { return rowValues().size() == 2; }));
    ASSERT_TRUE(cable->send(feed.reports[6]));
    ASSERT_TRUE(waitUntil([&] { return w->pipeline().assembler().UsbBurstPending(); }));

    platform->unplug(cable);
    auto back = SimulatedHidDevice::cable("W1");
    platform->plug(back);
    ASSERT_TRUE(waitUntil([&] { return back->openNodes() == 2; }));
    EXPECT_EQ(back->features(), std::vector<std::vector<std::uint8_t>>({kConfiguration}));
    EXPECT_EQ(state(), S::UsbRunning);
    sendAll(*back, feed.frameReports(3, 6));
    auto want = feed.frameValues(0, 2);
    for (const auto& v : feed.frameValues(3, 6))
        want.push_back(v);
    waitUntil([&] { return rowValues().size() >= want.size(); });
    EXPECT_EQ(rowValues(), want);
}

// The cable is pulled out with three frames on its node that the reader has
// not taken yet (it is held from seeing them): they are read and recorded
// before the node is closed.
TEST_F(UsbLink, ACablePulledWithFramesStillOnItsNodeRecordsThem) {
    const auto feed = alternatingFeed(5, 13);
    auto cable = SimulatedHidDevice::cable();
    platform->plug(cable);
    open();
    connect(*cable);
    sendAll(*cable, feed.frameReports(0, 2));
    ASSERT_TRUE(waitUntil([&] { return rowValues().size() == 2; }));
    cable->holdReads(true);
    const THidDeviceReadThread* thread = w->linkBar().usb().activeDevice()->readThread();
    const auto waits = thread->waits();
    ASSERT_TRUE(waitUntil([&] { return thread->waits() >= waits + 2; }));
    sendAll(*cable, feed.frameReports(2, 5));
    EXPECT_EQ(cable->reportsRead(), 6u);
    {
        MessageBoxAnswer told(QMessageBox::Ok);
        platform->unplug(cable);
        ASSERT_TRUE(waitUntil([&] { return told.answered() > 0; }));
    }
    EXPECT_EQ(state(), S::UsbWaiting);
    EXPECT_EQ(cable->reportsRead(), 15u);
    EXPECT_EQ(rowValues(), feed.values);
}

TEST_F(UsbLink, ReleasingWhileWaitingReturnsToIdleAndServesTheSerialLinkFirstRule) {
    auto cable = SimulatedHidDevice::cable();
    platform->plug(cable);
    open();
    connect(*cable);
    {
        MessageBoxAnswer told(QMessageBox::Ok);
        platform->unplug(cable);
        ASSERT_TRUE(waitUntil([&] { return told.answered() > 0; }));
    }
    {
        MessageBoxAnswer none(QMessageBox::Ok, Expect::Optional);
        USBCon->click();
        EXPECT_EQ(none.answered(), 0);
    }
    EXPECT_EQ(state(), S::Idle);
    EXPECT_EQ(USBCon->text(), "USB Connection");
    EXPECT_FALSE(COMCon->isHidden());

    // A running cable stops before the port opens from the menu.
    auto again = SimulatedHidDevice::cable();
    platform->plug(again);
    ASSERT_TRUE(waitUntil([&] { return devices->count() == 1; }));
    connect(*again);
    voltaro::testing::Pty pty;
    ASSERT_TRUE(pty.ok());
    qputenv("VOLTARO_COM1", pty.path().toLocal8Bit());
    control<QAction>(*w, "START1")->trigger();
    qunsetenv("VOLTARO_COM1");
    EXPECT_EQ(state(), S::SerialOpen);
    EXPECT_TRUE(w->linkBar().driver().Connected());
    EXPECT_EQ(again->features().size(), 2u);
    EXPECT_FALSE(reading());
}
