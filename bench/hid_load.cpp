// The HID stack under load, against the simulated cable behind the platform
// seam: the production controller, device, read thread and frame pipeline.
//   hid_load [SECONDS]   prints, each measured over SECONDS (default 10):
//   - the delay from a report's arrival at the node to its OnData call
//     (median, 95th percentile, max), at 1000 reports/s;
//   - the CPU share of one core at 1000 reports/s, most of them empty, with
//     the meter's frames decoded (the simulated cable's own thread excluded);
//   - the CPU share of a reading device that receives nothing;
//   - the cost of one DeviceChange with 30 devices present.
#include "bench/BenchSupport.h"
#include "core/decode/MeterPipeline.h"
#include "core/link/hid/THidDevice.h"
#include "core/link/hid/THidDeviceController.h"
#include "core/link/hid/THidDeviceReadThread.h"
#include "support/SimulatedHidPlatform.h"
#include "tools/MeterSimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/resource.h>
#include <vector>

using namespace voltaro;
using testing::SimulatedHidDevice;
using testing::SimulatedHidPlatform;

namespace {

using namespace voltaro::bench;

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs the event loop, sleeping while there is nothing to do, as the program does.
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Rig {
    std::shared_ptr<SimulatedHidPlatform> platform = std::make_shared<SimulatedHidPlatform>();
    std::shared_ptr<SimulatedHidDevice> cable = SimulatedHidDevice::cable();
    std::unique_ptr<THidDeviceController> controller;
    std::unique_ptr<THidDevice> device;

    Rig() {
        platform->plug(cable);
        controller = std::make_unique<THidDeviceController>(nullptr, platform);
        controller->CheckOutByIndex(device, 0);
    }
};

void latency(int seconds) {
    Rig rig;
    std::vector<std::int64_t> delays;
    delays.reserve(static_cast<std::size_t>(seconds) * 1000);
    rig.device->setOnData([&](THidDevice*, std::uint8_t, const void* data, std::uint16_t size) {
        std::int64_t sent = 0;
        if (size >= sizeof sent) {
            std::memcpy(&sent, data, sizeof sent);
            delays.push_back(nowNs() - sent);
        }
    });
    runFor(100); // the thread has opened the node
    rig.cable->startStreaming(1000, [](std::uint64_t) {
        std::vector<std::uint8_t> r(8);
        const std::int64_t t = nowNs();
        std::memcpy(r.data(), &t, sizeof t);
        return r;
    });
    runFor(seconds * 1000);
    rig.cable->stopStreaming();
    rig.device->setOnData({});
    if (delays.empty()) {
        std::printf("delay: no reports arrived\n");
        return;
    }
    std::sort(delays.begin(), delays.end());
    auto at = [&](double q) { return delays[static_cast<std::size_t>(q * (delays.size() - 1))] / 1000.0; };
    std::printf("delay to OnData at 1000 reports/s (%zu reports): median %.1f us, p95 %.1f us, max %.1f us\n",
                delays.size(), at(0.5), at(0.95), delays.back() / 1000.0);
}

void streamingCpu(int seconds) {
    Rig rig;
    MeterPipeline pipeline;
    rig.device->setOnData([&](THidDevice*, std::uint8_t id, const void* data, std::uint16_t size) {
        pipeline.HidDataDX22K(id, static_cast<const std::uint8_t*>(data), size);
    });
    runFor(100);
    // The meter's frames at its own pace (4 a second: two data reports and
    // an empty one each), the rest of the 1000 reports a second empty.
    sim::MeterSimulator meter("dcv", 1);
    std::vector<std::vector<std::uint8_t>> frame;
    std::atomic<double> senderCpu{0};
    rig.cable->startStreaming(1000, [&](std::uint64_t i) {
        senderCpu = threadCpuSeconds();
        const std::uint64_t slot = i % 250;
        if (slot == 0) {
            frame.clear();
            for (auto& r : meter.nextHidReports())
                frame.emplace_back(r.begin() + 1, r.end());
        }
        if (slot < frame.size())
            return frame[slot];
        return std::vector<std::uint8_t>{0xF0, 0, 0, 0, 0, 0, 0, 0};
    });
    const double senderStart = senderCpu;
    const double start = processCpuSeconds();
    const double uiStart = threadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runFor(seconds * 1000);
    const double used = processCpuSeconds() - start - (senderCpu - senderStart);
    const double ui = threadCpuSeconds() - uiStart;
    const double elapsed = wall.elapsed() / 1000.0;
    const auto reports = rig.device->readThread()->reportsHanded();
    rig.cable->stopStreaming();
    rig.device->setOnData({});
    std::printf("CPU at 1000 reports/s (%llu reports, %llu frames decoded): %.2f %% of one core "
                "(user-interface thread %.2f %%, read thread %.2f %%)\n",
                static_cast<unsigned long long>(reports),
                static_cast<unsigned long long>(pipeline.stats().decoded), 100.0 * used / elapsed,
                100.0 * ui / elapsed, 100.0 * (used - ui) / elapsed);
}

void idleCpu(int seconds) {
    Rig rig;
    rig.device->setOnData([](THidDevice*, std::uint8_t, const void*, std::uint16_t) {});
    runFor(100);
    const auto waits = rig.device->readThread()->waits();
    const double start = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runFor(seconds * 1000);
    const double used = processCpuSeconds() - start;
    std::printf("CPU of an idle reading device: %.3f %% of one core (%llu waits in %.1f s)\n",
                100.0 * used / (wall.elapsed() / 1000.0),
                static_cast<unsigned long long>(rig.device->readThread()->waits() - waits),
                wall.elapsed() / 1000.0);
    rig.device->setOnData({});
}

void deviceChangeCost() {
    auto platform = std::make_shared<SimulatedHidPlatform>();
    for (int i = 0; i < 30; ++i)
        platform->plug(i % 3 ? SimulatedHidDevice::mouse() : SimulatedHidDevice::cable(QString::number(i)));
    THidDeviceController controller(nullptr, platform);
    constexpr int kRuns = 2000;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kRuns; ++i)
        controller.DeviceChange();
    std::printf("DeviceChange with %d devices: %.1f us each\n", controller.DeviceCount(),
                t.nsecsElapsed() / 1000.0 / kRuns);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    latency(seconds);
    streamingCpu(seconds);
    idleCpu(seconds);
    deviceChangeCost();
    return 0;
}
