// voltaro-log as a service runs it: options from a file, the state told to
// the service manager through the datagram socket NOTIFY_SOCKET names (here
// one the test holds), and the output file written in parts (--rotate): on an
// ordinary end every reading is in exactly one part, and a kill at any moment
// leaves only parts that load.
#include "core/recording/DataFiles.h"
#include "support/LogProcess.h"
#include "tools/FileRotation.h"
#include "tools/StreamedTableFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace voltaro {
namespace {

using testing::LogProcess;
using testing::SimPty;
using testing::waitUntil;

// A service manager's end of NOTIFY_SOCKET: each datagram one message.
class NotifySocket {
public:
    explicit NotifySocket(const QString& path) : path_(QFile::encodeName(path)) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path_.constData());
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~NotifySocket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool bound() const { return bound_; }
    // The messages that came since the last call, each with when it came.
    void receive(const LogProcess& log) {
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0) {
            messages << QString::fromUtf8(buffer, n);
            at.push_back(log.now());
        }
    }
    QStringList messages;
    std::vector<qint64> at;

private:
    QByteArray path_;
    int fd_ = -1;
    bool bound_ = false;
};

// The parts of `out` in the folder, in name order: the order they were written.
QStringList partsOf(const QString& out) {
    const QFileInfo info(out);
    QStringList parts =
        info.dir().entryList({info.completeBaseName() + "-*." + info.suffix()}, QDir::Files, QDir::Name);
    for (QString& p : parts)
        p = info.dir().filePath(p);
    return parts;
}

// Every part loads with the window's loader, and the parts together hold the
// rows numbered 1 to N once each, in order, each the reading printed for it.
// A kill can come after the file's writer has a pass's rows on disk and
// before the pass's lines are flushed to standard output: the last few rows
// may be unprinted, but still numbered on. Returns N.
qsizetype expectPartsHoldThePrintedReadings(const QStringList& parts, const QStringList& printed) {
    constexpr qsizetype kMostUnprinted = 64;
    qsizetype next = 0;
    for (const QString& part : parts) {
        SCOPED_TRACE(part.toStdString());
        ReadingTable t;
        const auto loaded = datafiles::loadTableFile(part, t, true);
        EXPECT_TRUE(loaded.ok) << QFileInfo(part).size() << " bytes";
        for (qsizetype r = 0; r < t.rowCount(); ++r, ++next) {
            if (next >= printed.size()) {
                if (next >= printed.size() + kMostUnprinted || t.intValue(r, ReadingTable::No) != next + 1) {
                    ADD_FAILURE() << "row " << next + 1 << " was never printed, and is numbered "
                                  << t.intValue(r, ReadingTable::No).value_or(-1) << " (" << printed.size()
                                  << " lines printed)";
                    return next;
                }
                continue;
            }
            const QStringList c = printed[next].split('\t');
            // The first row out of place is enough to tell.
            if (t.intValue(r, ReadingTable::No) != next + 1 || t.text(r, ReadingTable::Value) != c.value(1) ||
                t.text(r, ReadingTable::Judge) != c.value(8)) {
                ADD_FAILURE() << "row " << r << " of the part is numbered "
                              << t.intValue(r, ReadingTable::No).value_or(-1) << " and holds "
                              << t.text(r, ReadingTable::Value).toStdString() << ", not " << next + 1 << ", "
                              << c.value(1).toStdString();
                return next;
            }
        }
    }
    return next;
}

class VoltaroLogService : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QTemporaryDir dir;
};

// Under a service manager with a watchdog of 1.5 s: ready once the file
// is made, the status line as the rows rise, a sign of life at least once a
// period, and stopping at SIGTERM; the options, from a file, name an output
// with a blank in it, written in parts of 1 KiB.
TEST_F(VoltaroLogService, TellsTheManagerItsStateAndWritesEveryReadingIntoOnePart) {
    SimPty sim({"--rate", "50", "--scenario", "dcv", "--seed", "21"});
    ASSERT_FALSE(sim.path.isEmpty());
    const QString out = dir.filePath("bench run.txt");
    const QString config = dir.filePath("bench.conf");
    {
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(("# the bench\n\n  --port " + sim.path + "  \n--out " + out +
                 "\n--rotate 1k\n--decimal-sep .\n--quiet\n")
                    .toUtf8());
    }
    NotifySocket manager(dir.filePath("notify"));
    ASSERT_TRUE(manager.bound());
    const qint64 period = 1500;
    qputenv("NOTIFY_SOCKET", QFile::encodeName(dir.filePath("notify")));
    qputenv("WATCHDOG_USEC", QByteArray::number(period * 1000));
    LogProcess log({"--config", config}, dir.filePath("state"));
    qunsetenv("NOTIFY_SOCKET");
    qunsetenv("WATCHDOG_USEC");

    bool fileAtReady = false;
    ASSERT_TRUE(waitUntil(
        [&] {
            manager.receive(log);
            if (!manager.messages.isEmpty() && manager.messages.front().startsWith("READY=1"))
                fileAtReady = !partsOf(out).isEmpty();
            return !manager.messages.isEmpty() || !log.running();
        },
        10000))
        << log.err.toStdString();
    ASSERT_TRUE(manager.messages.front().startsWith("READY=1\nSTATUS=reading " + sim.path + "; "))
        << manager.messages.front().toStdString();
    EXPECT_TRUE(fileAtReady);
    // Three periods: rows recorded, parts made, the watchdog fed.
    ASSERT_TRUE(waitUntil(
        [&] {
            manager.receive(log);
            return log.now() - manager.at.front() > 3 * period || !log.running();
        },
        10000));
    // Signs of life are timed by when they came while the test listened.
    const qsizetype heard = manager.messages.size();
    log.signal(SIGTERM);
    ASSERT_EQ(log.finish(), 0) << log.err.toStdString();
    manager.receive(log);

    std::vector<qint64> pings;
    std::vector<int> rows;
    const QRegularExpression status("^STATUS=reading .*; (\\d+) rows recorded into " +
                                    QRegularExpression::escape(dir.path()) +
                                    "/bench run-\\d{8}-\\d{4}\\.txt$");
    for (qsizetype i = 0; i < manager.messages.size(); ++i) {
        const QString& m = manager.messages[i];
        if (m == "WATCHDOG=1" && i < heard)
            pings.push_back(manager.at[static_cast<std::size_t>(i)]);
        else if (const auto s = status.match(m.section('\n', -1)); s.hasMatch() && !m.startsWith("STOPPING"))
            rows.push_back(s.captured(1).toInt());
    }
    ASSERT_GE(rows.size(), 3u) << manager.messages.join('|').toStdString();
    EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end()));
    EXPECT_LT(rows.front(), rows.back());
    ASSERT_GE(pings.size(), 4u) << manager.messages.join('|').toStdString();
    for (std::size_t i = 1; i < pings.size(); ++i)
        EXPECT_LE(pings[i] - pings[i - 1], period) << "ping " << i;
    EXPECT_TRUE(manager.messages.back().startsWith("STOPPING=1\nSTATUS=stopping: "))
        << manager.messages.back().toStdString();

    // Nothing lost or written twice across the parts, each no more than 1 KiB.
    const QStringList parts = partsOf(out);
    ASSERT_GE(parts.size(), 3) << log.err.toStdString();
    for (qsizetype i = 0; i + 1 < parts.size(); ++i)
        EXPECT_LE(QFileInfo(parts[i]).size(), 1024) << parts[i].toStdString();
    EXPECT_EQ(expectPartsHoldThePrintedReadings(parts, log.lines), log.lines.size());
    EXPECT_TRUE(log.err.contains(QStringLiteral("%1 rows in %2 files, the last %3\n")
                                     .arg(log.lines.size())
                                     .arg(parts.size())
                                     .arg(parts.back())))
        << log.err.toStdString();
}

// Killed at random moments while its parts rotate several times a second:
// whatever it leaves loads, and the parts hold a run of the readings printed,
// each once. VOLTARO_KILL_SEED replays a run.
TEST_F(VoltaroLogService, KilledWhileRotatingItLeavesPartsThatLoadAndHoldEachReadingOnce) {
    std::uint32_t seed = std::random_device{}();
    if (const QByteArray given = qgetenv("VOLTARO_KILL_SEED"); !given.isEmpty())
        seed = given.toUInt();
    std::printf("kill moments from seed %u (VOLTARO_KILL_SEED=%u replays them)\n", seed, seed);
    SCOPED_TRACE("VOLTARO_KILL_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> moment(300, 3000);
    SimPty sim({"--rate", "max", "--scenario", "dcv", "--seed", "22"});
    ASSERT_FALSE(sim.path.isEmpty());
    int rotated = 0;
    for (int run = 0; run < 8; ++run) {
        const int killAfter = moment(rng);
        SCOPED_TRACE("run " + std::to_string(run) + ", killed after " + std::to_string(killAfter) + " ms");
        const QString out = dir.filePath(QStringLiteral("killed%1.txt").arg(run));
        LogProcess log({"--port", sim.path, "--out", out, "--rotate", "1k", "--decimal-sep", ".", "--quiet"},
                       dir.filePath("state"));
        ASSERT_TRUE(waitUntil([&] { return log.now() >= killAfter || !log.running(); }, killAfter + 5000));
        ASSERT_TRUE(log.running()) << log.err.toStdString();
        log.signal(SIGKILL);
        ASSERT_EQ(log.finish(), -1);
        const QStringList parts = partsOf(out);
        expectPartsHoldThePrintedReadings(parts, log.lines);
        rotated += parts.size() > 1 ? 1 : 0;
    }
    EXPECT_GT(rotated, 0);
}

// A file of options that cannot be read, or holds what is no option, is
// refused as a command line is: one line naming the file (and the line), status 2.
TEST_F(VoltaroLogService, AMistakeInTheOptionsFileIsOneLineNamingIt) {
    const QString config = dir.filePath("bad.conf");
    const QByteArray contents[] = {"--port /dev/null\nport /dev/ttyS0\n", "--config other.conf\n",
                                   "--port /dev/null\n--rotate 1y\n",
                                   "--port /dev/null\n--out x.xml\n--rotate 1d\n"};
    const char* said[] = {"bad.conf line 2: \"port\" is no option", "names no other file",
                          "--rotate needs a time", "the XML packet is written only when the recording ends"};
    for (std::size_t i = 0; i <= std::size(contents); ++i) {
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        if (i < std::size(contents))
            f.write(contents[i]);
        f.close();
        if (i == std::size(contents))
            f.remove();
        QProcess p;
        p.start(QStringLiteral(VOLTARO_LOG_PATH), {"--config", config});
        ASSERT_TRUE(p.waitForFinished(10000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), 2) << err.toStdString();
        EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
        EXPECT_TRUE(err.contains(i < std::size(contents) ? said[i] : "No such file")) << err.toStdString();
        EXPECT_TRUE(err.contains(config)) << err.toStdString();
    }
}

// The rows a part could not write when it was finished lead the next part;
// a part whose file cannot be written is not left for its size, which would
// only hand its rows on, part after part.
TEST_F(VoltaroLogService, RowsAPartCouldNotWriteLeadTheNextAndAFailingPartIsNotLeft) {
    std::atomic<int> failingFd{-1};
    std::atomic<int> lastFd{-1};
    const auto sync = [&](int fd) {
        lastFd = fd;
        if (fd == failingFd) {
            errno = EIO;
            return -1;
        }
        return ::fdatasync(fd);
    };
    std::vector<std::string> said;
    const auto row = [](int n) { return QByteArray::number(n) + "\t00:00:00\tDC\t1.000\tV\tPass\r\n"; };
    const QString out = dir.filePath("carried.txt");
    QString error;
    {
        // Written only when finished: the first part's rows wait in memory.
        StreamedTableFile file(
            *FileRotation::parse("1k"), {}, [&](const std::string& l) { said.push_back(l); }, sync,
            std::chrono::hours(1));
        ASSERT_TRUE(file.open(out, false, &error)) << error.toStdString();
        failingFd = lastFd.load(); // the header is synced: this is the first part's file
        int n = 0;
        while (file.parts() == 1)
            file.append(row(++n));
        EXPECT_TRUE(file.finish());
        EXPECT_EQ(file.rowsWritten(), n);
        ASSERT_EQ(partsOf(out).size(), 2);
        ReadingTable first, second;
        ASSERT_TRUE(datafiles::loadTableFile(partsOf(out)[0], first, true).ok);
        ASSERT_TRUE(datafiles::loadTableFile(partsOf(out)[1], second, true).ok);
        EXPECT_EQ(first.rowCount(), 0);
        ASSERT_EQ(second.rowCount(), n);
        EXPECT_EQ(second.intValue(n - 1, ReadingTable::No), n);
    }
    {
        // Written every few milliseconds; the first part fails from its first rows.
        failingFd = -1; // the number may come again
        StreamedTableFile file(
            *FileRotation::parse("1k"), {}, [&](const std::string& l) { said.push_back(l); }, sync,
            std::chrono::milliseconds(5));
        ASSERT_TRUE(file.open(dir.filePath("failing.txt"), false, &error)) << error.toStdString();
        failingFd = lastFd.load();
        file.append(row(1));
        ASSERT_TRUE(waitUntil([&] { return file.health() == TextTableFile::Health::Failing; }));
        for (int n = 2; n <= 100; ++n)
            file.append(row(n));
        EXPECT_EQ(file.parts(), 1);
        failingFd = -1;
        ASSERT_TRUE(waitUntil(
            [&] { return file.health() == TextTableFile::Health::Writing && file.rowsPending() == 0; }));
        file.append(row(101));
        EXPECT_EQ(file.parts(), 2);
        EXPECT_TRUE(file.finish());
        EXPECT_EQ(file.rowsWritten(), 101);
    }
}

TEST(FileRotation, PartsEndOnTheClocksMultiplesOfAPeriodADayDivides) {
    const QDateTime at(QDate(2026, 12, 11), QTime(9, 30, 5));
    using std::chrono::hours;
    using std::chrono::minutes;
    EXPECT_EQ(FileRotation::partEnd(at, hours(12)), QDateTime(QDate(2026, 12, 11), QTime(12, 0)));
    EXPECT_EQ(FileRotation::partEnd(at, hours(24)), QDateTime(QDate(2026, 12, 12), QTime(0, 0)));
    EXPECT_EQ(FileRotation::partEnd(at, minutes(45)), QDateTime(QDate(2026, 12, 11), QTime(9, 45)));
    EXPECT_EQ(FileRotation::partEnd(at, hours(7)), at.addSecs(7 * 3600));
    EXPECT_EQ(FileRotation::partEnd(at, hours(48)), at.addSecs(48 * 3600));
    EXPECT_EQ(FileRotation::partName("/data/bench.txt", at.date(), 12), "/data/bench-20261211-0012.txt");
    EXPECT_EQ(FileRotation::partName("/data/.log", at.date(), 1), "/data/.log-20261211-0001");
    for (const char* wrong : {"1", "0d", "12x", "1.5h", "-1d", "99999999999G"})
        EXPECT_FALSE(FileRotation::parse(wrong)) << wrong;
    EXPECT_EQ(FileRotation::parse("100M")->bytes, 100ll << 20);
    EXPECT_EQ(FileRotation::parse("30m")->every, minutes(30));
}

} // namespace
} // namespace voltaro
