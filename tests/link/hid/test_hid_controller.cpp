#include "core/link/CableLink.h"
#include "core/link/hid/EControllerError.h"
#include "core/link/hid/LinuxHidPlatform.h"
#include "core/link/hid/UsbCable.h"
#include "support/HidTestSupport.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace voltaro {
namespace {

using testing::HidRig;
using testing::SimulatedHidDevice;
using testing::waitUntil;

QString pid(THidDevice* d) {
    return QString::number(d->Attributes().ProductID, 16);
}

// Records the controller's events as lines, in the order they came; devices
// by product id (mouse 1e05, cable cab1).
struct EventLog {
    QStringList lines;
    THidPlugEvent arrival = [this](THidDevice* d) { lines << "arrival " + pid(d); };
    THidPlugEvent removal = [this](THidDevice* d) { lines << "removal " + pid(d); };
    THidPlugEvent unplug = [this](THidDevice* d) { lines << "unplug " + pid(d); };
    TNotifyEvent change = [this](QObject*) { lines << "change"; };

    void attach(THidDeviceController& c) {
        c.setOnArrival(arrival);
        c.setOnRemoval(removal);
        c.setOnDeviceUnplug(unplug);
        c.setOnDeviceChange(change);
    }
};

TEST(HidController, OnlyOnePerProgram) {
    HidRig rig;
    rig.start();
    try {
        THidDeviceController second(nullptr, std::make_shared<testing::SimulatedHidPlatform>());
        ADD_FAILURE() << "a second controller was created";
    } catch (const EControllerError& e) {
        EXPECT_STREQ(e.what(), "Only one THidDeviceController allowed per program");
    }
    rig.controller.reset();
    EXPECT_NO_THROW(rig.start());
}

TEST(HidController, ListingSkipsWhatCannotBeDescribedAndTriesItAgain) {
    HidRig rig;
    auto odd = SimulatedHidDevice::undescribable();
    rig.platform->plug(SimulatedHidDevice::mouse());
    rig.platform->plug(odd);
    rig.platform->plug(SimulatedHidDevice::cable());
    rig.start();
    ASSERT_EQ(rig.controller->DeviceCount(), 2);
    EXPECT_EQ(rig.controller->DeviceAt(1)->PnPInfo().DevicePath,
              rig.platform->listInterfaces()[2].DevicePath);
    odd->script.description = HidPlatform::Description::Ok;
    odd->script.attributes.ProductID = 0xCAB1;
    EventLog log;
    log.attach(*rig.controller);
    EXPECT_EQ(rig.controller->DeviceCount(), 3);
    EXPECT_EQ(log.lines, QStringList({"arrival cab1", "change"}));
}

TEST(HidController, EnumerateOffersPluggedInDevicesByTheirSlot) {
    HidRig rig;
    rig.start();
    EXPECT_EQ(rig.controller->Enumerate(), 0);
    rig.platform->plug(SimulatedHidDevice::mouse());
    auto cable = SimulatedHidDevice::cable();
    rig.platform->plug(cable);
    rig.platform->plug(SimulatedHidDevice::cable(QStringLiteral("7")));
    rig.controller->DeviceChange();
    // Without a handler the first offer stops the walk.
    EXPECT_EQ(rig.controller->Enumerate(), 1);

    auto lent = rig.checkOut(1);
    rig.platform->unplug(cable);
    rig.controller->DeviceChange(); // the lent cable keeps its slot, unplugged
    ASSERT_EQ(rig.controller->DeviceCount(), 3);
    std::vector<int> offered;
    rig.controller->setOnEnumerate([&](THidDevice* d, std::int32_t idx) {
        EXPECT_TRUE(d->IsEnumerated());
        EXPECT_EQ(d, rig.controller->DeviceAt(idx));
        offered.push_back(idx);
        return true;
    });
    EXPECT_EQ(rig.controller->Enumerate(), 2);
    EXPECT_EQ(offered, (std::vector<int>{0, 2}));
    EXPECT_FALSE(rig.controller->DeviceAt(2)->IsEnumerated());

    rig.controller->setOnEnumerate([](THidDevice*, std::int32_t) { return false; });
    EXPECT_EQ(rig.controller->Enumerate(), 1);
}

TEST(HidController, AnOfferThatDoesNotCheckOutClosesTheDevice) {
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    rig.platform->plug(cable);
    rig.start();
    bool sent = false;
    rig.controller->setOnEnumerate([&](THidDevice* d, std::int32_t) {
        sent = d->SetFeature(usbcable::kConfigurationReport.data(), 10);
        return true;
    });
    rig.controller->Enumerate();
    EXPECT_TRUE(sent);
    EXPECT_EQ(cable->openNodes(), 0);
}

TEST(HidController, CheckOutLendsEachDeviceOnce) {
    HidRig rig;
    rig.platform->plug(SimulatedHidDevice::cable());
    rig.start();
    std::unique_ptr<THidDevice> a;
    std::unique_ptr<THidDevice> b;
    ASSERT_TRUE(rig.controller->CheckOutByIndex(a, 0));
    EXPECT_TRUE(a->IsCheckedOut());
    EXPECT_FALSE(rig.controller->CheckOutByIndex(b, 0));
    EXPECT_EQ(b, nullptr);
    EXPECT_FALSE(rig.controller->CheckOutByIndex(b, 1));
    EXPECT_FALSE(rig.controller->CheckOutByIndex(b, -1));
    EXPECT_EQ(b, nullptr);
}

TEST(HidController, PlugAndUnplugEventsComeThroughTheWatchInOrder) {
    HidRig rig;
    auto mouse = SimulatedHidDevice::mouse();
    rig.platform->plug(mouse);
    rig.start();
    ASSERT_TRUE(rig.controller->watching());
    EventLog log;
    log.attach(*rig.controller);
    EXPECT_EQ(log.lines, QStringList({"change"})); // the first notification, nothing changed
    log.lines.clear();

    const int lists = rig.platform->lists();
    rig.platform->plug(SimulatedHidDevice::cable());
    ASSERT_TRUE(waitUntil([&] { return rig.platform->lists() > lists; }));
    EXPECT_EQ(log.lines, QStringList({"arrival cab1", "change"}));
    log.lines.clear();

    rig.controller->DeviceChange();
    EXPECT_TRUE(log.lines.isEmpty());

    rig.platform->unplug(mouse);
    ASSERT_TRUE(waitUntil([&] { return log.lines.size() >= 3; }));
    EXPECT_EQ(log.lines, QStringList({"unplug 1e05", "removal 1e05", "change"}));
    ASSERT_EQ(rig.controller->DeviceCount(), 1);
    EXPECT_EQ(rig.controller->DeviceAt(0)->PnPInfo().DeviceInstance, 2u);
}

TEST(HidController, RemovalsGoLastToFirstBeforeArrivals) {
    HidRig rig;
    auto a = SimulatedHidDevice::cable(QStringLiteral("a"));
    auto b = SimulatedHidDevice::cable(QStringLiteral("b"));
    rig.platform->plug(a);
    rig.platform->plug(b);
    rig.start();
    // Offered once, so their serial numbers are known when they go.
    rig.controller->setOnEnumerate([](THidDevice* d, std::int32_t) { return !d->SerialNumber().isEmpty(); });
    EXPECT_EQ(rig.controller->Enumerate(), 2);
    QStringList lines;
    rig.controller->setOnRemoval([&](THidDevice* d) { lines << "removal " + d->SerialNumber(); });
    rig.controller->setOnArrival([&](THidDevice* d) { lines << "arrival " + d->SerialNumber(); });
    rig.platform->unplug(a);
    rig.platform->unplug(b);
    rig.platform->plug(SimulatedHidDevice::cable(QStringLiteral("c")));
    rig.platform->plug(a); // plugged in again: a new instance
    rig.controller->DeviceChange();
    EXPECT_EQ(lines, QStringList({"removal b", "removal a", "arrival c", "arrival a"}));
}

TEST(HidController, ALentDeviceThatIsRemovedKeepsItsSlotUntilDestroyed) {
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    rig.platform->plug(cable);
    rig.platform->plug(SimulatedHidDevice::mouse());
    rig.start();
    auto device = rig.checkOut(0);
    EventLog log;
    log.attach(*rig.controller);
    log.lines.clear();
    rig.platform->unplug(cable);
    rig.controller->DeviceChange();
    EXPECT_FALSE(device->IsPluggedIn());
    EXPECT_EQ(rig.controller->DeviceCount(), 2);
    rig.controller->DeviceChange(); // reported again while it sits unplugged
    EXPECT_EQ(log.lines, QStringList({"unplug cab1", "removal cab1", "change", "removal cab1", "change"}));
    device.reset();
    ASSERT_EQ(rig.controller->DeviceCount(), 1);
    EXPECT_EQ(rig.controller->DeviceAt(0)->Attributes().VendorID, 0x5A5B);
}

TEST(HidController, DestroyingALentDeviceLeavesAFreshOneInItsSlot) {
    HidRig rig;
    rig.platform->plug(SimulatedHidDevice::mouse());
    rig.platform->plug(SimulatedHidDevice::cable());
    rig.start();
    rig.controller->setOnDeviceDataError(rig.collectErrors);
    auto device = rig.checkOut(1);
    device->setThreadSleepTime(250);
    device->setOnData(rig.collect);
    THidDevice* old = device.get();
    device.reset();
    THidDevice* fresh = rig.controller->DeviceAt(1);
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, old);
    EXPECT_FALSE(fresh->IsCheckedOut());
    EXPECT_EQ(fresh->readThread(), nullptr);
    EXPECT_EQ(fresh->OnData(), rig.collect);
    EXPECT_EQ(fresh->ThreadSleepTime(), 250);
    // The re-created cable reports its read errors to the controller's handler.
    EXPECT_EQ(fresh->OnDataError(), rig.collectErrors);
    std::vector<int> offered;
    rig.controller->setOnEnumerate([&](THidDevice*, std::int32_t idx) {
        offered.push_back(idx);
        return true;
    });
    rig.controller->Enumerate();
    EXPECT_EQ(offered, (std::vector<int>{0, 1}));
}

TEST(HidController, AReleaseThatCannotRecreateTheDeviceDropsItsSlot) {
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    rig.platform->plug(cable);
    rig.platform->plug(SimulatedHidDevice::mouse());
    rig.start();
    auto device = rig.checkOut(0);
    cable->script.description = HidPlatform::Description::CannotIdentify;
    device.reset();
    ASSERT_EQ(rig.controller->DeviceCount(), 1);
    EXPECT_EQ(rig.controller->DeviceAt(0)->Attributes().VendorID, 0x5A5B);
    cable->script.description = HidPlatform::Description::Ok;
    rig.controller->DeviceChange();
    EXPECT_EQ(rig.controller->DeviceCount(), 2);
}

TEST(HidController, HandlerChangesReachTheDevicesStillOnTheOldOnes) {
    HidRig rig;
    rig.platform->plug(SimulatedHidDevice::cable());
    rig.platform->plug(SimulatedHidDevice::cable());
    rig.start();
    THidDevice* a = rig.controller->DeviceAt(0);
    THidDevice* b = rig.controller->DeviceAt(1);
    const THidDataEvent own = [](THidDevice*, std::uint8_t, const void*, std::uint16_t) {};
    const THidPlugEvent ownUnplug = [](THidDevice*) {};
    b->setOnData(own);
    b->setOnUnplug(ownUnplug);
    b->setThreadSleepTime(300);
    rig.controller->setOnDeviceData(rig.collect);
    rig.controller->setOnDeviceDataError(rig.collectErrors);
    rig.controller->setOnDeviceUnplug([](THidDevice*) {});
    rig.controller->setDevThreadSleepTime(20);
    EXPECT_EQ(a->OnData(), rig.collect);
    EXPECT_EQ(b->OnData(), own);
    EXPECT_EQ(a->OnDataError(), rig.collectErrors);
    EXPECT_EQ(b->OnDataError(), rig.collectErrors);
    EXPECT_EQ(a->OnUnplug(), rig.controller->OnDeviceUnplug());
    EXPECT_EQ(b->OnUnplug(), ownUnplug);
    EXPECT_EQ(a->ThreadSleepTime(), 20);
    EXPECT_EQ(b->ThreadSleepTime(), 300);
    // Out of the devices' range: stored, but the devices keep theirs.
    rig.controller->setDevThreadSleepTime(5);
    EXPECT_EQ(rig.controller->DevThreadSleepTime(), 5);
    EXPECT_EQ(a->ThreadSleepTime(), 20);
    // A lent device with the controller's handler starts reading when the handler comes.
    rig.controller->setOnDeviceData({});
    auto lent = rig.checkOut(0);
    EXPECT_EQ(lent->readThread(), nullptr);
    rig.controller->setOnDeviceData(rig.collect);
    EXPECT_NE(lent->readThread(), nullptr);
}

TEST(HidController, TheFirstHandlerAlwaysGetsANotification) {
    HidRig rig;
    rig.start();
    int calls = 0;
    const TNotifyEvent first = [&](QObject* sender) {
        EXPECT_EQ(sender, rig.controller.get());
        ++calls;
    };
    rig.controller->setOnDeviceChange(first);
    EXPECT_EQ(calls, 1);
    rig.controller->setOnDeviceChange(first);
    EXPECT_EQ(calls, 1);
    int second = 0;
    rig.controller->setOnDeviceChange([&](QObject*) { ++second; });
    EXPECT_EQ(second, 0);
    EXPECT_EQ(calls, 1);
}

TEST(HidController, WithoutTheSystemServicesThereAreNoDevicesAndNoWatch) {
    struct Case {
        const char* name;
        std::shared_ptr<HidPlatform> platform;
    };
    auto sim = std::make_shared<testing::SimulatedHidPlatform>();
    sim->canBind = false;
    sim->plug(SimulatedHidDevice::cable());
    const Case cases[] = {
        {"simulated", sim},
        {"no library", std::make_shared<LinuxHidPlatform>("libvoltaro-no-such-udev.so.1")},
        {"entry point missing", std::make_shared<LinuxHidPlatform>(UDEV_MISSING_ENTRY_LIBRARY)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        THidDeviceController controller(nullptr, c.platform);
        EXPECT_FALSE(controller.HidServicesBound());
        EXPECT_FALSE(controller.watching());
        EXPECT_EQ(controller.DeviceCount(), 0);
        int calls = 0;
        controller.setOnEnumerate([&](THidDevice*, std::int32_t) { return ++calls, true; });
        controller.setOnDeviceChange([&](QObject*) { ++calls; });
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(controller.Enumerate(), 0);
        controller.DeviceChange();
        EXPECT_EQ(calls, 1);
    }
    EXPECT_EQ(sim->lists(), 0);
}

TEST(HidController, ALentDeviceOutlivesItsController) {
    HidRig rig;
    auto cable = SimulatedHidDevice::cable();
    rig.platform->plug(cable);
    rig.platform->plug(SimulatedHidDevice::mouse());
    rig.start();
    int unplugs = 0;
    rig.controller->setOnDeviceUnplug([&](THidDevice*) { ++unplugs; });
    auto device = rig.checkOut(0);
    EXPECT_EQ(device->ProductName(), QStringLiteral("USB to Serial"));
    device->setOnData(rig.collect);
    rig.controller.reset();
    EXPECT_EQ(unplugs, 1);
    EXPECT_FALSE(device->IsPluggedIn());
    EXPECT_EQ(device->owner(), nullptr);
    EXPECT_EQ(device->ProductName(), QStringLiteral("USB to Serial"));
    ASSERT_TRUE(waitUntil([&] { return cable->openNodes() == 0; }));
    device.reset();
    EXPECT_NO_THROW(rig.start());
}

// Two links on one hub, the first left to the default cable, the second
// naming the other cable's socket: each reads its own cable, a mouse coming
// leaves both reading their devices, and a cable pulled leaves the other reading.
TEST(CableHub, LinksSharingTheControllerEachReadTheirOwnCable) {
    HidRig rig;
    auto first = SimulatedHidDevice::cable();
    first->portPath = QStringLiteral("1-1.2");
    auto second = SimulatedHidDevice::cable();
    second->portPath = QStringLiteral("1-1.3");
    rig.platform->plug(first);
    rig.platform->plug(second);
    auto hub = std::make_shared<CableHub>(rig.platform);
    CableLink any(hub);
    CableLink named(hub);
    named.setChoice(CableChoice::parse(QStringLiteral("1-1.3")));
    int toAny = 0;
    int toNamed = 0;
    any.setReportHandler([&](std::uint8_t, const std::uint8_t*, std::uint16_t) { ++toAny; });
    named.setReportHandler([&](std::uint8_t, const std::uint8_t*, std::uint16_t) { ++toNamed; });
    ASSERT_EQ(named.start(), CableLink::Start::Started);
    ASSERT_EQ(any.start(), CableLink::Start::Started);
    EXPECT_EQ(any.node(), first->path);
    EXPECT_EQ(named.node(), second->path);
    const std::vector<std::uint8_t> report = {0xF0, 0, 0, 0, 0, 0, 0, 0};
    const auto send = [&](SimulatedHidDevice& d, int n) {
        for (int i = 0; i < n; ++i)
            ASSERT_TRUE(d.send(report));
    };
    // Each read thread has its node open: what is sent now is read.
    ASSERT_TRUE(waitUntil([&] { return first->openNodes() == 2 && second->openNodes() == 2; }));
    send(*first, 3);
    send(*second, 5);
    ASSERT_TRUE(waitUntil([&] { return toAny == 3 && toNamed == 5; })) << toAny << " " << toNamed;

    int lists = 0;
    QObject::connect(&any, &CableLink::listChanged, [&] { ++lists; });
    THidDevice* const reading[] = {any.activeDevice(), named.activeDevice()};
    rig.platform->plug(SimulatedHidDevice::mouse());
    ASSERT_TRUE(waitUntil([&] { return lists > 0; }));
    EXPECT_EQ(any.activeDevice(), reading[0]);
    EXPECT_EQ(named.activeDevice(), reading[1]);

    rig.platform->unplug(second);
    ASSERT_TRUE(waitUntil([&] { return named.state() == CableLink::State::Waiting; }));
    EXPECT_EQ(any.state(), CableLink::State::Open);
    send(*first, 2);
    ASSERT_TRUE(waitUntil([&] { return toAny == 5; })) << toAny;
    EXPECT_EQ(toNamed, 5);
    EXPECT_EQ(first->features().size(), 1u);
}

} // namespace
} // namespace voltaro
