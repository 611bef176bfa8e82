#include "core/link/hid/EControllerError.h"
#include "core/link/hid/UsbCable.h"
#include "support/HidDescriptors.h"
#include "support/HidTestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

namespace voltaro {
namespace {

using testing::HidRig;
using testing::runEvents;
using testing::SimulatedHidDevice;
using testing::waitUntil;

TEST(HidDevice, CreationFailsForAGoneOrUnidentifiableDevice) {
    auto platform = std::make_shared<testing::SimulatedHidPlatform>();
    auto odd = SimulatedHidDevice::undescribable();
    platform->plug(odd);
    auto expectError = [&](const THidPnPInfo& info, const char* message) {
        try {
            THidDevice device(platform, info, nullptr);
            ADD_FAILURE() << "created a device that should fail with " << message;
        } catch (const EControllerError& e) {
            EXPECT_STREQ(e.what(), message);
        }
    };
    expectError({odd->instance, odd->path, odd->path, {}}, "device cannot be identified");
    expectError({999, QStringLiteral("/dev/hidraw-gone"), {}, {}}, "device cannot be opened");
}

TEST(HidDevice, QueriesAskOnlyWhileAccessibleAndKeepWhatTheyGot) {
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    cable->script.product.clear();
    rig.platform->plug(cable);
    rig.start();
    THidDevice* listed = rig.controller->DeviceAt(0);
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->Attributes().VendorID, 0x5A5A);
    EXPECT_EQ(listed->Attributes().VersionNumber, 0x1200);
    // Neither checked out nor offered: nothing is asked.
    cable->script.serial = QStringLiteral("S1");
    EXPECT_TRUE(listed->SerialNumber().isEmpty());
    EXPECT_EQ(listed->Caps().InputReportByteLength, 0);

    auto device = rig.checkOut();
    EXPECT_TRUE(device->ProductName().isEmpty()); // none yet: asked again next time
    cable->script.product = QStringLiteral("USB to Serial");
    EXPECT_EQ(device->ProductName(), QStringLiteral("USB to Serial"));
    EXPECT_EQ(usbcable::DescribeDevice(*device), QStringLiteral("USB to Serial (Serial=S1)"));
    EXPECT_EQ(device->Caps().InputReportByteLength, 9);
    EXPECT_EQ(device->Caps().FeatureReportByteLength, 10);

    cable->script.product = QStringLiteral("changed");
    device->Unplug();
    EXPECT_EQ(device->ProductName(), QStringLiteral("USB to Serial"));
    EXPECT_EQ(device->Caps().InputReportByteLength, 9);
}

TEST(HidDevice, DeviceTextWithoutAProductNameShowsTheIds) {
    HidRig rig;
    auto odd = SimulatedHidDevice::cable();
    odd->script.product.clear();
    odd->script.attributes.VendorID = 0x5a5c;
    odd->script.attributes.ProductID = 0x00ff;
    rig.platform->plug(odd);
    rig.start();
    auto device = rig.checkOut();
    EXPECT_EQ(usbcable::DescribeDevice(*device), QStringLiteral("Device VID=5A5C PID=00FF"));
    EXPECT_EQ(usbcable::preselect({"USB to Serial", "Mouse", "USB to Serial", "USB to Serial (Serial=1)"}),
              2);
    EXPECT_EQ(usbcable::preselect({"Mouse"}), -1);
}

TEST(HidDevice, SetFeatureSendsTheBufferAsItStandsAndKeepsTheNodeOpen) {
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    rig.platform->plug(cable);
    rig.start();
    // Not checked out: the device may not be used.
    EXPECT_FALSE(rig.controller->DeviceAt(0)->SetFeature(usbcable::kConfigurationReport.data(), 10));
    auto device = rig.checkOut();
    auto report = usbcable::kConfigurationReport;
    ASSERT_TRUE(device->SetFeature(report.data(), 10));
    ASSERT_TRUE(device->SetFeature(report.data(), 10));
    EXPECT_EQ(report, usbcable::kConfigurationReport);
    const auto sent = cable->features();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], std::vector<std::uint8_t>(report.begin(), report.end()));
    EXPECT_EQ(cable->opens(), 1);

    cable->script.featureFails = true;
    EXPECT_FALSE(device->SetFeature(report.data(), 10));
}

TEST(HidDevice, QueryOnlyCableIsDescribedButNeverRead) {
    HidRig rig;
    auto cable = SimulatedHidDevice::queryOnlyCable();
    rig.platform->plug(cable);
    rig.start();
    auto device = rig.checkOut();
    ASSERT_TRUE(device);
    EXPECT_FALSE(device->HasReadWriteAccess());
    EXPECT_EQ(device->ProductName(), QStringLiteral("USB to Serial"));
    EXPECT_FALSE(device->SetFeature(usbcable::kConfigurationReport.data(), 10));
    device->setOnData(rig.collect);
    EXPECT_EQ(device->readThread(), nullptr);
}

TEST(HidDevice, ReadThreadRunsOnlyWhileCheckedOutWithAHandler) {
    HidRig rig;
    rig.platform->plug(SimulatedHidDevice::cable());
    rig.start();
    THidDevice* listed = rig.controller->DeviceAt(0);
    listed->setOnData(rig.collect);
    EXPECT_EQ(listed->readThread(), nullptr);
    auto device = rig.checkOut();
    const THidDeviceReadThread* thread = device->readThread();
    ASSERT_NE(thread, nullptr);
    device->setOnData(rig.collect);
    device->setOnData([](THidDevice*, std::uint8_t, const void*, std::uint16_t) {});
    EXPECT_EQ(device->readThread(), thread);
    device->setOnData({});
    EXPECT_EQ(device->readThread(), nullptr);
}

TEST(HidDevice, ThreadSleepTimeTakesTenToTenThousand) {
    HidRig rig;
    rig.platform->plug(SimulatedHidDevice::cable());
    rig.start();
    THidDevice* d = rig.controller->DeviceAt(0);
    EXPECT_EQ(d->ThreadSleepTime(), 100);
    for (const int ignored : {5, 9, 10001, 20000, -1}) {
        d->setThreadSleepTime(ignored);
        EXPECT_EQ(d->ThreadSleepTime(), 100);
    }
    d->setThreadSleepTime(10);
    EXPECT_EQ(d->ThreadSleepTime(), 10);
    d->setThreadSleepTime(10000);
    EXPECT_EQ(d->ThreadSleepTime(), 10000);
}

TEST(HidDevice, ReportsArriveWithTheirIdAndSizeAndEmptyReadsCallNothing) {
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    auto numbered = SimulatedHidDevice::cable();
    numbered->script.descriptor = testing::kNumberedDescriptor;
    rig.platform->plug(cable);
    rig.platform->plug(numbered);
    rig.start();
    auto plain = rig.checkOut(0);
    auto withIds = rig.checkOut(1);
    plain->setOnData(rig.collect);
    withIds->setOnData(rig.collect);

    // hidraw hands a report of a device that numbers none over without an ID.
    ASSERT_TRUE(HidRig::sendAll(*cable, {0xF2, 0x31, 0x0D}));
    ASSERT_TRUE(waitUntil([&] { return rig.reports.size() == 1; }));
    ASSERT_TRUE(HidRig::sendAll(*numbered, {5, 1, 2, 3, 4, 5, 6, 7}));
    ASSERT_TRUE(waitUntil([&] { return rig.reports.size() == 2; }));
    ASSERT_TRUE(HidRig::sendAll(*numbered, {2}));
    ASSERT_TRUE(waitUntil([&] { return rig.reports.size() == 3; }));
    // A report longer than the device's largest is cut to that length.
    ASSERT_TRUE(HidRig::sendAll(*cable, std::vector<std::uint8_t>(12, 0x33)));
    ASSERT_TRUE(waitUntil([&] { return rig.reports.size() == 4; }));

    EXPECT_EQ(rig.reports[0].id, 0);
    EXPECT_EQ(rig.reports[0].data, (std::vector<std::uint8_t>{0xF2, 0x31, 0x0D}));
    EXPECT_EQ(rig.reports[1].id, 5);
    EXPECT_EQ(rig.reports[1].data, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(rig.reports[2].id, 2);
    EXPECT_TRUE(rig.reports[2].data.empty());
    EXPECT_EQ(rig.reports[3].data.size(), 8u);

    const auto readsBefore = withIds->readThread()->reads();
    ASSERT_TRUE(HidRig::sendAll(*numbered, {}));
    ASSERT_TRUE(waitUntil([&] { return withIds->readThread()->reads() > readsBefore; }));
    runEvents(50);
    EXPECT_EQ(rig.reports.size(), 4u);
    EXPECT_TRUE(rig.errors.empty());
}

TEST(HidDevice, ReportsArriveInOrderOneAtATime) {
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    rig.platform->plug(cable);
    rig.start();
    auto device = rig.checkOut();
    int inHandler = 0;
    int overlaps = 0;
    std::vector<std::uint32_t> seen;
    device->setOnData([&](THidDevice*, std::uint8_t, const void* data, std::uint16_t size) {
        if (inHandler++)
            ++overlaps;
        std::uint32_t n = 0;
        std::memcpy(&n, data, std::min<std::size_t>(size, sizeof n));
        seen.push_back(n);
        // A handler that runs the event loop (a dialog, say) must not see the next report.
        if (seen.size() % 16 == 0)
            QCoreApplication::processEvents();
        --inHandler;
    });
    constexpr std::uint32_t kReports = 2000;
    for (std::uint32_t i = 0; i < kReports; ++i) {
        std::vector<std::uint8_t> r(4);
        std::memcpy(r.data(), &i, 4);
        ASSERT_TRUE(HidRig::sendAll(*cable, r));
    }
    ASSERT_TRUE(waitUntil([&] { return seen.size() == kReports; }, 10000));
    EXPECT_EQ(overlaps, 0);
    for (std::uint32_t i = 0; i < kReports; ++i)
        ASSERT_EQ(seen[i], i) << "report " << i;
}

TEST(HidDevice, AStreamOfReportsWakesTheWindowAndTheReaderInBatchesNotForEachReport) {
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    rig.platform->plug(cable);
    rig.start();
    auto device = rig.checkOut();
    device->setOnData(rig.collect);
    cable->startStreaming(1000, [](std::uint64_t i) { return std::vector<std::uint8_t>{std::uint8_t(i)}; });
    ASSERT_TRUE(waitUntil([&] { return rig.reports.size() >= 600; }, 10000));
    cable->stopStreaming();
    const THidDeviceReadThread* thread = device->readThread();
    // A slow machine only makes the batches larger.
    EXPECT_GE(thread->wakeUps(), 1u);
    EXPECT_LE(thread->wakeUps() * 10, thread->reportsHanded());
    // The reader lets reports gather too: a wait for each report would be
    // as many waits as reports.
    EXPECT_LE(thread->waits() * 2, thread->reportsHanded());
}

TEST(HidDevice, AWindowBusyForSecondsLosesNoReport) {
    // Saving a long table keeps the window from taking reports for seconds
    // while the cable goes on sending one every millisecond. hidraw keeps 64
    // reports for a reader and drops what finds them unread: the read thread
    // must go on taking them meanwhile.
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    rig.platform->plug(cable);
    rig.start();
    auto device = rig.checkOut();
    device->setOnData(rig.collect);
    // One report a millisecond, numbered as the node takes it. The simulated
    // node holds fewer reports than hidraw's 64 (the system's datagram queue):
    // one it refuses is not numbered, so a starved machine cannot pass for a
    // report the program lost.
    std::atomic<std::uint32_t> numbered{0};
    std::atomic<std::uint64_t> lost{0};
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        auto due = std::chrono::steady_clock::now();
        while (sending) {
            if (cable->offered() - cable->reportsRead() >= 64) {
                lost.fetch_add(1); // hidraw's buffer is full
            } else {
                const std::uint32_t n = numbered.load();
                std::vector<std::uint8_t> r(4);
                std::memcpy(r.data(), &n, 4);
                if (cable->offer(r))
                    numbered.fetch_add(1);
            }
            due += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(due);
        }
    });
    const bool started = waitUntil([&] { return rig.reports.size() >= 100; }, 10000);
    // The window is busy (a save, a long report) for a second and a half.
    if (started)
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const bool flowed = started && waitUntil([&] { return rig.reports.size() >= 1700; }, 10000);
    sending = false;
    sender.join();
    ASSERT_TRUE(flowed);
    ASSERT_TRUE(waitUntil([&] { return rig.reports.size() == numbered.load(); }, 10000))
        << rig.reports.size() << " of " << numbered.load() << " numbered reports handed over; "
        << cable->offered() << " offered, " << cable->reportsRead() << " read, " << lost.load() << " lost";
    EXPECT_EQ(lost.load(), 0u);
    for (std::uint32_t i = 0; i < rig.reports.size(); ++i) {
        std::uint32_t n = 0;
        std::memcpy(&n, rig.reports[i].data.data(), std::min<std::size_t>(rig.reports[i].data.size(), 4));
        ASSERT_EQ(n, i) << "report " << i;
    }
}

TEST(HidDevice, StoppingWhileReportsStreamInReturnsAfterTheThreadEnded) {
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    rig.platform->plug(cable);
    rig.start();
    auto device = rig.checkOut();
    device->setOnData(rig.collect);
    cable->startStreaming(5000, [](std::uint64_t i) { return std::vector<std::uint8_t>{std::uint8_t(i)}; });
    ASSERT_TRUE(waitUntil([&] { return rig.reports.size() > 200; }));
    device->setOnData({});
    EXPECT_EQ(device->readThread(), nullptr);
    const auto delivered = rig.reports.size();
    const auto offered = cable->offered();
    // The cable goes on sending; none of it is delivered.
    ASSERT_TRUE(waitUntil([&] { return cable->offered() > offered + 50; }));
    EXPECT_EQ(rig.reports.size(), delivered);
    cable->stopStreaming();
}

TEST(HidDevice, UnplugWhileReadingClosesTheNodeAndReportsErrorsAtTheSleepPace) {
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    rig.platform->plug(cable);
    rig.start();
    auto device = rig.checkOut();
    int unplugs = 0;
    device->setOnUnplug([&](THidDevice*) { ++unplugs; });
    device->setOnDataError(rig.collectErrors);
    device->setThreadSleepTime(50);
    device->setOnData(rig.collect);
    cable->startStreaming(2000, [](std::uint64_t i) { return std::vector<std::uint8_t>{std::uint8_t(i)}; });
    ASSERT_TRUE(waitUntil([&] { return rig.reports.size() > 50; }));

    device->Unplug();
    device->Unplug();
    EXPECT_EQ(unplugs, 1);
    EXPECT_FALSE(device->IsPluggedIn());
    const auto delivered = rig.reports.size();
    ASSERT_TRUE(waitUntil([&] { return cable->openNodes() == 0; }));
    QElapsedTimer watched;
    watched.start();
    runEvents(500);
    const qint64 elapsed = watched.elapsed();
    cable->stopStreaming();

    // At most the reports read before the unplug and queued for the window.
    EXPECT_LE(rig.reports.size(), delivered + THidDeviceReadThread::kQueueLength + 1);
    ASSERT_GE(rig.errors.size(), 2u);
    for (const auto e : rig.errors)
        EXPECT_EQ(e, static_cast<std::uint32_t>(ENODEV));
    // One failed read per slice at most, however fast the thread could retry.
    EXPECT_LE(static_cast<qint64>(rig.errors.size()), elapsed / 50 + 3);
    device->setOnData({});
    EXPECT_EQ(device->readThread(), nullptr);
}

// The device goes away while reports it sent are still queued on the node,
// not yet read: they are read and handed over, in order, before the node is
// closed, also when the reading is stopped right after the unplug.
TEST(HidDevice, UnplugHandsOverTheReportsStillQueuedOnTheNodeBeforeClosingIt) {
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    rig.platform->plug(cable);
    rig.start();
    auto device = rig.checkOut();
    device->setOnData(rig.collect);
    ASSERT_TRUE(waitUntil([&] { return cable->openNodes() == 1; }));
    // Two waits begun after the hold: the reader no longer sees the node readable.
    cable->holdReads(true);
    const auto waits = device->readThread()->waits();
    ASSERT_TRUE(waitUntil([&] { return device->readThread()->waits() >= waits + 2; }));
    for (std::uint8_t i = 1; i <= 5; ++i)
        ASSERT_TRUE(cable->send({0xF7, i}));
    EXPECT_EQ(cable->reportsRead(), 0u);

    device->Unplug();
    device->setOnData({});
    ASSERT_EQ(rig.reports.size(), 5u);
    for (std::uint8_t i = 1; i <= 5; ++i)
        EXPECT_EQ(rig.reports[i - 1].data, (std::vector<std::uint8_t>{0xF7, i}));
    EXPECT_EQ(cable->openNodes(), 0);
}

TEST(HidDevice, AHungUpOrFailingNodeIsReportedAtTheSleepPace) {
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    rig.platform->plug(cable);
    rig.start();
    auto device = rig.checkOut();
    device->setOnDataError(rig.collectErrors);
    device->setThreadSleepTime(40);
    device->setOnData(rig.collect);
    ASSERT_TRUE(HidRig::sendAll(*cable, {0xF0}));
    ASSERT_TRUE(waitUntil([&] { return rig.reports.size() == 1; }));

    cable->failReads(EIO);
    ASSERT_TRUE(waitUntil([&] { return !rig.errors.empty(); }));
    EXPECT_EQ(rig.errors[0], static_cast<std::uint32_t>(EIO));

    // A hung-up node polls readable and reads nothing, for ever.
    cable->failReads(0);
    rig.errors.clear();
    const auto readsBefore = device->readThread()->reads();
    cable->hangUp();
    QElapsedTimer watched;
    watched.start();
    ASSERT_TRUE(waitUntil([&] { return rig.errors.size() >= 6; }));
    const qint64 elapsed = watched.elapsed();
    EXPECT_EQ(rig.errors.back(), static_cast<std::uint32_t>(ENODEV));
    // Never faster than one failed read a slice; a slow machine only makes fewer.
    EXPECT_LE(static_cast<qint64>(rig.errors.size()), elapsed / 40 + 3);
    // Every read failed and was reported; at most the ones in flight are not yet.
    EXPECT_LE(device->readThread()->reads() - readsBefore, rig.errors.size() + 2);
}

TEST(HidDevice, DestroyingADeviceWhileAReportIsHandedOverDeliversItFirst) {
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    rig.platform->plug(cable);
    rig.start();
    auto device = rig.checkOut();
    device->setOnData(rig.collect);
    ASSERT_TRUE(HidRig::sendAll(*cable, {0xF1, 0x42}));
    // The thread is now blocked handing the report over; the event loop has not run it.
    const THidDeviceReadThread* thread = device->readThread();
    // Waited for without running the event loop, which would deliver it.
    const QDeadlineTimer deadline(3000);
    while (thread->reportsHanded() == 0 && !deadline.hasExpired())
        QThread::msleep(1);
    ASSERT_EQ(thread->reportsHanded(), 1u);
    EXPECT_TRUE(rig.reports.empty());
    device.reset();
    ASSERT_EQ(rig.reports.size(), 1u);
    EXPECT_EQ(rig.reports[0].data, (std::vector<std::uint8_t>{0xF1, 0x42}));
    runEvents(50); // the queued hand-over finds its device gone and does nothing
    EXPECT_EQ(rig.reports.size(), 1u);
    EXPECT_EQ(rig.controller->DeviceCount(), 1);
}

TEST(HidDevice, AHandlerThatClearsItsOwnHandlerEndsTheThreadWithoutHanging) {
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    rig.platform->plug(cable);
    rig.start();
    auto device = rig.checkOut();
    int calls = 0;
    device->setOnData([&](THidDevice* d, std::uint8_t, const void*, std::uint16_t) {
        ++calls;
        d->setOnData({});
    });
    cable->startStreaming(1000, [](std::uint64_t) { return std::vector<std::uint8_t>{0xF0}; });
    ASSERT_TRUE(waitUntil([&] { return calls == 1 && device->readThread() == nullptr; }));
    const auto offered = cable->offered();
    ASSERT_TRUE(waitUntil([&] { return cable->offered() > offered + 20; }));
    cable->stopStreaming();
    EXPECT_EQ(calls, 1);
}

TEST(HidDevice, AnIdleReadingDeviceWaitsInSlicesWithoutSpinning) {
    HidRig rig;
    rig.platform->plug(SimulatedHidDevice::cable());
    rig.start();
    auto device = rig.checkOut();
    device->setOnData(rig.collect);
    runEvents(300);
    // 100 ms slices: about three waits, never thousands.
    EXPECT_LE(device->readThread()->waits(), 6u);
    EXPECT_EQ(device->readThread()->reads(), 0u);
}

} // namespace
} // namespace voltaro
