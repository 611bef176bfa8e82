// The journal of a window that does not end by itself: the window runs in a
// process of its own (tests/support/journal_window), recording a simulated
// meter, and is killed or told to end; a window of this process then recovers
// what it left behind.
#include "app/TFCOMM.h"
#include "recording/DataFiles.h"
#include "recording/Journal.h"
#include "support/WindowTestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace voltaro;
using voltaro::testing::MessageBoxAnswer;
using voltaro::testing::meterFrame;
using voltaro::testing::waitUntil;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// A process of the test's, killed when the test ends, however it ends.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    QProcess process;
};

// A simulated meter on a pseudo-terminal.
class MeterSim {
public:
    MeterSim() {
        QProcess& p = sim_.process;
        p.start(QStringLiteral(METER_SIM_PATH),
                {"--pty", "--rate", "50", "--scenario", "dcv", "--seed", "7"});
        if (p.waitForStarted(5000) && waitUntil([&] { return p.canReadLine(); }, 5000))
            device_ = QString::fromLocal8Bit(p.readLine()).trimmed();
    }
    QString device() const { return device_; }

private:
    Child sim_;
    QString device_;
};

// A row line the window reported, and when this process read it.
struct Reported {
    std::string line;
    Clock::time_point readAt;
};

// The recording window in its own process, on the simulated meter's terminal,
// with the journal folder of this test.
class WindowProcess {
public:
    explicit WindowProcess(const QString& device) {
        QProcess& p = child_.process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VOLTARO_COM1"), device);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        QObject::connect(&p, &QProcess::readyReadStandardOutput, [this] { takeLines(); });
        p.start(QStringLiteral(JOURNAL_WINDOW_PATH), {});
    }

    QProcess& process() { return child_.process; }
    const std::vector<Reported>& rows() const { return rows_; }

    // Whole lines only: a line still on its way is taken with the next read.
    void takeLines() {
        const Clock::time_point now = Clock::now();
        while (child_.process.canReadLine())
            rows_.push_back({child_.process.readLine().toStdString(), now});
    }

    // Waits until it has ended; whatever it wrote before is taken.
    bool waitForEnd(int timeoutMs) {
        const bool ended = child_.process.waitForFinished(timeoutMs);
        takeLines();
        return ended;
    }

    QString errors() { return QString::fromLocal8Bit(child_.process.readAllStandardError()); }

private:
    Child child_;
    std::vector<Reported> rows_;
};

// Runs the event loop while the window records, until it has reported rows
// for `span` (counted from its first row).
bool recordFor(WindowProcess& window, std::chrono::milliseconds span) {
    return waitUntil(
        [&] {
            return !window.rows().empty() && Clock::now() - window.rows().front().readAt >= span &&
                   window.rows().size() >= 20;
        },
        static_cast<int>(span.count()) + 10000);
}

QStringList journalFiles() {
    const QDir dir(journalFolder());
    QStringList files;
    for (const QString& name : dir.entryList({QStringLiteral("journal-*.txt")}, QDir::Files))
        files << dir.filePath(name);
    return files;
}

// The whole lines of a journal after its header, each with its CR LF.
std::vector<std::string> journalLines(const QString& path, bool* headerOk) {
    QFile file(path);
    std::vector<std::string> lines;
    *headerOk = false;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    *headerOk = file.readLine() == datafiles::textHeader();
    while (file.canReadLine())
        lines.push_back(file.readLine().toStdString());
    return lines;
}

// The window of this process, which has recovered the journal left behind
// with the user's "Yes"; `question` is what the user was asked.
std::unique_ptr<TFCOMM> recoveringWindow(QString* question) {
    MessageBoxAnswer yes(QMessageBox::Yes);
    auto w = std::make_unique<TFCOMM>();
    w->show();
    waitUntil([&] { return yes.answered() > 0 && w->recording().table().rowCount() > 0; }, 10000);
    *question = yes.text();
    return w;
}

} // namespace

TEST(JournalEndToEnd, KilledWindowsRowsAreRecoveredAndJournalledAgain) {
    MeterSim sim;
    ASSERT_TRUE(sim.device().startsWith("/dev/")) << sim.device().toStdString();
    WindowProcess killed(sim.device());
    // At any moment of the journal's period, not always the same one.
    const auto span = 2500ms + std::chrono::milliseconds(std::random_device()() % 1000);
    SCOPED_TRACE("killed after " + std::to_string(span.count()) + " ms");
    ASSERT_TRUE(recordFor(killed, span))
        << "rows reported: " << killed.rows().size() << "; " << killed.errors().toStdString();
    killed.takeLines();
    const Clock::time_point killedAt = Clock::now();
    killed.process().kill();
    ASSERT_TRUE(killed.waitForEnd(5000));
    ASSERT_EQ(killed.process().exitStatus(), QProcess::CrashExit);
    const std::vector<Reported>& reported = killed.rows();
    // Rows the table held a second before the kill: the journal has them.
    std::size_t held = 0;
    while (held < reported.size() && reported[held].readAt <= killedAt - 1s)
        ++held;
    ASSERT_GE(held, 20u) << "too short a recording to tell";

    const QStringList files = journalFiles();
    ASSERT_EQ(files.size(), 1) << files.join(' ').toStdString();
    const QString left = files.front();
    bool headerOk = false;
    const std::vector<std::string> onDisk = journalLines(left, &headerOk);
    EXPECT_TRUE(headerOk);
    if (onDisk.size() < held)
        ADD_FAILURE() << held - onDisk.size() << " rows the table held a second before the kill are missing; "
                      << "the first was read "
                      << std::chrono::duration_cast<std::chrono::milliseconds>(killedAt -
                                                                               reported[onDisk.size()].readAt)
                             .count()
                      << " ms before it";
    ASSERT_LE(onDisk.size(), reported.size()) << "the journal holds rows the table never had";
    for (std::size_t i = 0; i < onDisk.size(); ++i)
        ASSERT_EQ(onDisk[i], reported[i].line) << "journal line " << i;

    QString question;
    auto w = recoveringWindow(&question);
    const ReadingTable& table = w->recording().table();
    const qsizetype recovered = table.rowCount();
    EXPECT_TRUE(question.contains(QStringLiteral("before %1 reading(s)").arg(onDisk.size())))
        << question.toStdString();
    ASSERT_EQ(static_cast<std::size_t>(recovered), onDisk.size());
    // Every column as the killed window's table held it, in its order.
    for (qsizetype r = 0; r < recovered; ++r)
        ASSERT_EQ(datafiles::textLine(table, r).toStdString(), reported[static_cast<std::size_t>(r)].line)
            << "row " << r;

    // The recovered rows are unsaved rows of this window's journal; once it
    // has written them, the old journal goes.
    Journal& journal = w->recording().journal();
    EXPECT_EQ(w->recording().unsavedRows(), recovered);
    ASSERT_TRUE(waitUntil([&] { return journal.writes() >= 1; }, 5000));
    EXPECT_FALSE(QFile::exists(left));
    EXPECT_EQ(journalFiles().join(' ').toStdString(), journal.path().toStdString());
    std::vector<std::string> rewritten = journalLines(journal.path(), &headerOk);
    EXPECT_TRUE(headerOk);
    ASSERT_EQ(rewritten.size(), onDisk.size());
    EXPECT_EQ(rewritten, onDisk);

    // Numbering goes on after them, and the next row is journalled too.
    const std::int32_t lastNo = *table.intValue(recovered - 1, ReadingTable::No);
    voltaro::testing::SerialFeeder feed(*w);
    feed(meterFrame(11, 1, "01234"));
    ASSERT_EQ(table.rowCount(), recovered + 1);
    EXPECT_EQ(table.intValue(recovered, ReadingTable::No), lastNo + 1);
    EXPECT_EQ(w->recording().unsavedRows(), recovered + 1);
    ASSERT_TRUE(waitUntil([&] { return journal.writes() >= 2; }, 5000));
    rewritten = journalLines(journal.path(), &headerOk);
    ASSERT_EQ(rewritten.size(), onDisk.size() + 1);
    EXPECT_EQ(rewritten.back(), datafiles::textLine(table, recovered).toStdString());
}

TEST(JournalEndToEnd, TerminatedWindowEndsAtOnceAndKeepsEveryRow) {
    MeterSim sim;
    ASSERT_TRUE(sim.device().startsWith("/dev/")) << sim.device().toStdString();
    WindowProcess ended(sim.device());
    ASSERT_TRUE(recordFor(ended, 1500ms))
        << "rows reported: " << ended.rows().size() << "; " << ended.errors().toStdString();
    ended.process().terminate();
    ASSERT_TRUE(ended.waitForEnd(5000)) << "still running after SIGTERM";
    ASSERT_EQ(ended.process().exitStatus(), QProcess::NormalExit) << ended.errors().toStdString();
    EXPECT_EQ(ended.process().exitCode(), 0) << ended.errors().toStdString();
    const std::vector<Reported>& reported = ended.rows();

    // Every row, the last ones written as the window ended.
    const QStringList files = journalFiles();
    ASSERT_EQ(files.size(), 1) << files.join(' ').toStdString();
    bool headerOk = false;
    const std::vector<std::string> onDisk = journalLines(files.front(), &headerOk);
    EXPECT_TRUE(headerOk);
    ASSERT_EQ(onDisk.size(), reported.size());
    for (std::size_t i = 0; i < onDisk.size(); ++i)
        ASSERT_EQ(onDisk[i], reported[i].line) << "journal line " << i;

    QString question;
    auto w = recoveringWindow(&question);
    const ReadingTable& table = w->recording().table();
    EXPECT_TRUE(question.contains(QStringLiteral("before %1 reading(s)").arg(reported.size())))
        << question.toStdString();
    ASSERT_EQ(static_cast<std::size_t>(table.rowCount()), reported.size());
    for (qsizetype r = 0; r < table.rowCount(); ++r)
        ASSERT_EQ(datafiles::textLine(table, r).toStdString(), reported[static_cast<std::size_t>(r)].line)
            << "row " << r;
}
