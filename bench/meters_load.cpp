// voltaro-log reading several meters at the serial line's limit.
//   meters_load [SECONDS]
// Runs voltaro-log three times, SECONDS each (default 30), every meter a
// meter-sim --pty --rate max (137 frames a second): one meter as ever
// (--port DEVICE), one named meter (--port V=DEVICE), and two named meters
// with a derived column (--port V=... --port I=... --calc 'P[W]=V*I'), each
// recording into a text file. For each it prints voltaro-log's CPU share of
// one core, its resident memory at the first sample, half way, at the last
// and at its peak, the rows in the file and the frames decoded a meter; then the two
// meters' CPU over the one named meter's, whose goal is at most 2. At least
// 10 s: the CPU time is counted in hundredths of a second.
#include "bench/ProcessFigures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using voltaro::bench::cpuSeconds;
using voltaro::bench::statusKiB;

struct Figures {
    double cpuSeconds = -1;
    double cpuShare = -1; // % of one core
    long rssFirst = -1, rssHalf = -1, rssLast = -1, rssPeak = -1;
    qsizetype rows = 0;
    QString decoded; // "V 4110, I 4109"
    int status = -1;
};

// meter-sim on a pseudo-terminal at the line's limit; its device path.
std::unique_ptr<QProcess> startMeter(QString* path, int seed) {
    auto sim = std::make_unique<QProcess>();
    sim->start(QStringLiteral(METER_SIM_PATH),
               {"--pty", "--rate", "max", "--scenario", "dcv", "--seed", QString::number(seed)});
    if (!sim->waitForStarted(3000) || !sim->waitForReadyRead(3000))
        return nullptr;
    *path = QString::fromUtf8(sim->readLine()).trimmed();
    return sim;
}

Figures measure(const QStringList& meterArgs, const QString& out, const QString& state, int seconds) {
    Figures f;
    QProcess log;
    log.setStandardOutputFile(QProcess::nullDevice());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", state);
    log.setProcessEnvironment(env);
    log.start(QStringLiteral(VOLTARO_LOG_PATH), meterArgs + QStringList{"--out", out, "--quiet"});
    if (!log.waitForStarted(3000))
        return f;
    const qint64 pid = log.processId();
    // Past its start-up, so the figures are those of recording.
    QThread::sleep(1);
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds(pid);
    f.rssFirst = statusKiB(pid, "VmRSS:");
    for (int t = 5; t <= seconds; t += 5) {
        QThread::msleep(static_cast<unsigned long>(std::max<qint64>(0, t * 1000 - wall.elapsed())));
        f.rssLast = statusKiB(pid, "VmRSS:");
        if (t <= seconds / 2)
            f.rssHalf = f.rssLast;
    }
    f.cpuSeconds = cpuSeconds(pid) - cpu0;
    f.cpuShare = 100.0 * f.cpuSeconds / (wall.elapsed() / 1000.0);
    f.rssPeak = statusKiB(pid, "VmHWM:");
    ::kill(static_cast<pid_t>(pid), SIGINT);
    log.waitForFinished(10000);
    f.status = log.exitStatus() == QProcess::NormalExit ? log.exitCode() : -1;
    const QString err = QString::fromUtf8(log.readAllStandardError());
    QRegularExpression frames("^(\\S*) ?frames: \\d+ decoded: (\\d+)", QRegularExpression::MultilineOption);
    for (auto m = frames.globalMatch(err); m.hasNext();) {
        const auto match = m.next();
        f.decoded += (f.decoded.isEmpty() ? "" : ", ") +
                     (match.captured(1).isEmpty() ? QString() : match.captured(1) + ' ') + match.captured(2);
    }
    QFile file(out);
    if (file.open(QIODevice::ReadOnly))
        f.rows = file.readAll().count('\n') - 1;
    if (f.status != 0)
        std::fprintf(stderr, "%s", qPrintable(err));
    return f;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    if (seconds < 10)
        return 2;
    QTemporaryDir dir;
    QString first, second;
    const auto meterV = startMeter(&first, 1);
    const auto meterI = startMeter(&second, 2);
    if (!meterV || !meterI)
        return 1;
    const QString state = dir.filePath("state");
    struct Run {
        const char* what;
        QStringList args;
        Figures f;
    } runs[] = {
        {"one meter (--port DEVICE)", {"--port", first}, {}},
        {"one named meter (--port V=DEVICE)", {"--port", "V=" + first}, {}},
        {"two named meters and P[W]=V*I",
         {"--port", "V=" + first, "--port", "I=" + second, "--calc", "P[W]=V*I"},
         {}},
    };
    std::printf("voltaro-log recording meters at 137 frames/s each, %d s a run\n", seconds);
    std::printf("%-36s %9s %9s %10s %10s %10s %10s %7s  %s\n", "", "CPU (s)", "CPU (%)", "RSS first",
                "RSS half", "RSS last", "RSS peak", "rows", "frames decoded");
    int failed = 0;
    for (int i = 0; i < 3; ++i) {
        Run& r = runs[i];
        r.f = measure(r.args, dir.filePath(QStringLiteral("run%1.txt").arg(i)), state, seconds);
        failed += r.f.status != 0;
        std::printf("%-36s %9.2f %9.2f %10ld %10ld %10ld %10ld %7lld  %s\n", r.what, r.f.cpuSeconds,
                    r.f.cpuShare, r.f.rssFirst, r.f.rssHalf, r.f.rssLast, r.f.rssPeak,
                    static_cast<long long>(r.f.rows), qPrintable(r.f.decoded));
        std::fflush(stdout);
    }
    for (QProcess* sim : {meterV.get(), meterI.get()}) {
        sim->kill();
        sim->waitForFinished(3000);
    }
    std::printf("two meters / one named meter: CPU x %.2f (goal: at most 2)\n",
                runs[2].f.cpuShare / runs[1].f.cpuShare);
    return failed == 0 ? 0 : 1;
}
