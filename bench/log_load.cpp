// voltaro-log recording at the serial line's limit.
//   log_load [SECONDS] [txt|xml]
// Starts meter-sim --pty --rate max (137 frames a second) and voltaro-log
// recording that port into a file of the given kind (default: text, 60 s),
// standard output to /dev/null. Every 5 seconds it prints voltaro-log's CPU
// share of one core over those seconds and its resident memory; at the end
// the CPU share over the whole run, the peak resident memory, how far the
// resident memory moved from the first sample to the last, and the rows the
// file holds.
#include "bench/ProcessFigures.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

using voltaro::bench::cpuSeconds;
using voltaro::bench::statusKiB;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const bool xml = argc > 2 && std::strcmp(argv[2], "xml") == 0;
    if (seconds <= 0)
        return 2;
    QTemporaryDir dir;
    QProcess sim;
    sim.start(QStringLiteral(METER_SIM_PATH), {"--pty", "--rate", "max", "--scenario", "dcv"});
    if (!sim.waitForStarted(3000) || !sim.waitForReadyRead(3000))
        return 1;
    const QString port = QString::fromUtf8(sim.readLine()).trimmed();
    const QString out = dir.filePath(xml ? "load.xml" : "load.txt");
    QProcess log;
    log.setStandardOutputFile(QProcess::nullDevice());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", dir.filePath("state"));
    log.setProcessEnvironment(env);
    log.start(QStringLiteral(VOLTARO_LOG_PATH), {"--port", port, "--out", out, "--quiet"});
    if (!log.waitForStarted(3000))
        return 1;
    const qint64 pid = log.processId();
    // Past its start-up, so the figures are those of recording.
    QThread::sleep(1);

    std::printf("voltaro-log --port %s --out %s at 137 frames/s for %d s\n", qPrintable(port),
                xml ? "FILE.xml" : "FILE.txt", seconds);
    std::printf("%6s %10s %10s\n", "t (s)", "CPU (%)", "RSS (KiB)");
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds(pid);
    double cpuBefore = cpu0;
    qint64 msBefore = 0;
    std::vector<long> rss;
    const long rssFirst = statusKiB(pid, "VmRSS:");
    std::printf("%6d %10s %10ld\n", 0, "-", rssFirst);
    for (int t = 5; t <= seconds; t += 5) {
        QThread::msleep(static_cast<unsigned long>(std::max<qint64>(0, t * 1000 - wall.elapsed())));
        const double cpu = cpuSeconds(pid);
        const qint64 ms = wall.elapsed();
        rss.push_back(statusKiB(pid, "VmRSS:"));
        std::printf("%6d %10.2f %10ld\n", t, 100.0 * (cpu - cpuBefore) / ((ms - msBefore) / 1000.0),
                    rss.back());
        std::fflush(stdout);
        cpuBefore = cpu;
        msBefore = ms;
    }
    const double cpu = cpuSeconds(pid) - cpu0;
    const double elapsed = wall.elapsed() / 1000.0;
    const long peak = statusKiB(pid, "VmHWM:");
    ::kill(static_cast<pid_t>(pid), SIGINT);
    log.waitForFinished(10000);
    sim.kill();
    sim.waitForFinished(3000);
    const QString err = QString::fromUtf8(log.readAllStandardError()).trimmed();
    std::printf("CPU %.3f s in %.1f s = %.2f %% of one core\n", cpu, elapsed, 100.0 * cpu / elapsed);
    std::printf("peak RSS %ld KiB; RSS %ld KiB at 0 s, %ld KiB at the end (%+ld KiB)\n", peak, rssFirst,
                rss.empty() ? rssFirst : rss.back(), (rss.empty() ? rssFirst : rss.back()) - rssFirst);
    std::printf("exit status %d; voltaro-log said:\n%s\n", log.exitCode(), qPrintable(err));
    return log.exitCode() == 0 ? 0 : 1;
}
