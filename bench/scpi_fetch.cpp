// The SCPI server's answer time at the serial line's limit.
//   scpi_fetch [N]
// Starts meter-sim --pty --rate max (137 frames a second) and voltaro-log
// reading that port into a text file with --scpi on a free port, then sends
// FETC? N times (default 2000) over one connection at the line's rate too
// (one every 1/137 s, each after the last answer came; 15 s for 2000), and
// prints the answer time's median, p95 and largest, and voltaro-log's CPU
// share over the run.
#include "bench/ProcessFigures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

using voltaro::bench::cpuSeconds;

namespace {

// The port voltaro-log says it serves on, or 0.
int servedPort(QProcess& log) {
    QElapsedTimer waited;
    waited.start();
    QByteArray said;
    const QRegularExpression served(QStringLiteral("serving SCPI on 127\\.0\\.0\\.1:(\\d+)"));
    while (waited.elapsed() < 5000) {
        log.waitForReadyRead(200);
        said += log.readAllStandardError();
        const auto m = served.match(QString::fromUtf8(said));
        if (m.hasMatch())
            return m.captured(1).toInt();
    }
    std::fprintf(stderr, "voltaro-log did not serve SCPI: %s\n", said.constData());
    return 0;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::atoi(argv[1]) : 2000;
    if (n <= 0)
        return 2;
    QTemporaryDir dir;
    QProcess sim;
    sim.start(QStringLiteral(METER_SIM_PATH), {"--pty", "--rate", "max", "--scenario", "dcv"});
    if (!sim.waitForStarted(3000) || !sim.waitForReadyRead(3000))
        return 1;
    const QString port = QString::fromUtf8(sim.readLine()).trimmed();
    QProcess log;
    log.setStandardOutputFile(QProcess::nullDevice());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", dir.filePath("state"));
    log.setProcessEnvironment(env);
    log.start(QStringLiteral(VOLTARO_LOG_PATH),
              {"--port", port, "--out", dir.filePath("load.txt"), "--quiet", "--scpi", "0"});
    if (!log.waitForStarted(3000))
        return 1;
    const int scpiPort = servedPort(log);
    QTcpSocket client;
    client.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(scpiPort));
    if (scpiPort == 0 || !client.waitForConnected(3000))
        return 1;
    // Past the start-up, so that every answer is of a reading.
    QThread::sleep(1);

    const double cpu0 = cpuSeconds(log.processId());
    QElapsedTimer wall;
    wall.start();
    std::vector<double> ms;
    ms.reserve(static_cast<std::size_t>(n));
    int stale = 0;
    constexpr double kFramesPerSecond = 137.0;
    for (int i = 0; i < n; ++i) {
        const auto due = static_cast<qint64>(i * 1e9 / kFramesPerSecond);
        if (const qint64 early = due - wall.nsecsElapsed(); early > 0)
            QThread::usleep(static_cast<unsigned long>(early / 1000));
        QElapsedTimer t;
        t.start();
        client.write("FETC?\n");
        while (!client.canReadLine())
            if (!client.waitForReadyRead(5000))
                return 1;
        ms.push_back(t.nsecsElapsed() / 1e6);
        stale += client.readLine().startsWith("+9.91") ? 1 : 0;
    }
    const double cpu = cpuSeconds(log.processId()) - cpu0;
    const double elapsed = wall.elapsed() / 1000.0;
    ::kill(static_cast<pid_t>(log.processId()), SIGINT);
    log.waitForFinished(10000);
    sim.kill();
    sim.waitForFinished(3000);
    std::printf("FETC? over one connection, %d times at 137 a second, voltaro-log --port --out --scpi at 137 "
                "frames/s\n",
                n);
    std::printf("answer time: median %.3f ms, p95 %.3f ms, largest %.3f ms (%d without a reading)\n",
                percentile(ms, 0.5), percentile(ms, 0.95), *std::max_element(ms.begin(), ms.end()), stale);
    std::printf("voltaro-log CPU %.3f s in %.1f s = %.2f %% of one core; exit status %d\n", cpu, elapsed,
                100.0 * cpu / elapsed, log.exitCode());
    return log.exitCode() == 0 && stale == 0 ? 0 : 1;
}
