// The real window over the real Linux HID code, with the meter's cable and a
// mouse emulated by umockdev and fed the simulated meter's reports: the
// configuration the cable receives, readings recorded and saved, a mouse
// unplugged, and the cable unplugged and plugged in again.
#include "app/TFCOMM.h"
#include "decode/MeterPipeline.h"
#include "recording/DataFiles.h"
#include "support/HidDescriptors.h"
#include "support/UmockdevHid.h"
#include "support/WindowTestSupport.h"
#include "tools/MeterSimulator.h"

#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace voltaro;
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

    std::unique_ptr<UmockdevHid> bed;
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
