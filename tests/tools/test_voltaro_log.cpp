// voltaro-log --port against pseudo-terminals, fed by meter-sim or by the
// test itself (the USB side is tested under umockdev): decoded frames
// printed, readings recorded into a file under the window's rules, an
// interrupt and a kill, a port that goes away and comes back, a file that
// cannot be written, and the command line.
#include "core/decode/MeterPipeline.h"
#include "core/link/serial/TComPortDriver.h"
#include "core/recording/DataFiles.h"
#include "core/recording/JournalRecovery.h"
#include "support/LinkTestSupport.h"
#include "support/LogProcess.h"
#include "tools/MeterSimulator.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>

namespace voltaro {
namespace {

using testing::LogProcess;
using testing::Pty;
using testing::SimPty;
using testing::waitUntil;

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
    // The holder is named: the program and process reading the port.
    EXPECT_TRUE(
        busy.err.contains(QStringLiteral("(pid %1) reads it").arg(QCoreApplication::applicationPid())))
        << busy.err.toStdString();
}

// --- Recording ------------------------------------------------------------------

ReadingTable loadRows(const QString& file, bool* ok = nullptr) {
    ReadingTable t;
    const auto result = datafiles::loadTableFile(file, t, true);
    if (ok)
        *ok = result.ok;
    return t;
}

// The row holds what the printed line of the same reading shows: value as
// recorded, function, unit and judgement.
void expectRowOfLine(const ReadingTable& t, qsizetype row, const QString& line, int number) {
    const QStringList c = line.split('\t');
    ASSERT_GE(c.size(), 9) << line.toStdString();
    EXPECT_EQ(t.intValue(row, ReadingTable::No), number) << "row " << row;
    EXPECT_EQ(t.text(row, ReadingTable::Value), c[1]) << "row " << row;
    EXPECT_EQ(t.text(row, ReadingTable::Function), c[2]) << "row " << row;
    EXPECT_EQ(t.text(row, ReadingTable::Unit), c[3]) << "row " << row;
    EXPECT_EQ(t.text(row, ReadingTable::Judge), c[8]) << "row " << row;
    EXPECT_TRUE(
        QRegularExpression("^\\d\\d.\\d\\d.\\d\\d$").match(t.text(row, ReadingTable::Time)).hasMatch())
        << t.text(row, ReadingTable::Time).toStdString();
}

class VoltaroLogRecording : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString file(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QString stateHome() const { return dir.filePath("state"); }

    QTemporaryDir dir;
};

TEST_F(VoltaroLogRecording, AnInterruptedRecordingLeavesEveryReadingInAFileTheWindowLoads) {
    SimPty sim({"--rate", "50", "--scenario", "dcv", "--seed", "11"});
    ASSERT_FALSE(sim.path.isEmpty());
    for (const char* name : {"run.txt", "run.xml", "run.csv"}) {
        SCOPED_TRACE(name);
        const QString out = file(name);
        // Started with a umask that lets anyone write: the file is still the user's own.
        const mode_t umaskBefore = ::umask(0);
        LogProcess log({"--port", sim.path, "--out", out, "--decimal-sep", "."}, stateHome());
        ::umask(umaskBefore);
        ASSERT_TRUE(log.waitForLines(40)) << log.err.toStdString();
        log.signal(SIGINT);
        ASSERT_EQ(log.finish(), 0) << log.err.toStdString();

        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(out).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IWOTH, 0u) << std::oct << st.st_mode;
        bool ok = false;
        const ReadingTable rows = loadRows(out, &ok);
        ASSERT_TRUE(ok);
        ASSERT_EQ(rows.rowCount(), log.lines.size());
        for (qsizetype i = 0; i < rows.rowCount(); ++i)
            expectRowOfLine(rows, i, log.lines[i], static_cast<int>(i + 1));
        if (datafiles::isXmlFileName(out)) {
            for (qsizetype i = 0; i < rows.rowCount(); ++i)
                EXPECT_EQ(rows.text(i, ReadingTable::NVal), log.lines[i].section('\t', 5, 5));
        }
        if (datafiles::isCsvFileName(out)) {
            // Each row's date and time is today's (or yesterday's, for a run
            // over midnight), at the row's time of day.
            QFile csv(out);
            ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
            const QList<QByteArray> lines = csv.readAll().split('\n');
            ASSERT_EQ(lines.size(), rows.rowCount() + 2);
            EXPECT_EQ(lines[0], "No,Time,DateTime,DC/AC,Value,Unit,AUTO\r");
            const QDate today = QDate::currentDate();
            for (qsizetype i = 0; i < rows.rowCount(); ++i) {
                const QList<QByteArray> fields = lines[i + 1].split(',');
                ASSERT_EQ(fields.size(), 7) << lines[i + 1].toStdString();
                const QDateTime at = QDateTime::fromString(QString::fromLatin1(fields[2]), Qt::ISODate);
                EXPECT_TRUE(at.date() == today || at.date() == today.addDays(-1)) << fields[2].toStdString();
                EXPECT_EQ(at.time().toString("hh:mm:ss").remove(':'),
                          rows.text(i, ReadingTable::Time).remove(QRegularExpression("\\D")));
            }
        }
        // Where the file is and how many rows it holds; the frame counts last.
        EXPECT_TRUE(
            log.err.contains(QStringLiteral("voltaro-log: %1 rows in %2\n").arg(rows.rowCount()).arg(out)))
            << log.err.toStdString();
        EXPECT_TRUE(log.err.section('\n', -2, -2).startsWith("frames: ")) << log.err.toStdString();
    }
    // A packet saved leaves no journal behind; a text table never made one.
    EXPECT_TRUE(QDir(stateHome() + "/voltaro-interface").entryList({"journal-*"}, QDir::Files).isEmpty());
}

TEST_F(VoltaroLogRecording, AKilledRecordingLeavesAllButTheLastSecondOfItsRows) {
    SimPty sim({"--rate", "50", "--scenario", "dcv", "--seed", "12"});
    ASSERT_FALSE(sim.path.isEmpty());
    for (const char* name : {"killed.txt", "killed.xml", "killed.csv"}) {
        SCOPED_TRACE(name);
        const QString out = file(name);
        LogProcess log({"--port", sim.path, "--out", out, "--decimal-sep", "."}, stateHome());
        ASSERT_TRUE(log.waitForLines(120)) << log.err.toStdString();
        // The frames the simulator queued meanwhile may come in one burst: the
        // recording runs at least two seconds, so some rows are due on disk.
        while (log.now() - log.arrived.front() < 2000)
            ASSERT_TRUE(log.waitForLines(log.lines.size() + 1)) << log.err.toStdString();
        log.signal(SIGKILL);
        const qint64 killedAt = log.now();
        ASSERT_EQ(log.finish(), -1);

        // The text table loads as it is; an XML recording leaves no packet,
        // but its rows in a journal the window recovers.
        ReadingTable rows;
        if (datafiles::isXmlFileName(out)) {
            EXPECT_FALSE(QFile::exists(out));
            auto orphans = findOrphanJournals(stateHome() + "/voltaro-interface");
            ASSERT_EQ(orphans.size(), 1u);
            rows = std::move(orphans[0].rows);
        } else {
            bool ok = false;
            rows = loadRows(out, &ok);
            ASSERT_TRUE(ok);
        }
        // Every whole line loads, and each is the reading printed for it.
        ASSERT_LE(rows.rowCount(), log.lines.size());
        for (qsizetype i = 0; i < rows.rowCount(); ++i) {
            expectRowOfLine(rows, i, log.lines[i], static_cast<int>(i + 1));
            // A text table has no count; the journal keeps it.
            if (datafiles::isXmlFileName(out)) {
                EXPECT_EQ(rows.text(i, ReadingTable::NVal), log.lines[i].section('\t', 5, 5)) << "row " << i;
            }
        }
        // Every reading printed more than a second before the kill is on disk
        // (half a second more allowed for a busy machine).
        qsizetype due = 0;
        while (due < log.lines.size() && log.arrived[static_cast<std::size_t>(due)] < killedAt - 1500)
            ++due;
        EXPECT_GE(rows.rowCount(), due) << log.lines.size() << " printed";
        EXPECT_GT(due, 0);
    }
}

// Killed at random moments, twenty times, into a text table and an XML packet
// in turn: whatever is left loads with the program's own loaders, and every
// row it holds is the reading printed for it. A text table loads as it is;
// an XML recording leaves no packet, and its rows (if any were written) in one
// journal the window recovers. VOLTARO_KILL_SEED replays a run.
TEST_F(VoltaroLogRecording, KilledAtRandomMomentsItLeavesOnlyFilesThatLoad) {
    std::uint32_t seed = std::random_device{}();
    if (const QByteArray given = qgetenv("VOLTARO_KILL_SEED"); !given.isEmpty())
        seed = given.toUInt();
    std::printf("kill moments from seed %u (VOLTARO_KILL_SEED=%u replays them)\n", seed, seed);
    RecordProperty("seed", std::to_string(seed));
    SCOPED_TRACE("VOLTARO_KILL_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);
    // Up to 1.5 s: before the port is open, while the file is made, and
    // around the writes that come once a second.
    std::uniform_int_distribution<int> moment(0, 1500);
    SimPty sim({"--rate", "max", "--scenario", "dcv", "--seed", "13"});
    ASSERT_FALSE(sim.path.isEmpty());
    int leftRows = 0;
    for (int run = 0; run < 20; ++run) {
        const bool xml = run % 2 == 1;
        const int killAfter = moment(rng);
        SCOPED_TRACE("run " + std::to_string(run) + ", killed after " + std::to_string(killAfter) + " ms");
        const QString out = dir.filePath(QStringLiteral("killed-%1.%2").arg(run).arg(xml ? "xml" : "txt"));
        const QString state = dir.filePath(QStringLiteral("state-%1").arg(run));
        LogProcess log({"--port", sim.path, "--out", out, "--decimal-sep", ".", "--quiet"}, state);
        ASSERT_TRUE(waitUntil([&] { return log.now() >= killAfter || !log.running(); }, killAfter + 5000));
        ASSERT_TRUE(log.running()) << log.err.toStdString();
        log.signal(SIGKILL);
        ASSERT_EQ(log.finish(), -1);

        ReadingTable rows;
        if (xml) {
            EXPECT_FALSE(QFile::exists(out));
            auto orphans = findOrphanJournals(state + "/voltaro-interface");
            ASSERT_LE(orphans.size(), 1u);
            if (!orphans.empty())
                rows = std::move(orphans[0].rows);
        } else if (QFile::exists(out)) {
            bool ok = false;
            rows = loadRows(out, &ok);
            EXPECT_TRUE(ok) << "a text table left behind does not load: " << QFileInfo(out).size()
                            << " bytes";
        }
        ASSERT_LE(rows.rowCount(), log.lines.size());
        for (qsizetype i = 0; i < rows.rowCount(); ++i)
            expectRowOfLine(rows, i, log.lines[i], static_cast<int>(i + 1));
        leftRows += static_cast<int>(rows.rowCount());
    }
    // The moments reached past the first writes often enough to leave rows.
    EXPECT_GT(leftRows, 0);
}

// The frames the test sends itself: DC volts, one count each.
std::vector<sim::MeterFrame> framesOf(const std::vector<int>& counts) {
    std::vector<sim::MeterFrame> frames;
    for (int count : counts) {
        sim::MeterFrame f;
        f.function = 11;
        f.range = 1;
        f.option3 = 10;
        frames.push_back(f.withCount(count));
    }
    return frames;
}

// The serial bytes of `frames`, after the line feed of the frame before them.
std::string bytesOf(const std::vector<sim::MeterFrame>& frames) {
    std::string bytes = "\n";
    for (const auto& f : frames) {
        const auto w = f.wireBytes();
        bytes.append(w.begin(), w.end());
    }
    return bytes;
}

// The readings the program's own pipeline makes of `frames`.
struct Decoded : PipelineHooks {
    std::vector<Reading> readings;
    void recordReading(const Reading& r, std::string_view) override { readings.push_back(r); }
};
std::vector<Reading> decode(const std::vector<sim::MeterFrame>& frames, const std::string& sep,
                            const std::string& hi, const std::string& lo) {
    Decoded d;
    MeterPipeline p(&d);
    p.setDecimalSep(sep);
    p.setLimitTexts(hi, lo);
    const std::string bytes = bytesOf(frames);
    p.DX22KDATA(reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
    return d.readings;
}

// The rows are exactly these readings of `decoded`, numbered from 1.
void expectRows(const ReadingTable& t, const std::vector<Reading>& decoded, const std::vector<int>& which) {
    ASSERT_EQ(t.rowCount(), static_cast<qsizetype>(which.size()));
    for (std::size_t i = 0; i < which.size(); ++i) {
        const Reading& r = decoded[static_cast<std::size_t>(which[i])];
        const auto row = static_cast<qsizetype>(i);
        EXPECT_EQ(t.intValue(row, ReadingTable::No), static_cast<int>(i + 1));
        EXPECT_EQ(t.text(row, ReadingTable::Value).toStdString(), r.ValueText) << "row " << i;
        EXPECT_EQ(t.text(row, ReadingTable::Judge).toStdString(), r.JudgeText) << "row " << i;
    }
}

TEST_F(VoltaroLogRecording, TheWindowsRecordingRulesDecideTheRows) {
    const std::vector<int> counts = {1000, 1000, 1000, 2500, 2500, 1000, 3000, 500, 500, 1500};
    const auto frames = framesOf(counts);
    struct Case {
        const char* name;
        QStringList options;
        std::string sep, hi, lo;
        std::vector<int> rows; // the readings that become rows
        bool endsItself;
    };
    const Case cases[] = {
        {"every reading", {}, ".", "22000", "-22000", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, false},
        {"repeats dropped", {"--no-repeat"}, ".", "22000", "-22000", {0, 3, 5, 6, 7, 9}, false},
        {"record limit", {"--limit", "4"}, ".", "22000", "-22000", {0, 1, 2, 3}, false},
        {"count", {"--no-repeat", "--count", "3"}, ".", "22000", "-22000", {0, 3, 5}, true},
        {"judged, comma",
         {"--hi", "2.5", "--lo", "1,0", "--decimal-sep", ","},
         ",",
         "2,5",
         "1,0",
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pty pty;
        ASSERT_TRUE(pty.ok());
        const QString out = file("rules.txt");
        QStringList args = {"--port", pty.path(), "--out", out, "--overwrite"};
        if (c.sep == ".")
            args << "--decimal-sep"
                 << ".";
        LogProcess log(args + c.options, stateHome());
        ASSERT_TRUE(log.waitForError("recording")) << log.err.toStdString();
        ASSERT_TRUE(pty.send(bytesOf(frames)));
        ASSERT_TRUE(log.waitForLines(c.endsItself ? 1 : static_cast<qsizetype>(frames.size())));
        if (!c.endsItself)
            log.signal(SIGINT);
        ASSERT_EQ(log.finish(), 0) << log.err.toStdString();
        const auto decoded = decode(frames, c.sep, c.hi, c.lo);
        ASSERT_EQ(decoded.size(), frames.size());
        expectRows(loadRows(out), decoded, c.rows);
        if (c.options.contains("--limit")) {
            EXPECT_EQ(log.lines.size(), static_cast<qsizetype>(frames.size())) << "still decoded and printed";
            EXPECT_TRUE(log.err.contains("record limit of 4 rows is reached")) << log.err.toStdString();
        }
    }
    // The judgement against 1 to 2.5 with a comma: the values 1 and 2.5 pass, 3 and 0.5 fail.
    const auto judged = loadRows(file("rules.txt"));
    ASSERT_EQ(judged.rowCount(), 10);
    EXPECT_EQ(judged.text(0, ReadingTable::Value), "1");
    EXPECT_EQ(judged.text(3, ReadingTable::Value), "2,5");
    EXPECT_EQ(judged.text(0, ReadingTable::Judge), "Pass");
    EXPECT_EQ(judged.text(3, ReadingTable::Judge), "Pass");
    EXPECT_EQ(judged.text(6, ReadingTable::Judge), "Fail");
    EXPECT_EQ(judged.text(7, ReadingTable::Judge), "Fail");
}

TEST_F(VoltaroLogRecording, TheSamplingIntervalKeepsRowsSecondsApartUntilTheDuration) {
    SimPty sim({"--rate", "20", "--scenario", "dcv", "--seed", "13"});
    ASSERT_FALSE(sim.path.isEmpty());
    const QString out = file("sampled.txt");
    QElapsedTimer ran;
    ran.start();
    LogProcess log({"--port", sim.path, "--out", out, "--interval", "2", "--duration", "5s"}, stateHome());
    ASSERT_EQ(log.finish(20000), 0) << log.err.toStdString();
    EXPECT_GE(ran.elapsed(), 5000);
    const ReadingTable rows = loadRows(out);
    ASSERT_GE(rows.rowCount(), 2) << log.err.toStdString();
    EXPECT_GE(log.lines.size(), 5 * rows.rowCount()) << "most readings fall between two samples";
    auto seconds = [&](qsizetype row) {
        const QString t = rows.text(row, ReadingTable::Time);
        return t.mid(0, 2).toInt() * 3600 + t.mid(3, 2).toInt() * 60 + t.mid(6, 2).toInt();
    };
    for (qsizetype i = 1; i < rows.rowCount(); ++i)
        EXPECT_GE((seconds(i) - seconds(i - 1) + 86400) % 86400, 1) << "row " << i;
}

TEST_F(VoltaroLogRecording, APortThatGoesAwayIsWaitedForAndTheRecordingGoesOnInTheSameFile) {
    const QString link = file("meter");
    auto pty = std::make_unique<Pty>();
    ASSERT_TRUE(pty->ok());
    ASSERT_TRUE(QFile::link(pty->path(), link));
    const QString out = file("resumed.txt");
    LogProcess log({"--port", link, "--out", out, "--decimal-sep", "."}, stateHome());
    ASSERT_TRUE(log.waitForError("recording")) << log.err.toStdString();
    const auto first = framesOf({1000, 1100, 1200});
    // The adapter goes in the middle of a frame: its range and three digits
    // come with the frames before it.
    const auto cut = framesOf({1234})[0].wireBytes();
    ASSERT_TRUE(pty->send(bytesOf(first) + std::string(cut.begin(), cut.begin() + 4)));
    ASSERT_TRUE(log.waitForLines(3));

    ASSERT_TRUE(QFile::remove(link));
    pty->close();
    ASSERT_TRUE(log.waitForError("waiting for the same adapter")) << log.err.toStdString();
    EXPECT_TRUE(log.err.contains(link)) << log.err.toStdString();
    pty = std::make_unique<Pty>();
    ASSERT_TRUE(pty->ok());
    ASSERT_TRUE(QFile::link(pty->path(), link));
    ASSERT_TRUE(log.waitForError("is back")) << log.err.toStdString();
    // It comes back in the middle of another frame, whose end would make the
    // cut frame a reading the meter never sent (01299): dropped, as a frame
    // too short; the frames after it are recorded.
    const auto other = framesOf({9999})[0].wireBytes();
    const auto second = framesOf({2000, 2100});
    ASSERT_TRUE(pty->send(std::string(other.begin() + 4, other.end()) + bytesOf(second).substr(1)));
    ASSERT_TRUE(log.waitForLines(5)) << log.err.toStdString() << log.lines.join('|').toStdString();
    log.signal(SIGTERM);
    ASSERT_EQ(log.finish(), 0) << log.err.toStdString();
    EXPECT_EQ(log.lines.size(), 5) << log.lines.join('|').toStdString();

    auto all = decode(first, ".", "22000", "-22000");
    const auto more = decode(second, ".", "22000", "-22000");
    all.insert(all.end(), more.begin(), more.end());
    expectRows(loadRows(out), all, {0, 1, 2, 3, 4});
}

TEST_F(VoltaroLogRecording, AFileThatCannotBeWrittenIsReportedAndKeepsItsWholeRows) {
    const QString taken = file("taken.txt");
    {
        QFile f(taken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("someone's data\n");
    }
    const auto untouched = [&] {
        QFile f(taken);
        return f.open(QIODevice::ReadOnly) && f.readAll() == "someone's data\n";
    };
    // A port that does not open leaves the file alone, even one it could replace.
    EXPECT_EQ(runLog({"--port", "/dev/voltaro-no-such-port", "--out", taken, "--overwrite"}).status, 6);
    EXPECT_TRUE(untouched());
    Pty idle;
    ASSERT_TRUE(idle.ok());
    const LogRun exists = runLog({"--port", idle.path(), "--out", taken});
    EXPECT_EQ(exists.status, 10);
    EXPECT_EQ(exists.err.count('\n'), 1) << exists.err.toStdString();
    EXPECT_TRUE(exists.err.contains("--overwrite")) << exists.err.toStdString();
    EXPECT_TRUE(untouched());
    const LogRun noFolder = runLog({"--port", idle.path(), "--out", file("none/x.xml")});
    EXPECT_EQ(noFolder.status, 10);
    EXPECT_EQ(noFolder.err.count('\n'), 1) << noFolder.err.toStdString();

    // The disk fills after three rows: told, the file keeps whole lines, the status says so.
    const auto head = framesOf({1000, 1100, 1200});
    qint64 full = datafiles::textHeader().size() + 5; // room for no line more than these
    int number = 0;
    for (const Reading& r : decode(head, ".", "22000", "-22000"))
        full += QByteArray::number(++number).size() + 1 + 8 + 1 + static_cast<qint64>(r.FuncText.size()) + 1 +
                static_cast<qint64>(r.ValueText.size()) + 1 + static_cast<qint64>(r.UnitText.size()) + 1 +
                static_cast<qint64>(r.JudgeText.size()) + 2;
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const QString out = file("full.txt");
    LogProcess log({"--port", pty.path(), "--out", out, "--decimal-sep", "."}, stateHome(), [full] {
        const rlimit limit{static_cast<rlim_t>(full), static_cast<rlim_t>(full)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    ASSERT_TRUE(log.waitForError("recording")) << log.err.toStdString();
    ASSERT_TRUE(pty.send(bytesOf(head)));
    ASSERT_TRUE(waitUntil([&] { return loadRows(out).rowCount() == 3; }, 5000));
    EXPECT_EQ(QFileInfo(out).size(), full - 5);
    ASSERT_TRUE(pty.send(bytesOf(framesOf({1300, 1400, 1500, 1600, 1700})).substr(1)));
    ASSERT_TRUE(log.waitForError("cannot write")) << log.err.toStdString();
    EXPECT_TRUE(log.err.contains("File too large")) << log.err.toStdString();
    log.signal(SIGINT);
    EXPECT_EQ(log.finish(), 10) << log.err.toStdString();
    EXPECT_TRUE(log.err.contains(QStringLiteral("5 rows could not be written"))) << log.err.toStdString();
    EXPECT_TRUE(log.err.contains(QStringLiteral("3 rows in %1").arg(out))) << log.err.toStdString();
    bool ok = false;
    EXPECT_EQ(loadRows(out, &ok).rowCount(), 3);
    EXPECT_TRUE(ok);
}

TEST_F(VoltaroLogRecording, APacketThatCannotBeSavedAtTheEndLeavesItsRowsInTheJournal) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("gone"));
    const QString out = file("gone/run.xml");
    Pty pty;
    ASSERT_TRUE(pty.ok());
    LogProcess log({"--port", pty.path(), "--out", out, "--decimal-sep", "."}, stateHome());
    ASSERT_TRUE(log.waitForError("recording")) << log.err.toStdString();
    const auto frames = framesOf({1000, 1100, 1200, 1300});
    ASSERT_TRUE(pty.send(bytesOf(frames)));
    ASSERT_TRUE(log.waitForLines(4));
    ASSERT_TRUE(QDir(file("gone")).removeRecursively());
    log.signal(SIGINT);
    EXPECT_EQ(log.finish(), 10);
    EXPECT_TRUE(log.err.contains("could not save " + out)) << log.err.toStdString();
    auto orphans = findOrphanJournals(stateHome() + "/voltaro-interface");
    ASSERT_EQ(orphans.size(), 1u);
    expectRows(orphans[0].rows, decode(frames, ".", "22000", "-22000"), {0, 1, 2, 3});
}

TEST_F(VoltaroLogRecording, OnATerminalOneStatusLineIsRedrawnAtMostFourTimesASecond) {
    SimPty sim({"--rate", "50", "--scenario", "dcv", "--seed", "14"});
    ASSERT_FALSE(sim.path.isEmpty());
    for (const bool quiet : {false, true}) {
        SCOPED_TRACE(quiet ? "quiet" : "status");
        std::string error;
        auto terminal = sim::openMeterPty(error);
        ASSERT_TRUE(terminal) << error;
        QStringList args = {"--port",     sim.path, "--out",         file(quiet ? "quiet.txt" : "status.txt"),
                            "--duration", "3",      "--decimal-sep", "."};
        if (quiet)
            args << "--quiet";
        LogProcess log(args, stateHome(), {}, QString::fromStdString(terminal->slavePath));
        std::string shown;
        const auto drain = [&] {
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(terminal->master.get(), buffer, sizeof buffer)) > 0)
                shown.append(buffer, static_cast<std::size_t>(n));
        };
        ASSERT_TRUE(waitUntil(
            [&] {
                drain();
                return !log.running();
            },
            15000));
        ASSERT_EQ(log.finish(), 0) << shown;
        drain();
        const QString text = QString::fromStdString(shown);
        const qsizetype rows = loadRows(file(quiet ? "quiet.txt" : "status.txt")).rowCount();
        ASSERT_GT(rows, 0);
        // The messages come either way, each on a line of its own.
        EXPECT_TRUE(text.contains(QStringLiteral("voltaro-log: %1 rows in ").arg(rows))) << shown;
        const qsizetype drawn = text.count(" rows | ");
        if (quiet) {
            EXPECT_EQ(drawn, 0) << shown;
            continue;
        }
        EXPECT_GE(drawn, 4) << shown;
        EXPECT_LE(drawn, 4 * 3 + 2) << shown;
        const QRegularExpression status(
            "\\r(\\d+) rows \\| -?[\\d.]+ V DC (Pass|Fail) \\| 0:00:0[0-3]\\x1b\\[K");
        auto last = status.globalMatch(text);
        QString final;
        while (last.hasNext())
            final = last.next().captured(1);
        EXPECT_FALSE(final.isEmpty()) << shown;
        EXPECT_TRUE(text.contains(QStringLiteral("\r\x1b[Kvoltaro-log: %1 rows in").arg(rows))) << shown;
    }
}

TEST(VoltaroLogCommandLine, AMistakeIsOneLineAndStatusTwo) {
    const QStringList mistakes[] = {
        {},
        {"--usb", "--port", "COM1"},
        {"--port"},
        {"--usb", "--count", "0"},
        {"--usb", "--count", "-3"},
        {"--usb", "--interval", "5"},
        {"--usb", "--out", "x.txt", "--interval", "0"},
        {"--usb", "--out", "x.txt", "--limit", "many"},
        {"--usb", "--hi", "high"},
        {"--usb", "--hi", "1", "--lo", "2"},
        {"--usb", "--decimal-sep", "ab"},
        {"--usb", "--decimal-sep", "5"},
        {"--usb", "--duration", "10x"},
        {"--usb", "--duration", "0"},
        {"--list", "--out", "x.txt"},
        {"--usb", "--frobnicate"},
        {"--usb", "--format", "xml"},
        {"--list", "--format", "csv"},
        // An argument's line break or terminal escape is shown, not acted on.
        {"--usb", "--count", "5\nvoltaro-log: 0 rows"},
        {"--usb", "--hi", "\x1b[2J9"},
        // Named meters, and what is worked out from them.
        {"--port", "V=/dev/null", "--port", "COM1"},
        {"--port", "V=/dev/null", "--port", "V=/dev/zero"},
        {"--usb", "A=", "--usb", "B="},
        {"--usb", "A=1-1.2", "--usb", "B="},
        {"--usb", "A=1-1.2", "--usb", "B=1-1.2"},
        {"--port", "sqrt=/dev/null"},
        {"--port", "V=/dev/null", "--no-repeat"},
        {"--port", "V=/dev/null", "--out", "x.xml"},
        {"--port", "V=/dev/null", "--out", "x.csv"},
        {"--port", "COM1", "--calc", "P=1"},
        {"--port", "V=/dev/null", "--calc", "P=V*"},
        {"--port", "V=/dev/null", "--calc", "P=V*I"},
        {"--port", "V=/dev/null", "--calc", "P=(V"},
        // MQTT's companions need it; --name is the one meter's.
        {"--usb", "--mqtt-ca", "ca.pem"},
        {"--usb", "--mqtt-auth", "auth"},
        {"--usb", "--name", "9lives"},
        {"--port", "V=/dev/null", "--name", "W", "--mqtt", "mqtt://localhost/lab"},
    };
    for (const QStringList& args : mistakes) {
        const LogRun run = runLog(args);
        EXPECT_EQ(run.status, 2) << args.join(' ').toStdString();
        EXPECT_EQ(run.err.count('\n'), 1) << args.join(' ').toStdString() << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith("voltaro-log: ")) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains(QChar(0x1b))) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    const LogRun help = runLog({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option :
         {"--list",    "--port", "--usb",       "--out",         "--overwrite", "--interval", "--no-repeat",
          "--limit",   "--hi",   "--lo",        "--decimal-sep", "--duration",  "--count",    "--quiet",
          "--no-wait", "--calc", "NAME.age",    "--help",        "--version",   "Examples:",  "Exit status:",
          "--format",  "--mqtt", "--mqtt-auth", "--mqtt-ca",     "--name"})
        EXPECT_TRUE(help.out.contains(QLatin1String(option))) << option;
    EXPECT_TRUE(help.out.contains("\".csv\""));
    const LogRun version = runLog({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, QStringLiteral("voltaro-log %1\n").arg(VOLTARO_VERSION));
}

} // namespace
} // namespace voltaro
