// The real Linux platform (libudev, sysfs, hidraw nodes, the udev monitor)
// against devices emulated by umockdev.

#include "core/link/hid/LinuxHidPlatform.h"
#include "core/link/hid/UsbCable.h"
#include "core/recording/DataFiles.h"
#include "support/CableFeed.h"
#include "support/HidDescriptors.h"
#include "support/HidTestSupport.h"
#include "support/LinkTestSupport.h"
#include "support/MeterRows.h"
#include "support/UmockdevHid.h"
#include "tools/FrameLinePrinter.h"
#include "tools/MeterSimulator.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

namespace voltaro {
namespace {

using testing::CableFeed;
using testing::cableFeed;
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
    EXPECT_TRUE(
        run.out.contains("HID\t/dev/hidraw0\t1-0\t5A5A:CAB1\tread-write\tUSB to Serial\t<- the USB cable"))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("HID\t/dev/hidraw1\t1-1\t5A5B:1E05\tquery only\tUSB Optical Mouse\n"))
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

// voltaro-log recording the cable into a file, in a child process; the
// lines it prints, one a recorded row, and what it tells.
class RecordingLog {
public:
    // `link`: how it is told which cable to read. umockdev names a udev
    // monitor's socket after its descriptor's number, so of two programs
    // whose monitors have the same number only one hears of devices coming
    // and going; `apart` starts this one with four more descriptors open.
    explicit RecordingLog(const QStringList& link = {"--usb"}, bool apart = false) {
        QObject::connect(&p_, &QProcess::readyReadStandardError,
                         [this] { err += p_.readAllStandardError(); });
        QObject::connect(&p_, &QProcess::readyReadStandardOutput,
                         [this] { lines += p_.readAllStandardOutput(); });
        const QStringList args = link + QStringList{"--out", file_, "--decimal-sep", "."};
        if (apart)
            p_.start("/bin/sh",
                     QStringList{"-c",
                                 "exec 3</dev/null 4</dev/null 5</dev/null 6</dev/null; exec \"$0\" \"$@\"",
                                 VOLTARO_LOG_PATH} +
                         args);
        else
            p_.start(VOLTARO_LOG_PATH, args);
    }
    ~RecordingLog() {
        if (p_.state() != QProcess::NotRunning) {
            p_.kill();
            p_.waitForFinished(5000);
        }
    }
    bool told(const QString& text) {
        return waitUntil([&] { return err.contains(text) || p_.state() == QProcess::NotRunning; }, 10000) &&
               err.contains(text);
    }
    qsizetype rows() const { return lines.count('\n'); }
    bool rowsReach(std::size_t n) {
        return waitUntil([&] { return rows() >= static_cast<qsizetype>(n); }, 10000);
    }
    // The program is held (as a busy or suspended one is) and let go.
    void hold(bool held) { ::kill(static_cast<pid_t>(p_.processId()), held ? SIGSTOP : SIGCONT); }
    const QString& file() const { return file_; }
    qint64 pid() const { return p_.processId(); }
    // Interrupts it and gives the values of the rows in its file.
    std::vector<std::string> finish() {
        ::kill(static_cast<pid_t>(p_.processId()), SIGINT);
        EXPECT_TRUE(waitUntil([&] { return p_.state() == QProcess::NotRunning; }, 10000));
        EXPECT_EQ(p_.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p_.exitCode(), 0) << err.toStdString();
        err += p_.readAllStandardError();
        ReadingTable table;
        EXPECT_TRUE(datafiles::loadTableFile(file_, table, true).ok);
        std::vector<std::string> values;
        for (qsizetype i = 0; i < table.rowCount(); ++i)
            values.push_back(table.text(i, ReadingTable::Value).toStdString());
        return values;
    }

    QString err;
    QString lines;

private:
    QTemporaryDir dir_;
    QString file_ = dir_.filePath("usb.txt");
    QProcess p_;
};

TEST_F(HidUmockdev, VoltaroLogRecordsThroughTheCableAndTakesItUpAgainWhenItIsBack) {
    int c = bed->add(cable());
    RecordingLog log;
    const auto push = [&](int index, const CableFeed& feed) {
        for (const auto& r : feed.reports)
            ASSERT_TRUE(bed->push(index, r));
    };
    ASSERT_TRUE(log.told("recording the USB cable /dev/hidraw0")) << log.err.toStdString();

    sim::MeterSimulator meter("dcv", 21);
    const CableFeed before = cableFeed(meter, 10);
    push(c, before);
    ASSERT_TRUE(log.rowsReach(10)) << log.err.toStdString();

    bed->unplug(c);
    ASSERT_TRUE(log.told("is gone: waiting")) << log.err.toStdString();
    // Another cable, with a serial number of its own, is not the one followed.
    UmockdevHid::Setup other = cable();
    other.serial = "OTHER";
    const int o = bed->add(other);
    sim::MeterSimulator stranger("ohm", 22);
    push(o, cableFeed(stranger, 5));
    c = bed->add(cable());
    ASSERT_TRUE(log.told("is back")) << log.err.toStdString();
    ASSERT_EQ(bed->features(c).size(), 1u) << "configured again";
    const CableFeed after = cableFeed(meter, 10);
    push(c, after);
    ASSERT_TRUE(log.rowsReach(20)) << log.err.toStdString();
    std::vector<std::string> want = before.values;
    want.insert(want.end(), after.values.begin(), after.values.end());
    EXPECT_EQ(log.finish(), want);
    EXPECT_TRUE(log.err.contains(QStringLiteral("20 rows in %1").arg(log.file()))) << log.err.toStdString();
    EXPECT_EQ(log.rows(), 20);
    EXPECT_TRUE(bed->features(o).empty());
}

// A mouse plugged in and pulled out again and again while the cable streams
// at the line's rate, frames of DC and AC volts in turn: every frame sent is
// recorded, in order, none made of two.
TEST_F(HidUmockdev, VoltaroLogLosesAndJoinsNoFrameWhileAMouseComesAndGoes) {
    const int c = bed->add(cable());
    RecordingLog log;
    ASSERT_TRUE(log.told("recording the USB cable")) << log.err.toStdString();
    const auto feed = testing::alternatingFeed(10000, 7); // more than the test sends
    testing::NodeStreamer stream(*bed, c, feed.reports);
    // Opened to configure the cable and to read it, and never again.
    ASSERT_TRUE(log.rowsReach(3)) << log.err.toStdString();
    ASSERT_EQ(bed->opens(c), 2);
    UmockdevHid::Setup mouse;
    mouse.vendor = 0x5A5B;
    mouse.product = 0x1E05;
    mouse.productName = "USB Optical Mouse";
    mouse.descriptor = testing::kMouseDescriptor;
    for (int i = 0; i < 20; ++i) {
        // Each change while the program goes on recording.
        const int m = bed->add(mouse);
        ASSERT_TRUE(log.rowsReach(static_cast<std::size_t>(log.rows()) + 3)) << log.err.toStdString();
        bed->unplug(m);
        ASSERT_TRUE(log.rowsReach(static_cast<std::size_t>(log.rows()) + 3)) << log.err.toStdString();
    }
    const std::size_t sent = stream.stop();
    ASSERT_LT(sent, feed.reports.size());
    const auto want = testing::recordedValues(
        {feed.reports.begin(), feed.reports.begin() + static_cast<std::ptrdiff_t>(sent)});
    log.rowsReach(want.size());
    EXPECT_EQ(log.finish(), want);
    EXPECT_EQ(bed->opens(c), 2);
    EXPECT_EQ(bed->features(c).size(), 1u);
}

// The cable pulled out half way through a DC frame and plugged in again
// while the program is held: it sees one change, the same cable as a new
// device. Its first frame, AC, starts afresh.
TEST_F(HidUmockdev, VoltaroLogStartsANewFrameWhenTheCableComesBackUnseen) {
    const int c = bed->add(cable());
    RecordingLog log;
    ASSERT_TRUE(log.told("recording the USB cable")) << log.err.toStdString();
    const auto feed = testing::alternatingFeed(6, 8);
    for (const auto& r : feed.frameReports(0, 2))
        ASSERT_TRUE(bed->push(c, r));
    ASSERT_TRUE(log.rowsReach(2));
    // Half a frame, taken from the node by the program.
    ASSERT_TRUE(bed->push(c, feed.reports[6]));
    ASSERT_TRUE(waitUntil([&] { return bed->queued(c) == 0; }));

    log.hold(true);
    bed->unplug(c);
    const int back = bed->add(cable());
    log.hold(false);
    ASSERT_TRUE(waitUntil([&] { return bed->features(back).size() == 1; }, 10000)) << log.err.toStdString();
    for (const auto& r : feed.frameReports(3, 6))
        ASSERT_TRUE(bed->push(back, r));
    auto want = feed.frameValues(0, 2);
    for (const auto& v : feed.frameValues(3, 6))
        want.push_back(v);
    log.rowsReach(want.size());
    EXPECT_EQ(log.finish(), want);
    EXPECT_FALSE(log.err.contains("is gone")) << log.err.toStdString();
}

// The cable pulled out with three frames queued on its node while the
// program is held: they are recorded before it waits for the cable.
TEST_F(HidUmockdev, VoltaroLogRecordsTheFramesQueuedWhenTheCableIsPulled) {
    const int c = bed->add(cable());
    RecordingLog log;
    ASSERT_TRUE(log.told("recording the USB cable")) << log.err.toStdString();
    const auto feed = testing::alternatingFeed(5, 9);
    for (const auto& r : feed.frameReports(0, 2))
        ASSERT_TRUE(bed->push(c, r));
    ASSERT_TRUE(log.rowsReach(2));

    log.hold(true);
    for (const auto& r : feed.frameReports(2, 5))
        ASSERT_TRUE(bed->push(c, r));
    bed->unplug(c);
    log.hold(false);
    ASSERT_TRUE(log.told("is gone: waiting")) << log.err.toStdString();
    log.rowsReach(feed.values.size());
    EXPECT_EQ(log.finish(), feed.values);
}

// Two cables of the same product without serial numbers, told apart only by
// their sockets, and a mouse: two voltaro-logs each read the cable they name,
// frame for frame. The one whose cable is pulled waits for its socket: a
// cable plugged in elsewhere is another meter, one plugged into its socket
// is read again; the other records on untouched.
TEST_F(HidUmockdev, TwoVoltaroLogsEachReadTheCableInTheSocketTheyName) {
    UmockdevHid::Setup atA = cable();
    atA.port = "1-1.2";
    UmockdevHid::Setup atB = cable();
    atB.port = "1-1.3";
    int a = bed->add(atA);
    const int b = bed->add(atB);
    UmockdevHid::Setup mouse;
    mouse.port = "1-1.4";
    mouse.productName = "USB Optical Mouse";
    mouse.descriptor = testing::kMouseDescriptor;
    bed->add(mouse);
    const LogRun list = runLog({"--list"}, false);
    EXPECT_TRUE(list.out.contains("HID\t/dev/hidraw0\t1-1.2\t")) << list.out.toStdString();
    EXPECT_TRUE(list.out.contains("HID\t/dev/hidraw1\t1-1.3\t")) << list.out.toStdString();

    RecordingLog logA({"--usb", "1-1.2"});
    RecordingLog logB({"--usb", "/dev/hidraw1"}, true);
    ASSERT_TRUE(logA.told("recording the USB cable /dev/hidraw0")) << logA.err.toStdString();
    ASSERT_TRUE(logB.told("recording the USB cable /dev/hidraw1")) << logB.err.toStdString();
    const auto push = [&](int index, const CableFeed& feed) {
        for (const auto& r : feed.reports)
            ASSERT_TRUE(bed->push(index, r));
    };
    sim::MeterSimulator volts("dcv", 31);
    sim::MeterSimulator ohms("ohm", 32);
    const CableFeed a1 = cableFeed(volts, 8);
    const CableFeed b1 = cableFeed(ohms, 8);
    push(a, a1);
    push(b, b1);
    ASSERT_TRUE(logA.rowsReach(8) && logB.rowsReach(8)) << logA.err.toStdString() << logB.err.toStdString();

    bed->unplug(a);
    ASSERT_TRUE(logA.told("waiting for a cable to be plugged into the same USB socket, 1-1.2"))
        << logA.err.toStdString();
    const CableFeed b2 = cableFeed(ohms, 8);
    push(b, b2);
    ASSERT_TRUE(logB.rowsReach(16)) << logB.err.toStdString();
    // The same product in another socket is another meter: never configured, never read.
    UmockdevHid::Setup elsewhere = cable();
    elsewhere.port = "1-1.5";
    const int e = bed->add(elsewhere);
    const CableFeed stranger = cableFeed(volts, 4);
    push(e, stranger);

    // Told after the arrival in the other socket, which came first.
    a = bed->add(atA);
    ASSERT_TRUE(logA.told("is back")) << logA.err.toStdString();
    EXPECT_EQ(bed->opens(e), 0);
    EXPECT_TRUE(bed->features(e).empty());
    ASSERT_EQ(bed->features(a).size(), 1u) << "configured again";
    const CableFeed a2 = cableFeed(volts, 8);
    push(a, a2);
    ASSERT_TRUE(logA.rowsReach(16)) << logA.err.toStdString();

    std::vector<std::string> wantA = a1.values;
    wantA.insert(wantA.end(), a2.values.begin(), a2.values.end());
    std::vector<std::string> wantB = b1.values;
    wantB.insert(wantB.end(), b2.values.begin(), b2.values.end());
    EXPECT_EQ(logA.finish(), wantA);
    EXPECT_EQ(logB.finish(), wantB);
    EXPECT_EQ(bed->features(b).size(), 1u);
    EXPECT_EQ(bed->queued(e), static_cast<int>(stranger.reports.size() * stranger.reports[0].size()));
}

// A cable that one voltaro-log reads is refused to a second, which names the
// first and sends the cable nothing.
TEST_F(HidUmockdev, ACableReadByOneVoltaroLogIsRefusedToASecond) {
    UmockdevHid::Setup at = cable();
    at.port = "1-1.2";
    const int c = bed->add(at);
    RecordingLog first({"--usb", "1-1.2"});
    ASSERT_TRUE(first.told("recording the USB cable")) << first.err.toStdString();
    const LogRun second = runLog({"--usb"}, false);
    EXPECT_EQ(second.status, 5);
    EXPECT_TRUE(
        second.err.contains(QStringLiteral("at 1-1.2 is read by voltaro-log (pid %1)").arg(first.pid())))
        << second.err.toStdString();
    EXPECT_EQ(bed->features(c).size(), 1u);
    const LogRun absent = runLog({"--usb", "1-9"}, false);
    EXPECT_EQ(absent.status, 3);
    EXPECT_TRUE(absent.err.contains("no USB cable at 1-9 is listed")) << absent.err.toStdString();
    // Named by its serial number, another cable is free to read.
    UmockdevHid::Setup numbered = cable();
    numbered.port = "1-1.7";
    numbered.serial = "XY12";
    const int n = bed->add(numbered);
    const LogRun bySerial = runLog({"--usb", "XY12", "--duration", "1"}, false);
    EXPECT_EQ(bySerial.status, 0) << bySerial.err.toStdString();
    EXPECT_EQ(bed->features(n).size(), 1u);
    EXPECT_EQ(bed->features(c).size(), 1u);
}

// Two named meters, one on the cable and one on a serial port: the cable
// pulled leaves its meter waiting while the port's records on, and the power
// is the product of the row's readings wherever it is given.
// Once meter I is pulled: its rows read "waiting" with no value, while V's
// readings stay fresh, for three rows.
void expectIWaitsWhileVRecords(testing::LogProcess& log, testing::RowReader& rows) {
    ASSERT_TRUE(rows.next([](const testing::Row& r) { return r.at("I.judgement") == "waiting"; }));
    const qsizetype pulledAt = rows.position() - 1;
    ASSERT_TRUE(log.waitForLines(pulledAt + 3));
    for (qsizetype n = pulledAt; n < pulledAt + 3; ++n) {
        const testing::Row row = rows.at(n);
        EXPECT_EQ(row.at("I.judgement"), "waiting");
        EXPECT_TRUE(row.at("I.value").isEmpty());
        EXPECT_FALSE(row.at("V.value").isEmpty());
        EXPECT_LE(row.at("V.age").toDouble(), 1.0);
    }
}

TEST_F(HidUmockdev, VoltaroLogRecordsACableAndAPortTogether) {
    int c = bed->add(cable());
    testing::Pty volts;
    ASSERT_TRUE(volts.ok()) << volts.error().toStdString();
    QTemporaryDir dir;
    testing::LogProcess log(
        {"--port", "V=" + volts.path(), "--usb", "I=", "--calc", "P[W]=V*I", "--decimal-sep", "."},
        dir.filePath("state"));
    sim::MeterSimulator voltMeter("dcv", 31);
    sim::MeterSimulator ampMeter("current", 32);
    bool plugged = true;
    QTimer feed;
    QObject::connect(&feed, &QTimer::timeout, [&] {
        const auto v = voltMeter.nextFrame().wireBytes();
        volts.send(std::string(v.begin(), v.end()));
        if (plugged)
            for (const auto& r : cableFeed(ampMeter, 1).reports)
                bed->push(c, r);
    });
    feed.start(100);
    testing::RowReader rows(log);
    ASSERT_TRUE(rows.readHeader()) << log.err.toStdString();
    ASSERT_TRUE(log.waitForError("I (the USB cable /dev/hidraw0)")) << log.err.toStdString();
    const auto powered = [](const testing::Row& r) { return !r.at("P[W]").isEmpty(); };
    ASSERT_TRUE(rows.next(powered)) << log.err.toStdString();

    plugged = false;
    bed->unplug(c);
    ASSERT_TRUE(log.waitForError("I: the USB cable /dev/hidraw0 is gone")) << log.err.toStdString();
    ASSERT_NO_FATAL_FAILURE(expectIWaitsWhileVRecords(log, rows));

    c = bed->add(cable());
    plugged = true;
    ASSERT_TRUE(log.waitForError("I: the USB cable is back")) << log.err.toStdString();
    ASSERT_TRUE(rows.next(powered)) << log.err.toStdString();
    log.signal(SIGTERM);
    ASSERT_EQ(log.finish(), 0) << log.err.toStdString();
    for (qsizetype n = 1; n <= rows.rows(); ++n)
        testing::expectPower(rows.at(n));
}

// Two cables of the same product without serial numbers, told apart by their
// sockets, and a mouse, read by one voltaro-log as the meters V and I: each
// meter's columns hold its own cable's readings and the power is their
// product. The current's cable pulled leaves I waiting while V records on;
// plugged back into its socket it is configured and read again.
TEST_F(HidUmockdev, OneVoltaroLogReadsTwoCablesTheMetersName) {
    UmockdevHid::Setup atV = cable();
    atV.port = "1-1.2";
    UmockdevHid::Setup atI = cable();
    atI.port = "1-1.3";
    const int v = bed->add(atV);
    int i = bed->add(atI);
    UmockdevHid::Setup mouse;
    mouse.port = "1-1.4";
    mouse.productName = "USB Optical Mouse";
    mouse.descriptor = testing::kMouseDescriptor;
    const int m = bed->add(mouse);
    QTemporaryDir dir;
    testing::LogProcess log(
        {"--usb", "V=1-1.2", "--usb", "I=1-1.3", "--calc", "P[W]=V*I", "--decimal-sep", "."},
        dir.filePath("state"));
    sim::MeterSimulator voltMeter("dcv", 41);
    sim::MeterSimulator ampMeter("current", 42);
    bool plugged = true;
    QTimer feed;
    QObject::connect(&feed, &QTimer::timeout, [&] {
        for (const auto& r : cableFeed(voltMeter, 1).reports)
            bed->push(v, r);
        if (plugged)
            for (const auto& r : cableFeed(ampMeter, 1).reports)
                bed->push(i, r);
    });
    feed.start(100);
    testing::RowReader rows(log);
    ASSERT_TRUE(rows.readHeader()) << log.err.toStdString();
    ASSERT_TRUE(log.waitForError("V (the USB cable /dev/hidraw0), I (the USB cable /dev/hidraw1)"))
        << log.err.toStdString();
    const auto powered = [](const testing::Row& r) { return !r.at("P[W]").isEmpty(); };
    ASSERT_TRUE(rows.next(powered)) << log.err.toStdString();

    plugged = false;
    bed->unplug(i);
    ASSERT_TRUE(log.waitForError("I: the USB cable /dev/hidraw1 is gone")) << log.err.toStdString();
    ASSERT_NO_FATAL_FAILURE(expectIWaitsWhileVRecords(log, rows));

    i = bed->add(atI);
    plugged = true;
    ASSERT_TRUE(log.waitForError("I: the USB cable is back")) << log.err.toStdString();
    EXPECT_EQ(bed->features(i).size(), 1u) << "configured again";
    ASSERT_TRUE(rows.next(powered)) << log.err.toStdString();
    log.signal(SIGTERM);
    ASSERT_EQ(log.finish(), 0) << log.err.toStdString();
    int both = 0;
    for (qsizetype n = 1; n <= rows.rows(); ++n) {
        const testing::Row row = rows.at(n);
        testing::expectPower(row);
        if (!row.at("V.value").isEmpty()) {
            EXPECT_EQ(row.at("V.unit"), "V");
        }
        if (!row.at("I.value").isEmpty()) {
            EXPECT_EQ(row.at("I.unit"), "mA");
        }
        both += !row.at("V.value").isEmpty() && !row.at("I.value").isEmpty() ? 1 : 0;
    }
    EXPECT_GE(both, 2);
    EXPECT_EQ(bed->features(v).size(), 1u);
    EXPECT_EQ(bed->opens(m), 0);
}

} // namespace
} // namespace voltaro
