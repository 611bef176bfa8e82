// The serial link under load, through the real window and driver.
//   link_load cpu SECONDS   meter-sim at the line's limit (137 frames/s) on a
//                           pseudo-terminal, "COM Connect" pressed; prints the
//                           program's CPU time as a share of one core.
//   link_load latency N     writes N frames one at a time and prints how long
//                           each took from its last byte written to the LCD
//                           panel painting it (median, 95th percentile, max).
#include "app/TFCOMM.h"
#include "chart/ChartRegion.h"
#include "decode/LcdPanel.h"
#include "link/serial/TComPortDriver.h"
#include "tools/MeterSimulator.h"
#include "tools/SimRunner.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <random>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
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
    const double cpu0 = cpuSeconds();
    const auto decoded0 = w.pipeline().stats().decoded;
    wall.start();
    QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
    QApplication::exec();
    const double cpu = cpuSeconds() - cpu0;
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
    auto* lcd = w.findChild<voltaro::LcdPanel*>("Panel1");
    PaintWatch watch;
    lcd->installEventFilter(&watch);

    std::vector<double> ms;
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> phase(0, 60);
    QElapsedTimer sinceWrite;
    QString expected;
    int sent = 0;
    const std::uint8_t lf = 0x0A;
    (void)::write(master, &lf, 1);
    std::function<void()> sendNext = [&] {
        if (sent == count) {
            QApplication::quit();
            return;
        }
        voltaro::sim::MeterFrame f;
        f.function = 11;
        f.range = 1;
        f.option3 = 10;
        f.withCount(10000 + sent);
        expected = QString::number(10000 + sent).right(1);
        const auto bytes = f.wireBytes();
        (void)::write(master, bytes.data(), bytes.size());
        sinceWrite.start();
        ++sent;
    };
    watch.onPaint = [&] {
        if (!sinceWrite.isValid() || lcd->digitText(4) != expected)
            return;
        ms.push_back(sinceWrite.nsecsElapsed() / 1e6);
        sinceWrite.invalidate();
        QTimer::singleShot(40 + phase(rng), sendNext);
    };
    QTimer::singleShot(200, sendNext);
    QApplication::exec();
    std::sort(ms.begin(), ms.end());
    if (ms.empty())
        return 1;
    std::printf("frames %zu: latency median %.1f ms, 95th percentile %.1f ms, max %.1f ms\n", ms.size(),
                ms[ms.size() / 2], ms[ms.size() * 95 / 100], ms.back());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    const int n = argc > 2 ? std::atoi(argv[2]) : 0;
    if (mode == "cpu" && n > 0)
        return runCpu(n);
    if (mode == "latency" && n > 0)
        return runLatency(n);
    std::fprintf(stderr, "usage: link_load cpu SECONDS | link_load latency FRAMES\n");
    return 2;
}
