// The serial link under load, through the real window and driver.
//   link_load cpu SECONDS   meter-sim at the line's limit (137 frames/s) on a
//                           pseudo-terminal, "COM Connect" pressed; prints the
//                           program's CPU time as a share of one core.
//   link_load latency N     writes N frames one at a time and prints how long
//                           each took from its last byte written to the LCD
//                           panel painting it (median, 95th percentile, max).
//   link_load usb-cpu SECONDS
//                           a simulated USB cable sending 1000 reports/s, the
//                           meter's frames at the line's limit among them,
//                           "USB Connect" pressed, every frame recorded; prints
//                           the window's CPU time (the simulated cable's own
//                           thread left out) as a share of one core.
//   link_load usb-latency N the same cable, streaming empty reports at 1000/s,
//                           sends N frames one at a time among them; prints how
//                           long each took from the report that ends it to the
//                           LCD panel painting it.
#include "bench/BenchSupport.h"
#include "core/link/serial/TComPortDriver.h"
#include "support/SimulatedHidPlatform.h"
#include "tools/MeterSimulator.h"
#include "tools/SimRunner.h"
#include "widgets/app/TFCOMM.h"
#include "widgets/chart/ChartRegion.h"
#include "widgets/lcd/LcdPanel.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <random>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace voltaro::bench;

// Runs the event loop for `ms`. Never QApplication::quit(): in Qt 6 it
// closes the window, which asks about the unsaved rows and waits for an
// answer nobody gives.
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int runCpu(int seconds) {
    QProcess sim;
    sim.start(QStringLiteral(METER_SIM_PATH), {"--pty", "--rate", "max", "--scenario", "dcv"});
    if (!sim.waitForStarted(3000) || !sim.waitForReadyRead(3000))
        return 1;
    qputenv("VOLTARO_COM1", sim.readLine().trimmed());
    voltaro::TFCOMM w;
    w.show();
    w.findChild<QPushButton*>(QStringLiteral("COMCon"))->click();
    if (!w.linkBar().driver().Connected())
        return 1;
    QElapsedTimer wall;
    const double cpu0 = processCpuSeconds();
    const auto decoded0 = w.pipeline().stats().decoded;
    wall.start();
    runFor(seconds * 1000);
    const double cpu = processCpuSeconds() - cpu0;
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const auto frames = w.pipeline().stats().decoded - decoded0;
    std::printf("wall %.1f s, frames decoded %llu (%.1f/s), CPU %.3f s = %.2f %% of one core\n", elapsed,
                static_cast<unsigned long long>(frames), frames / elapsed, cpu, 100.0 * cpu / elapsed);
    sim.kill();
    sim.waitForFinished();
    return 0;
}

class PaintWatch : public QObject {
public:
    std::function<void()> onPaint;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && onPaint)
            onPaint();
        return false;
    }
};

// Sends `count` frames one at a time, each a random moment after the LCD
// painted the one before, and prints how long each took from `send`
// returning to the panel painting its last digit.
int measureLatency(voltaro::TFCOMM& w, int count, int seed,
                   const std::function<void(const voltaro::sim::MeterFrame&)>& send) {
    auto* lcd = w.findChild<voltaro::LcdPanel*>("Panel1");
    PaintWatch watch;
    lcd->installEventFilter(&watch);
    std::vector<double> ms;
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> phase(0, 60);
    QElapsedTimer sinceSent;
    QString expected;
    int sent = 0;
    QEventLoop loop;
    std::function<void()> sendNext = [&] {
        if (sent == count) {
            loop.quit();
            return;
        }
        voltaro::sim::MeterFrame f;
        f.function = 11;
        f.range = 1;
        f.option3 = 10;
        f.withCount(10000 + sent);
        expected = QString::number(10000 + sent).right(1);
        send(f);
        sinceSent.start();
        ++sent;
    };
    watch.onPaint = [&] {
        if (!sinceSent.isValid() || lcd->digitText(4) != expected)
            return;
        ms.push_back(sinceSent.nsecsElapsed() / 1e6);
        sinceSent.invalidate();
        QTimer::singleShot(40 + phase(rng), sendNext);
    };
    QTimer::singleShot(200, sendNext);
    loop.exec();
    std::sort(ms.begin(), ms.end());
    if (ms.empty())
        return 1;
    std::printf("frames %zu: latency median %.1f ms, 95th percentile %.1f ms, max %.1f ms\n", ms.size(),
                ms[ms.size() / 2], ms[ms.size() * 95 / 100], ms.back());
    return 0;
}

int runLatency(int count) {
    std::string error;
    const auto pty = voltaro::sim::openMeterPty(error);
    if (!pty)
        return 1;
    const int master = pty->master.get();
    qputenv("VOLTARO_COM1", QByteArray::fromStdString(pty->slavePath));
    voltaro::TFCOMM w;
    w.show();
    w.findChild<QPushButton*>(QStringLiteral("COMCon"))->click();
    // The terminal takes a frame whole; say so if it ever does not.
    auto send = [master](const void* data, std::size_t size) {
        if (::write(master, data, size) != static_cast<ssize_t>(size))
            std::perror("link_load: writing to the terminal");
    };
    const std::uint8_t lf = 0x0A;
    send(&lf, 1);
    return measureLatency(w, count, 3, [&](const voltaro::sim::MeterFrame& f) {
        const auto bytes = f.wireBytes();
        send(bytes.data(), bytes.size());
    });
}

struct UsbWindow {
    std::shared_ptr<voltaro::testing::SimulatedHidPlatform> platform =
        std::make_shared<voltaro::testing::SimulatedHidPlatform>();
    std::shared_ptr<voltaro::testing::SimulatedHidDevice> cable =
        voltaro::testing::SimulatedHidDevice::cable();
    std::unique_ptr<voltaro::TFCOMM> w;

    bool start() {
        platform->plug(cable);
        w = std::make_unique<voltaro::TFCOMM>(nullptr, platform);
        w->show();
        w->findChild<QAction*>(QStringLiteral("limitess"))->trigger();
        w->findChild<QPushButton*>(QStringLiteral("USBCon"))->click();
        // Reading once the read thread has its node beside the one for feature reports.
        QElapsedTimer t;
        t.start();
        while (cable->openNodes() < 2 && t.elapsed() < 3000)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        return cable->openNodes() == 2;
    }
};

int runUsbCpu(int seconds) {
    UsbWindow u;
    if (!u.start())
        return 1;
    // 1000 report slots a second; a frame every 1000/137 slots, as fast as
    // the meter's serial line carries them.
    voltaro::sim::MeterSimulator meter("dcv", 3);
    std::vector<std::vector<std::uint8_t>> frame;
    std::uint64_t nextFrameSlot = 0, framesSent = 0;
    std::size_t inFrame = 0;
    std::atomic<double> senderCpu{0};
    u.cable->startStreaming(1000, [&](std::uint64_t slot) {
        senderCpu = threadCpuSeconds();
        if (inFrame == frame.size() && slot >= nextFrameSlot) {
            frame = cableReports(meter.nextFrame());
            inFrame = 0;
            ++framesSent;
            nextFrameSlot = framesSent * 1000 / 137;
        }
        if (inFrame < frame.size())
            return frame[inFrame++];
        return kEmptyReport;
    });
    QElapsedTimer wall;
    const double cpu0 = processCpuSeconds();
    const double sender0 = senderCpu;
    const auto decoded0 = u.w->pipeline().stats().decoded;
    const auto rows0 = u.w->recording().table().rowCount();
    const auto offered0 = u.cable->offered();
    wall.start();
    runFor(seconds * 1000);
    const double cpu = processCpuSeconds() - cpu0 - (senderCpu - sender0);
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const auto frames = u.w->pipeline().stats().decoded - decoded0;
    const auto rows = u.w->recording().table().rowCount() - rows0;
    const auto reports = u.cable->offered() - offered0;
    u.cable->stopStreaming();
    std::printf("wall %.1f s, reports %llu (%.0f/s), frames decoded %llu (%.1f/s), rows recorded %lld, "
                "CPU %.3f s = %.2f %% of one core\n",
                elapsed, static_cast<unsigned long long>(reports), reports / elapsed,
                static_cast<unsigned long long>(frames), frames / elapsed, static_cast<long long>(rows), cpu,
                100.0 * cpu / elapsed);
    return 0;
}

int runUsbLatency(int count) {
    UsbWindow u;
    if (!u.start())
        return 1;
    // The cable streams empty reports at its pace, as it does between the
    // meter's frames; a frame goes out in the next report slots. Timed from
    // handing the frame over, at most a slot before its last report leaves.
    std::mutex queued;
    std::deque<std::vector<std::uint8_t>> outgoing;
    u.cable->startStreaming(1000, [&](std::uint64_t) {
        std::lock_guard lock(queued);
        if (outgoing.empty())
            return kEmptyReport;
        auto r = std::move(outgoing.front());
        outgoing.pop_front();
        return r;
    });
    const int result = measureLatency(*u.w, count, 5, [&](const voltaro::sim::MeterFrame& f) {
        std::lock_guard lock(queued);
        for (auto& r : cableReports(f))
            outgoing.push_back(std::move(r));
    });
    u.cable->stopStreaming();
    return result;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The journal of what is recorded here goes to a folder of its own, not the user's.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    const std::string mode = argc > 1 ? argv[1] : "";
    const int n = argc > 2 ? std::atoi(argv[2]) : 0;
    if (mode == "cpu" && n > 0)
        return runCpu(n);
    if (mode == "latency" && n > 0)
        return runLatency(n);
    if (mode == "usb-cpu" && n > 0)
        return runUsbCpu(n);
    if (mode == "usb-latency" && n > 0)
        return runUsbLatency(n);
    std::fprintf(stderr, "usage: link_load cpu|usb-cpu SECONDS | link_load latency|usb-latency FRAMES\n");
    return 2;
}
