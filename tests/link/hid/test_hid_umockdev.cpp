// The real Linux platform (libudev, sysfs, hidraw nodes, the udev monitor)
// against devices emulated by umockdev.

#include "link/hid/LinuxHidPlatform.h"
#include "link/hid/UsbCable.h"
#include "recording/DataFiles.h"
#include "support/HidDescriptors.h"
#include "support/HidTestSupport.h"
#include "support/UmockdevHid.h"
#include "tools/FrameLinePrinter.h"
#include "tools/MeterSimulator.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace voltaro {
namespace {

using testing::HidRig;
using testing::UmockdevHid;
using testing::waitUntil;

class HidUmockdev : public ::testing::Test {
protected:
    void SetUp() override {
        std::string whyNot;
        bed = UmockdevHid::make(whyNot);
        if (!bed)
            GTEST_SKIP() << "umockdev cannot run: " << whyNot;
        udevControl = testing::UdevControlPath::hold(whyNot);
        if (!udevControl)
            GTEST_SKIP() << whyNot;
    }

    // The testbed exists before anything touches udev.
    std::unique_ptr<THidDeviceController> startController() {
        return std::make_unique<THidDeviceController>(nullptr, std::make_shared<LinuxHidPlatform>());
    }

    static UmockdevHid::Setup cable() {
        UmockdevHid::Setup s;
        s.descriptor = testing::kCableDescriptor;
        return s;
    }

    std::unique_ptr<UmockdevHid> bed;
    std::unique_ptr<testing::UdevControlPath> udevControl;
};

std::unique_ptr<THidDevice> checkOut(THidDeviceController& c, int index) {
    std::unique_ptr<THidDevice> d;
    c.CheckOutByIndex(d, index);
    return d;
}

TEST_F(HidUmockdev, ListsDevicesWithTheirAttributesStringsAndCaps) {
    bed->add(cable());
    UmockdevHid::Setup bluetooth;
    bluetooth.usb = false;
    bluetooth.vendor = 0x5A5B;
    bluetooth.product = 0xB01A;
    bluetooth.hidName = "Wireless Mouse";
    bluetooth.hidUniq = "aa:bb:cc:dd:ee:ff";
    bluetooth.descriptor = testing::kMouseDescriptor;
    bed->add(bluetooth);
    auto controller = startController();
    ASSERT_TRUE(controller->HidServicesBound());
    ASSERT_EQ(controller->DeviceCount(), 2);
    auto first = checkOut(*controller, 0);
    auto second = checkOut(*controller, 1);
    THidDevice* usb = first->PnPInfo().DevicePath == "/dev/hidraw0" ? first.get() : second.get();
    THidDevice* bt = usb == first.get() ? second.get() : first.get();

    EXPECT_EQ(usb->PnPInfo().DevicePath, QStringLiteral("/dev/hidraw0"));
    EXPECT_EQ(usb->Attributes().VendorID, 0x5A5A);
    EXPECT_EQ(usb->Attributes().ProductID, 0xCAB1);
    EXPECT_EQ(usb->Attributes().VersionNumber, 0x0120);
    EXPECT_EQ(usb->ProductName(), QStringLiteral("USB to Serial"));
    EXPECT_TRUE(usb->SerialNumber().isEmpty());
    EXPECT_EQ(usbcable::DescribeDevice(*usb), QStringLiteral("USB to Serial"));
    EXPECT_EQ(usb->Caps().InputReportByteLength, 9);
    EXPECT_EQ(usb->Caps().FeatureReportByteLength, 10);
    EXPECT_EQ(usb->Caps().UsagePage, 0xFFA0);
    EXPECT_TRUE(usb->HasReadWriteAccess());

    EXPECT_EQ(bt->Attributes().VendorID, 0x5A5B);
    EXPECT_EQ(bt->Attributes().VersionNumber, 0);
    EXPECT_EQ(bt->ProductName(), QStringLiteral("Wireless Mouse"));
    EXPECT_EQ(bt->SerialNumber(), QStringLiteral("aa:bb:cc:dd:ee:ff"));
    EXPECT_EQ(bt->Caps().InputReportByteLength, 4);
    EXPECT_NE(usb->PnPInfo().DeviceInstance, bt->PnPInfo().DeviceInstance);
}

TEST_F(HidUmockdev, TheCableGetsTheExactConfigurationBytesAndReportsOneAtATime) {
    const int c = bed->add(cable());
    UmockdevHid::Setup numbered = cable();
    numbered.productName = "Numbered";
    numbered.descriptor = testing::kNumberedDescriptor;
    const int n = bed->add(numbered);
    HidRig rig;
    rig.controller = startController();
    ASSERT_EQ(rig.controller->DeviceCount(), 2);
    auto a = checkOut(*rig.controller, 0);
    auto b = checkOut(*rig.controller, 1);
    THidDevice* plain = a->PnPInfo().DevicePath == QString::fromStdString(bed->node(c)) ? a.get() : b.get();
    THidDevice* withIds = plain == a.get() ? b.get() : a.get();

    const auto report = usbcable::kConfigurationReport;
    ASSERT_TRUE(plain->SetFeature(report.data(), 10));
    ASSERT_EQ(bed->features(c).size(), 1u);
    EXPECT_EQ(bed->features(c)[0], std::vector<std::uint8_t>(report.begin(), report.end()));

    plain->setOnData(rig.collect);
    ASSERT_TRUE(bed->push(c, {0xF7, 1, 2, 3, 4, 5, 6, 7}));
    ASSERT_TRUE(bed->push(c, {0xF0, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(waitUntil([&] { return rig.reports.size() == 2; }));
    withIds->setOnData(rig.collect);
    ASSERT_TRUE(bed->push(n, {1, 0xA, 0xB, 0xC, 0xD}));
    ASSERT_TRUE(bed->push(n, {2, 1, 2, 3, 4, 5, 6}));
    ASSERT_TRUE(waitUntil([&] { return rig.reports.size() == 4; }));

    EXPECT_EQ(rig.reports[0].id, 0);
    EXPECT_EQ(rig.reports[0].data, (std::vector<std::uint8_t>{0xF7, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(rig.reports[1].data.size(), 8u);
    EXPECT_EQ(rig.reports[2].id, 1);
    EXPECT_EQ(rig.reports[2].data, (std::vector<std::uint8_t>{0xA, 0xB, 0xC, 0xD}));
    EXPECT_EQ(rig.reports[3].id, 2);
    EXPECT_EQ(rig.reports[3].data.size(), 6u);
}

TEST_F(HidUmockdev, PlugAndUnplugUeventsReachTheHandlersThroughTheMonitor) {
    auto controller = startController();
    ASSERT_TRUE(controller->watching());
    QStringList lines;
    controller->setOnArrival([&](THidDevice* d) { lines << "arrival " + d->ProductName(); });
    controller->setOnRemoval([&](THidDevice* d) { lines << "removal " + d->ProductName(); });
    controller->setOnDeviceChange([&](QObject*) { lines << "change"; });
    ASSERT_EQ(lines, QStringList({"change"}));
    lines.clear();

    const int c = bed->add(cable());
    ASSERT_TRUE(waitUntil([&] { return lines.contains("change"); }));
    EXPECT_EQ(lines, QStringList({"arrival USB to Serial", "change"}));
    ASSERT_EQ(controller->DeviceCount(), 1);
    lines.clear();

    bed->unplug(c);
    ASSERT_TRUE(waitUntil([&] { return lines.contains("change"); }));
    EXPECT_EQ(lines, QStringList({"removal USB to Serial", "change"}));
    EXPECT_EQ(controller->DeviceCount(), 0);
}

// voltaro-log in a child process, which sees the testbed through the preload
// and UMOCKDEV_DIR; `dropDac` runs it without the capabilities that let root
// open any node, as a desktop user is.
struct LogRun {
    int status;
    QString out;
    QString err;
};

LogRun runLog(const QStringList& args, bool dropDac,
              const std::function<void(QProcess&)>& whileRunning = {}) {
    QProcess p;
    QStringList command = {VOLTARO_LOG_PATH};
    if (dropDac)
        command =
            QStringList{"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search", "--"} + command;
    const QString program = command.takeFirst();
    p.start(program, command + args);
    if (!p.waitForStarted(5000))
        return {-1, {}, "did not start"};
    if (whileRunning)
        whileRunning(p);
    p.waitForFinished(20000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

TEST_F(HidUmockdev, VoltaroLogListsTheCableWithItsAccess) {
    const int c = bed->add(cable());
    UmockdevHid::Setup mouse;
    mouse.vendor = 0x5A5B;
    mouse.product = 0x1E05;
    mouse.productName = "USB Optical Mouse";
    mouse.descriptor = testing::kMouseDescriptor;
    const int m = bed->add(mouse);
    bed->setNodeMode(m, 0);

    const LogRun run = runLog({"--list"}, true);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("COM1\t/dev/")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("HID\t/dev/hidraw0\t5A5A:CAB1\tread-write\tUSB to Serial\t<- the USB cable"))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("HID\t/dev/hidraw1\t5A5B:1E05\tquery only\tUSB Optical Mouse\n"))
        << run.out.toStdString();

    bed->setNodeMode(c, 0);
    const LogRun denied = runLog({"--usb"}, true);
    EXPECT_EQ(denied.status, 4);
    EXPECT_TRUE(denied.err.contains("/dev/hidraw0")) << denied.err.toStdString();
    EXPECT_TRUE(denied.err.contains("packaging/70-voltaro-usb-cable.rules")) << denied.err.toStdString();
    EXPECT_TRUE(denied.err.contains("plug the cable in again")) << denied.err.toStdString();
    EXPECT_TRUE(bed->features(c).empty());
}

TEST_F(HidUmockdev, VoltaroLogUsbPrintsTheFramesTheCableDelivers) {
    const int c = bed->add(cable());
    // The frames as the program itself decodes them.
    sim::MeterSimulator meter("tour", 1);
    std::vector<std::vector<std::uint8_t>> reports;
    constexpr int kFrames = 20;
    for (int i = 0; i < kFrames; ++i)
        for (auto& r : meter.nextHidReports())
            reports.push_back(std::vector<std::uint8_t>(r.begin() + 1, r.end())); // hidraw drops the ID 0
    char* expected = nullptr;
    std::size_t expectedSize = 0;
    {
        std::FILE* mem = open_memstream(&expected, &expectedSize);
        {
            FrameLinePrinter printer(mem, false);
            MeterPipeline pipeline(&printer);
            for (const auto& r : reports)
                pipeline.HidDataDX22K(0, r.data(), static_cast<std::uint16_t>(r.size()));
        }
        std::fclose(mem);
    }
    const QString want = QString::fromUtf8(expected, static_cast<qsizetype>(expectedSize));
    std::free(expected);

    const LogRun run =
        runLog({"--usb", "--count", QString::number(kFrames), "--decimal-sep", "."}, false, [&](QProcess& p) {
            std::size_t next = 0;
            waitUntil(
                [&] {
                    while (next < reports.size() && bed->push(c, reports[next]))
                        ++next;
                    return next == reports.size() || p.state() == QProcess::NotRunning;
                },
                15000);
        });
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.count('\n'), kFrames);
    EXPECT_EQ(run.out, want);
    ASSERT_EQ(bed->features(c).size(), 1u);
    const auto report = usbcable::kConfigurationReport;
    EXPECT_EQ(bed->features(c)[0], std::vector<std::uint8_t>(report.begin(), report.end()));
}

TEST_F(HidUmockdev, VoltaroLogUsbWithoutACableSaysSo) {
    const LogRun run = runLog({"--usb"}, false);
    EXPECT_EQ(run.status, 3);
    EXPECT_TRUE(run.err.contains("no HID devices")) << run.err.toStdString();
    const LogRun list = runLog({"--list"}, false);
    EXPECT_TRUE(list.out.contains("HID devices: none found")) << list.out.toStdString();
}

// The reports of `frames` frames of a seeded simulated meter as hidraw hands
// them over, and the values the program's pipeline records of them.
struct CableFeed {
    std::vector<std::vector<std::uint8_t>> reports;
    std::vector<std::string> values;
};
CableFeed cableFeed(sim::MeterSimulator& meter, int frames) {
    struct Values : PipelineHooks {
        std::vector<std::string>* out;
        void recordReading(const Reading& r, std::string_view) override { out->push_back(r.ValueText); }
    };
    CableFeed feed;
    Values hooks;
    hooks.out = &feed.values;
    MeterPipeline pipeline(&hooks);
    for (int i = 0; i < frames; ++i)
        for (auto& r : meter.nextHidReports())
            feed.reports.push_back(std::vector<std::uint8_t>(r.begin() + 1, r.end()));
    for (const auto& r : feed.reports)
        pipeline.HidDataDX22K(0, r.data(), static_cast<std::uint16_t>(r.size()));
    return feed;
}

TEST_F(HidUmockdev, VoltaroLogRecordsThroughTheCableAndTakesItUpAgainWhenItIsBack) {
    int c = bed->add(cable());
    QTemporaryDir dir;
    const QString out = dir.filePath("usb.txt");
    QProcess p;
    QString err;
    QString lines;
    QObject::connect(&p, &QProcess::readyReadStandardError, [&] { err += p.readAllStandardError(); });
    QObject::connect(&p, &QProcess::readyReadStandardOutput, [&] { lines += p.readAllStandardOutput(); });
    p.start(VOLTARO_LOG_PATH, {"--usb", "--out", out, "--decimal-sep", "."});
    ASSERT_TRUE(p.waitForStarted(5000));
    const auto told = [&](const QString& text) {
        return waitUntil([&] { return err.contains(text) || p.state() == QProcess::NotRunning; }, 10000) &&
               err.contains(text);
    };
    const auto push = [&](int index, const CableFeed& feed) {
        for (const auto& r : feed.reports)
            ASSERT_TRUE(bed->push(index, r));
    };
    ASSERT_TRUE(told("recording the USB cable /dev/hidraw0")) << err.toStdString();

    sim::MeterSimulator meter("dcv", 21);
    const CableFeed before = cableFeed(meter, 10);
    push(c, before);
    ASSERT_TRUE(waitUntil([&] { return lines.count('\n') == 10; }, 10000)) << err.toStdString();

    bed->unplug(c);
    ASSERT_TRUE(told("is gone: waiting")) << err.toStdString();
    // Another cable, with a serial number of its own, is not the one followed.
    UmockdevHid::Setup other = cable();
    other.serial = "OTHER";
    const int o = bed->add(other);
    sim::MeterSimulator stranger("ohm", 22);
    push(o, cableFeed(stranger, 5));
    c = bed->add(cable());
    ASSERT_TRUE(told("is back")) << err.toStdString();
    ASSERT_EQ(bed->features(c).size(), 1u) << "configured again";
    const CableFeed after = cableFeed(meter, 10);
    push(c, after);
    ASSERT_TRUE(waitUntil([&] { return lines.count('\n') == 20; }, 10000)) << err.toStdString();
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(waitUntil([&] { return p.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << err.toStdString();
    err += p.readAllStandardError();
    EXPECT_TRUE(err.contains(QStringLiteral("20 rows in %1").arg(out))) << err.toStdString();
    EXPECT_TRUE(bed->features(o).empty());

    ReadingTable rows;
    ASSERT_TRUE(datafiles::loadTableFile(out, rows, true).ok);
    std::vector<std::string> want = before.values;
    want.insert(want.end(), after.values.begin(), after.values.end());
    ASSERT_EQ(rows.rowCount(), static_cast<qsizetype>(want.size()));
    for (qsizetype i = 0; i < rows.rowCount(); ++i)
        EXPECT_EQ(rows.text(i, ReadingTable::Value).toStdString(), want[static_cast<std::size_t>(i)])
            << "row " << i;
}

} // namespace
} // namespace voltaro
