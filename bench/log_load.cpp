// voltaro-log recording at the serial line's limit.
//   log_load [SECONDS] [txt|xml|mqtt]
// Starts meter-sim --pty --rate max (137 frames a second) and voltaro-log
// recording that port into a file of the given kind (default: text, 60 s),
// standard output to /dev/null. "mqtt" records the text file and publishes
// every reading with --mqtt to a mosquitto started here on a free loopback
// port (its files in a temporary folder, stopped by its pid). Every 5 seconds it prints voltaro-log's CPU
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
#include <arpa/inet.h>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using voltaro::bench::cpuSeconds;
using voltaro::bench::statusKiB;

namespace {

// A port on 127.0.0.1 that nothing listens on (0 when there is none).
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), size) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

bool listening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// mosquitto on 127.0.0.1:`port`, with its configuration and persistence in `dir`.
bool startBroker(QProcess& broker, const QTemporaryDir& dir, int port) {
    QFile config(dir.filePath("mosquitto.conf"));
    if (port == 0 || !config.open(QIODevice::WriteOnly))
        return false;
    config.write(QStringLiteral("persistence true\npersistence_location %1/\nlistener %2 127.0.0.1\n"
                                "allow_anonymous true\n")
                     .arg(dir.path())
                     .arg(port)
                     .toUtf8());
    config.close();
    broker.start(QStringLiteral("mosquitto"), {"-c", config.fileName()});
    if (!broker.waitForStarted(3000))
        return false;
    for (int i = 0; i < 100 && !listening(port); ++i)
        QThread::msleep(50);
    return listening(port);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const bool xml = argc > 2 && std::strcmp(argv[2], "xml") == 0;
    const bool mqtt = argc > 2 && std::strcmp(argv[2], "mqtt") == 0;
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
    QStringList args{"--port", port, "--out", out, "--quiet"};
    QProcess broker;
    if (mqtt) {
        const int brokerPort = freePort();
        if (!startBroker(broker, dir, brokerPort)) {
            std::fprintf(stderr, "log_load: mosquitto did not start (install the package mosquitto)\n");
            return 1;
        }
        args << "--mqtt" << QStringLiteral("mqtt://127.0.0.1:%1/bench").arg(brokerPort);
    }
    log.start(QStringLiteral(VOLTARO_LOG_PATH), args);
    if (!log.waitForStarted(3000))
        return 1;
    const qint64 pid = log.processId();
    // Past its start-up, so the figures are those of recording.
    QThread::sleep(1);

    std::printf("voltaro-log --port %s --out %s%s at 137 frames/s for %d s\n", qPrintable(port),
                xml ? "FILE.xml" : "FILE.txt", mqtt ? " --mqtt mqtt://127.0.0.1:PORT/bench" : "", seconds);
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
    if (mqtt) {
        ::kill(static_cast<pid_t>(broker.processId()), SIGTERM);
        broker.waitForFinished(10000);
    }
    const QString err = QString::fromUtf8(log.readAllStandardError()).trimmed();
    std::printf("CPU %.3f s in %.1f s = %.2f %% of one core\n", cpu, elapsed, 100.0 * cpu / elapsed);
    std::printf("peak RSS %ld KiB; RSS %ld KiB at 0 s, %ld KiB at the end (%+ld KiB)\n", peak, rssFirst,
                rss.empty() ? rssFirst : rss.back(), (rss.empty() ? rssFirst : rss.back()) - rssFirst);
    std::printf("exit status %d; voltaro-log said:\n%s\n", log.exitCode(), qPrintable(err));
    return log.exitCode() == 0 ? 0 : 1;
}
