// voltaro-log --port against a pseudo-terminal (the USB side is tested under umockdev).
#include "link/serial/TComPortDriver.h"
#include "support/LinkTestSupport.h"
#include "tools/MeterSimulator.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace voltaro {
namespace {

using testing::Pty;

struct LogRun {
    int status = -1;
    QString out;
    QString err;
};

LogRun runLog(const QStringList& args, const Pty* feed = nullptr, const std::string& bytes = {}) {
    QProcess p;
    p.start(QStringLiteral(VOLTARO_LOG_PATH), args);
    if (!p.waitForStarted(5000))
        return {};
    if (feed) {
        // Fed a frame at a time until the program has what it needs and ends.
        for (std::size_t i = 0; i < bytes.size() && p.state() == QProcess::Running; i += 14) {
            feed->send(bytes.substr(i, 14));
            p.waitForFinished(30);
        }
    }
    p.waitForFinished(10000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

TEST(VoltaroLogPort, PrintsDecodedFramesUntilTheCount) {
    Pty pty;
    ASSERT_TRUE(pty.ok()) << pty.error().toStdString();
    sim::MeterSimulator meter("dcv", 1);
    std::string bytes;
    for (int i = 0; i < 200; ++i) {
        const auto b = meter.nextSerialBytes();
        bytes.append(b.begin(), b.end());
    }
    const LogRun run = runLog({"--port", pty.path(), "--count", "3"}, &pty, bytes);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    for (const QString& line : lines) {
        EXPECT_EQ(line.split('\t').size(), 12) << line.toStdString();
        EXPECT_TRUE(line.startsWith('A') && line.section('\t', 0, 0).endsWith('D')) << line.toStdString();
    }
}

TEST(VoltaroLogPort, AMissingOrBusyPortHasItsOwnStatus) {
    const LogRun missing = runLog({"--port", "/dev/voltaro-no-such-port"});
    EXPECT_EQ(missing.status, 6);
    EXPECT_TRUE(missing.err.contains("/dev/voltaro-no-such-port")) << missing.err.toStdString();

    Pty pty;
    ASSERT_TRUE(pty.ok());
    TComPortDriver holder;
    holder.setPortResolver([&](int) { return pty.path(); });
    ASSERT_TRUE(holder.Connect()) << holder.lastError().toStdString();
    const LogRun busy = runLog({"--port", pty.path()});
    EXPECT_EQ(busy.status, 5);
    EXPECT_TRUE(busy.err.contains("in use")) << busy.err.toStdString();

    EXPECT_EQ(runLog({"--count", "0", "--usb"}).status, 2);
}

} // namespace
} // namespace voltaro
