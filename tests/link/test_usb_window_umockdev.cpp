// The real window over the real Linux HID code, with the meter's cable and a
// mouse emulated by umockdev and fed the simulated meter's reports: the
// configuration the cable receives, readings recorded and saved, a mouse
// unplugged, and the cable unplugged and plugged in again.
#include "core/decode/MeterPipeline.h"
#include "core/recording/DataFiles.h"
#include "support/CableFeed.h"
#include "support/HidDescriptors.h"
#include "support/UmockdevHid.h"
#include "support/WindowTestSupport.h"
#include "tools/MeterSimulator.h"
#include "widgets/app/TFCOMM.h"

#include <QAction>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace voltaro;
using voltaro::testing::alternatingFeed;
using voltaro::testing::control;
using voltaro::testing::MessageBoxAnswer;
using voltaro::testing::UmockdevHid;
using voltaro::testing::waitUntil;
using S = LinkState::State;

namespace {

// The values a run of the simulated meter records, decoded the way the window does.
struct Expected : PipelineHooks {
    std::vector<std::string> values;
    void recordReading(const Reading& r, std::string_view) override { values.push_back(r.ValueText); }
};

class UsbWindowUmockdev : public ::testing::Test {
protected:
    void SetUp() override {
        std::string whyNot;
        bed = UmockdevHid::make(whyNot);
        if (!bed)
            GTEST_SKIP() << "umockdev cannot run: " << whyNot;
        udevControl = voltaro::testing::UdevControlPath::hold(whyNot);
        if (!udevControl)
            GTEST_SKIP() << whyNot;
    }

    static UmockdevHid::Setup cable() {
        UmockdevHid::Setup s;
        s.serial = "E2E1";
        s.descriptor = voltaro::testing::kCableDescriptor;
        return s;
    }
    static UmockdevHid::Setup mouse() {
        UmockdevHid::Setup s;
        s.vendor = 0x5A5B;
        s.product = 0x1E05;
        s.productName = "USB Optical Mouse";
        s.descriptor = voltaro::testing::kMouseDescriptor;
        return s;
    }

    // Runs meter-sim into the cable's node: `frames` frames as the cable
    // carries them, one report per packet. The same scenario and seed,
    // decoded here, give the values the window must record.
    void feed(int cableIndex, int frames, int seed) {
        QProcess sim;
        sim.start(QStringLiteral(METER_SIM_PATH),
                  {"--hid", "--packets", "--rate", "0", "--scenario", "dcv", "--seed", QString::number(seed),
                   "--count", QString::number(frames), "--out",
                   QString::fromStdString(bed->root() + bed->node(cableIndex))});
        ASSERT_TRUE(sim.waitForFinished(10000));
        ASSERT_EQ(sim.exitCode(), 0) << sim.readAllStandardError().toStdString();
        sim::MeterSimulator meter("dcv", static_cast<std::uint32_t>(seed));
        for (int i = 0; i < frames; ++i)
            for (const auto& r : meter.nextHidReports())
                expected.HidDataDX22K(r[0], r.data() + 1, static_cast<std::uint16_t>(r.size() - 1));
    }

    // The window, reading the cable listed first.
    std::unique_ptr<TFCOMM> connected() {
        auto w = std::make_unique<TFCOMM>();
        w->show();
        control<QListWidget>(*w, "DevListBox")->setCurrentRow(0);
        control<QPushButton>(*w, "USBCon")->click();
        EXPECT_EQ(w->linkBar().state().state(), S::UsbRunning);
        return w;
    }
    static std::vector<std::string> rowValues(TFCOMM& w) {
        std::vector<std::string> out;
        for (qsizetype r = 0; r < w.recording().table().rowCount(); ++r)
            out.push_back(w.recording().table().text(r, ReadingTable::Value).toStdString());
        return out;
    }
    void push(int index, const std::vector<std::vector<std::uint8_t>>& reports) {
        for (const auto& r : reports)
            ASSERT_TRUE(bed->push(index, r));
    }

    std::unique_ptr<UmockdevHid> bed;
    std::unique_ptr<voltaro::testing::UdevControlPath> udevControl;
    Expected sink;
    MeterPipeline expected{&sink};
};

} // namespace

TEST_F(UsbWindowUmockdev, ReadingsFlowRecordAndSurviveAMouseAndTheCableComingBack) {
    int cableIndex = bed->add(cable());
    const int mouseIndex = bed->add(mouse());
    TFCOMM w;
    w.show();
    auto* USBCon = control<QPushButton>(w, "USBCon");
    auto* devices = control<QListWidget>(w, "DevListBox");
    ASSERT_EQ(devices->count(), 2);
    ASSERT_EQ(devices->item(0)->text(), "USB to Serial (Serial=E2E1)");
    EXPECT_EQ(devices->currentRow(), -1); // a cable with a serial number is not preselected
    devices->setCurrentRow(0);

    USBCon->click();
    ASSERT_EQ(w.linkBar().state().state(), S::UsbRunning);
    const std::vector<std::uint8_t> configuration = {0x00, 0x00, 0x4B, 0x00, 0x00,
                                                     0x03, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(bed->features(cableIndex), std::vector<std::vector<std::uint8_t>>({configuration}));

    feed(cableIndex, 20, 7);
    ASSERT_TRUE(waitUntil([&] { return w.pipeline().stats().decoded == 20; }, 5000));

    bed->unplug(mouseIndex);
    ASSERT_TRUE(waitUntil([&] { return devices->count() == 1; }));
    feed(cableIndex, 10, 8);
    ASSERT_TRUE(waitUntil([&] { return w.pipeline().stats().decoded == 30; }, 5000));
    EXPECT_EQ(w.linkBar().state().state(), S::UsbRunning);

    {
        MessageBoxAnswer told(QMessageBox::Ok);
        bed->unplug(cableIndex);
        ASSERT_TRUE(waitUntil([&] { return told.answered() > 0; }, 5000));
        EXPECT_EQ(told.text(), "USB interface cable is not securely connected, please check and re-try.");
    }
    EXPECT_EQ(w.linkBar().state().state(), S::UsbWaiting);
    EXPECT_EQ(USBCon->text(), "Waiting for cable");

    cableIndex = bed->add(cable());
    ASSERT_TRUE(waitUntil([&] { return w.linkBar().state().state() == S::UsbRunning; }, 5000));
    EXPECT_EQ(bed->features(cableIndex), std::vector<std::vector<std::uint8_t>>({configuration}));
    feed(cableIndex, 10, 9);
    ASSERT_TRUE(waitUntil([&] { return w.pipeline().stats().decoded == 40; }, 5000));

    // Every reading was recorded, and the saved file holds exactly what was sent.
    QTemporaryDir dir;
    const QString file = dir.filePath("usb.txt");
    {
        MessageBoxAnswer saved(QMessageBox::Ok);
        w.recording().SaveTableAsText(file);
    }
    ReadingTable back;
    ASSERT_TRUE(datafiles::loadTableFile(file, back, true).ok);
    ASSERT_EQ(back.rowCount(), static_cast<qsizetype>(sink.values.size()));
    ASSERT_EQ(sink.values.size(), 40u);
    for (qsizetype i = 0; i < back.rowCount(); ++i)
        EXPECT_EQ(back.text(i, ReadingTable::Value).toStdString(), sink.values[static_cast<std::size_t>(i)])
            << "row " << i;
}

// A mouse plugged in and pulled out again and again while the cable streams
// at the line's rate, frames of DC and AC volts in turn: the cable's reading
// goes on as it was, and the table holds every frame sent, in order, none
// made of two.
TEST_F(UsbWindowUmockdev, AMouseComingAndGoingWhileTheCableStreamsLosesAndJoinsNoFrame) {
    const int cableIndex = bed->add(cable());
    auto w = connected();
    const THidDevice* device = w->linkBar().usb().activeDevice();
    ASSERT_NE(device, nullptr);
    const auto* thread = device->readThread();
    auto* devices = control<QListWidget>(*w, "DevListBox");
    // Opened to configure the cable and to read it, and never again.
    ASSERT_TRUE(waitUntil([&] { return bed->opens(cableIndex) == 2; }));
    const auto feed = alternatingFeed(10000, 3); // more than the test sends
    voltaro::testing::NodeStreamer stream(*bed, cableIndex, feed.reports);
    // Each change handled, then a few more reports sent before the next.
    const auto streamOn = [&] {
        const auto sent = stream.queuedSoFar();
        return waitUntil([&] { return stream.queuedSoFar() >= sent + 3; });
    };
    for (int i = 0; i < 20; ++i) {
        const int mouseIndex = bed->add(mouse());
        ASSERT_TRUE(waitUntil([&] { return devices->count() == 2; }));
        ASSERT_TRUE(streamOn());
        bed->unplug(mouseIndex);
        ASSERT_TRUE(waitUntil([&] { return devices->count() == 1; }));
        ASSERT_TRUE(streamOn());
    }
    const std::size_t sent = stream.stop();
    ASSERT_LT(sent, feed.reports.size());
    const auto want = voltaro::testing::recordedValues(
        {feed.reports.begin(), feed.reports.begin() + static_cast<std::ptrdiff_t>(sent)});
    waitUntil([&] { return bed->queued(cableIndex) == 0 && rowValues(*w).size() >= want.size(); }, 5000);
    EXPECT_EQ(rowValues(*w), want);
    EXPECT_EQ(w->linkBar().usb().activeDevice(), device);
    EXPECT_EQ(device->readThread(), thread);
    EXPECT_EQ(bed->opens(cableIndex), 2);
    EXPECT_EQ(bed->features(cableIndex).size(), 1u);
}

// The cable pulled out half way through a DC frame and plugged in again
// before the window hears of either: its first frame, AC, starts afresh.
TEST_F(UsbWindowUmockdev, ACablePulledAndPluggedBackUnseenStartsANewFrame) {
    const int first = bed->add(cable());
    auto w = connected();
    const auto feed = alternatingFeed(6, 4);
    push(first, feed.frameReports(0, 2));
    ASSERT_TRUE(waitUntil([&] { return rowValues(*w).size() == 2; }));
    ASSERT_TRUE(bed->push(first, feed.reports[6]));
    ASSERT_TRUE(waitUntil([&] { return w->pipeline().assembler().UsbBurstPending(); }));

    bed->unplug(first);
    const int back = bed->add(cable());
    ASSERT_TRUE(waitUntil([&] { return bed->features(back).size() == 1; }));
    EXPECT_EQ(w->linkBar().state().state(), S::UsbRunning);
    push(back, feed.frameReports(3, 6));
    auto want = feed.frameValues(0, 2);
    for (const auto& v : feed.frameValues(3, 6))
        want.push_back(v);
    waitUntil([&] { return rowValues(*w).size() >= want.size(); });
    EXPECT_EQ(rowValues(*w), want);
}

// The cable pulled out right after three frames were queued on its node:
// they are recorded.
TEST_F(UsbWindowUmockdev, ACablePulledRightAfterFramesRecordsThem) {
    const int index = bed->add(cable());
    auto w = connected();
    const auto feed = alternatingFeed(5, 6);
    push(index, feed.frameReports(0, 2));
    ASSERT_TRUE(waitUntil([&] { return rowValues(*w).size() == 2; }));
    MessageBoxAnswer told(QMessageBox::Ok);
    push(index, feed.frameReports(2, 5));
    bed->unplug(index);
    ASSERT_TRUE(waitUntil([&] { return told.answered() > 0; }, 5000));
    EXPECT_EQ(w->linkBar().state().state(), S::UsbWaiting);
    EXPECT_EQ(rowValues(*w), feed.values);
}

// A window and voltaro-log (only one window's HID stack runs in a process),
// each on one of two cables of the same product without serial numbers,
// with a mouse beside them: the window reads the cable its ComSetup menu
// names, frame for frame, and names it in its title; voltaro-log reads the
// other. Pulled, the window's cable is waited for at its socket, stays
// chosen and is read again when it is back; voltaro-log's frames go on
// untouched. The cable voltaro-log reads is refused to the window, which is
// told who reads it, and sends it nothing.
TEST_F(UsbWindowUmockdev, TheWindowReadsTheCableItsMenuNamesBesideVoltaroLog) {
    UmockdevHid::Setup atA = cable();
    atA.serial.clear();
    atA.port = "1-1.2";
    UmockdevHid::Setup atB = atA;
    atB.port = "1-1.3";
    UmockdevHid::Setup pointer = mouse();
    pointer.port = "1-1.4";
    int a = bed->add(atA);
    const int b = bed->add(atB);
    bed->add(pointer);

    QProcess log;
    QByteArray logLines;
    QObject::connect(&log, &QProcess::readyReadStandardOutput,
                     [&] { logLines += log.readAllStandardOutput(); });
    log.start(QStringLiteral(VOLTARO_LOG_PATH), {"--usb", "1-1.3", "--decimal-sep", "."});
    ASSERT_TRUE(waitUntil([&] { return bed->features(b).size() == 1; }, 10000))
        << log.readAllStandardError().toStdString();

    TFCOMM w;
    const QString caption = w.windowTitle();
    const auto choose = [&](const QString& text) {
        QStringList shown;
        QAction* chosen = nullptr;
        for (QAction* item : w.linkBar().cableMenu().items()) {
            shown << item->text();
            if (item->text() == text)
                chosen = item;
        }
        EXPECT_EQ(shown, QStringList({"Any USB cable", "USB cable at 1-1.2", "USB cable at 1-1.3"}));
        ASSERT_NE(chosen, nullptr);
        chosen->trigger();
        control<QPushButton>(w, "USBCon")->click();
    };
    choose("USB cable at 1-1.2");
    ASSERT_EQ(w.linkBar().state().state(), S::UsbRunning);
    EXPECT_EQ(w.windowTitle(), caption + " - USB 1-1.2");

    sim::MeterSimulator volts("dcv", 41);
    sim::MeterSimulator ohms("ohm", 42);
    const auto a1 = voltaro::testing::cableFeed(volts, 6);
    const auto b1 = voltaro::testing::cableFeed(ohms, 6);
    push(a, a1.reports);
    push(b, b1.reports);
    ASSERT_TRUE(waitUntil([&] { return rowValues(w).size() == 6 && logLines.count('\n') == 6; }));
    {
        MessageBoxAnswer told(QMessageBox::Ok);
        bed->unplug(a);
        ASSERT_TRUE(waitUntil([&] { return told.answered() > 0; }, 5000));
    }
    EXPECT_EQ(w.linkBar().state().state(), S::UsbWaiting);
    EXPECT_EQ(control<QPushButton>(w, "USBCon")->text(), "Waiting at 1-1.2");
    EXPECT_EQ(w.windowTitle(), caption + " - USB 1-1.2");
    QStringList checked;
    for (QAction* item : w.linkBar().cableMenu().items())
        if (item->isChecked())
            checked << item->text();
    EXPECT_EQ(checked, QStringList({"USB cable at 1-1.2 (not plugged in)"}));
    const auto b2 = voltaro::testing::cableFeed(ohms, 6);
    push(b, b2.reports);
    ASSERT_TRUE(waitUntil([&] { return logLines.count('\n') == 12; }));

    a = bed->add(atA);
    ASSERT_TRUE(waitUntil([&] { return w.linkBar().state().state() == S::UsbRunning; }, 5000));
    const auto a2 = voltaro::testing::cableFeed(volts, 6);
    push(a, a2.reports);
    ASSERT_TRUE(waitUntil([&] { return rowValues(w).size() == 12; }));
    auto wantA = a1.values;
    wantA.insert(wantA.end(), a2.values.begin(), a2.values.end());
    EXPECT_EQ(rowValues(w), wantA);
    auto wantB = b1.values;
    wantB.insert(wantB.end(), b2.values.begin(), b2.values.end());
    std::vector<std::string> logged;
    for (const QByteArray& line : logLines.split('\n'))
        if (!line.isEmpty())
            logged.push_back(line.split('\t').value(1).toStdString());
    EXPECT_EQ(logged, wantB);

    control<QPushButton>(w, "USBCon")->click();
    ASSERT_EQ(w.linkBar().state().state(), S::Idle);
    MessageBoxAnswer refused(QMessageBox::Ok);
    choose("USB cable at 1-1.3");
    EXPECT_EQ(refused.answered(), 1);
    EXPECT_TRUE(refused.text().contains(
        QStringLiteral("at 1-1.3 is read by voltaro-log (pid %1)").arg(log.processId())))
        << refused.text().toStdString();
    EXPECT_EQ(w.linkBar().state().state(), S::Idle);
    EXPECT_EQ(w.windowTitle(), caption);
    EXPECT_EQ(bed->features(b).size(), 1u);
    log.kill();
    log.waitForFinished(5000);
}
