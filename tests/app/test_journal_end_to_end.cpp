// The journal of a window that does not end by itself: the window runs in a
// process of its own (tests/support/journal_window), recording a simulated
// meter, and is killed or told to end; a window of this process then recovers
// what it left behind.
#include "core/recording/Journal.h"
#include "core/recording/JournalFormat.h"
#include "support/WindowTestSupport.h"
#include "widgets/app/TFCOMM.h"
#include "widgets/chart/ChartRegion.h"
#include "widgets/chart/PlotSurface.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSet>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
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
    explicit MeterSim(const QString& scenario = QStringLiteral("dcv")) {
        QProcess& p = sim_.process;
        p.start(QStringLiteral(METER_SIM_PATH),
                {"--pty", "--rate", "50", "--scenario", scenario, "--seed", "7"});
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
    // Before the child: a window still running when this goes is killed,
    // and what it wrote last is still taken into the rows.
    std::vector<Reported> rows_;
    Child child_;
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

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A row's fields as the window reported them: each null, or its text.
using Fields = std::vector<std::optional<QString>>;

Fields fieldsOf(const ReadingTable& t, qsizetype r) {
    Fields out;
    for (int f = 0; f < ReadingTable::FieldCount; ++f)
        out.push_back(t.isNull(r, f) ? std::nullopt : std::optional<QString>(t.text(r, f)));
    return out;
}

std::string shown(const Fields& fields) {
    QStringList parts;
    for (const auto& f : fields)
        parts << (f ? QLatin1Char('\'') + *f + QLatin1Char('\'') : QStringLiteral("null"));
    return parts.join(QLatin1Char(' ')).toStdString();
}

// The rows the window reported, each with the chart as it was once the
// reading that made the row was done.
struct Timeline {
    std::vector<Fields> rows;
    std::vector<QVector<double>> chartAfter;
    std::vector<Clock::time_point> readAt;
};

Timeline timeline(const std::vector<Reported>& lines) {
    Timeline t;
    QVector<double> chart;
    for (const Reported& l : lines) {
        const QByteArray line = QByteArray::fromStdString(l.line).chopped(1);
        const QList<QByteArray> columns = line.split('\t');
        if (columns[0] == "N") {
            chart.clear();
        } else if (columns[0] == "P") {
            chart.append(columns.value(1).toDouble());
        } else if (columns[0] == "R") {
            Fields fields;
            for (qsizetype c = 1; c < columns.size(); ++c)
                fields.push_back(columns[c] == "~"
                                     ? std::nullopt
                                     : std::optional<QString>(QString::fromUtf8(
                                           QByteArray::fromPercentEncoding(columns[c].mid(1)))));
            t.rows.push_back(fields);
            t.chartAfter.push_back(chart);
            t.readAt.push_back(l.readAt);
        }
    }
    return t;
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

// On the tour of every function and case, with empty units and functions,
// overloads and the chart starting again at each new function.
TEST(JournalEndToEnd, AKilledWindowsRowsAndChartAreRecoveredAsTheyWereAndJournalledAgain) {
    MeterSim sim(QStringLiteral("tour"));
    ASSERT_TRUE(sim.device().startsWith("/dev/")) << sim.device().toStdString();
    WindowProcess killed(sim.device());
    // At any moment of the journal's period, not always the same one.
    const auto span = 2500ms + std::chrono::milliseconds(std::random_device()() % 1000);
    SCOPED_TRACE("killed after " + std::to_string(span.count()) + " ms");
    ASSERT_TRUE(recordFor(killed, span))
        << "lines reported: " << killed.rows().size() << "; " << killed.errors().toStdString();
    killed.takeLines();
    const Clock::time_point killedAt = Clock::now();
    killed.process().kill();
    ASSERT_TRUE(killed.waitForEnd(5000));
    ASSERT_EQ(killed.process().exitStatus(), QProcess::CrashExit);
    const Timeline before = timeline(killed.rows());
    // Rows the table held a second before the kill: the journal has them.
    std::size_t held = 0;
    while (held < before.rows.size() && before.readAt[held] <= killedAt - 1s)
        ++held;
    ASSERT_GE(held, 20u) << "too short a recording to tell";
    const auto emptyText = [&](int field) {
        return std::count_if(
            before.rows.begin(), before.rows.begin() + static_cast<std::ptrdiff_t>(held),
            [field](const Fields& f) { return f[static_cast<std::size_t>(field)] == QString(); });
    };
    EXPECT_GT(emptyText(ReadingTable::Unit) + emptyText(ReadingTable::Function), 0)
        << "the tour has readings without a unit or a function";

    const QStringList files = journalFiles();
    ASSERT_EQ(files.size(), 1) << files.join(' ').toStdString();
    const QString left = files.front();
    QByteArray onDisk = contents(left);
    onDisk.truncate(onDisk.lastIndexOf('\n') + 1);

    QString question;
    auto w = recoveringWindow(&question);
    const ReadingTable& table = w->recording().table();
    const auto recovered = static_cast<std::size_t>(table.rowCount());
    EXPECT_TRUE(question.contains(QStringLiteral("before %1 reading(s)").arg(recovered)))
        << question.toStdString();
    EXPECT_GE(recovered, held) << "rows the table held a second before the kill are missing";
    ASSERT_LE(recovered, before.rows.size()) << "the journal holds rows the table never had";
    // Every field of every row as the killed window's table held it, in its order.
    for (std::size_t r = 0; r < recovered; ++r)
        ASSERT_EQ(shown(fieldsOf(table, static_cast<qsizetype>(r))), shown(before.rows[r])) << "row " << r;
    // The chart as the killed window drew it after its last recovered reading.
    QVector<double> chart;
    const RecordPoints& points = w->chart().plot().points();
    for (auto p = points.constBegin(); p != points.constEnd(); ++p)
        chart.append(p->value);
    EXPECT_EQ(chart, before.chartAfter[recovered - 1]);

    // The recovered rows are unsaved rows of this window's journal, which
    // says what the killed window's said; once written, the old journal goes.
    Journal& journal = w->recording().journal();
    EXPECT_EQ(w->recording().unsavedRows(), table.rowCount());
    ASSERT_TRUE(waitUntil([&] { return journal.writes() >= 1; }, 5000));
    EXPECT_FALSE(QFile::exists(left));
    EXPECT_EQ(journalFiles().join(' ').toStdString(), journal.path().toStdString());
    EXPECT_EQ(contents(journal.path()), onDisk);

    // Numbering goes on after them, and the next row is journalled too.
    const qsizetype count = table.rowCount();
    const std::int32_t lastNo = *table.intValue(count - 1, ReadingTable::No);
    voltaro::testing::SerialFeeder feed(*w);
    feed(meterFrame(11, 1, "01234"));
    ASSERT_EQ(table.rowCount(), count + 1);
    EXPECT_EQ(table.intValue(count, ReadingTable::No), lastNo + 1);
    EXPECT_EQ(w->recording().unsavedRows(), count + 1);
    ASSERT_TRUE(waitUntil([&] { return journal.writes() >= 2; }, 5000));
    std::vector<journalformat::Entry> entries;
    ReadingTable again;
    journalformat::read(contents(journal.path()), again, entries);
    ASSERT_EQ(again.rowCount(), count + 1);
    EXPECT_EQ(shown(fieldsOf(again, count)), shown(fieldsOf(table, count)));
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
    const Timeline reported = timeline(ended.rows());

    // Every row, the last ones written as the window ended.
    const QStringList files = journalFiles();
    ASSERT_EQ(files.size(), 1) << files.join(' ').toStdString();

    QString question;
    auto w = recoveringWindow(&question);
    const ReadingTable& table = w->recording().table();
    EXPECT_TRUE(question.contains(QStringLiteral("before %1 reading(s)").arg(reported.rows.size())))
        << question.toStdString();
    ASSERT_EQ(static_cast<std::size_t>(table.rowCount()), reported.rows.size());
    for (qsizetype r = 0; r < table.rowCount(); ++r)
        ASSERT_EQ(shown(fieldsOf(table, r)), shown(reported.rows[static_cast<std::size_t>(r)]))
            << "row " << r;
}

// Two windows in two processes, each on a meter of its own on a terminal of
// its own: neither holds a row of the other's meter, in its table or in its
// journal. A window of this process that asks for one of their ports is told
// which process reads it. Once one window is killed, a new window is offered
// its journal alone: the other's window still runs.
TEST(JournalEndToEnd, TwoWindowsKeepTheirMetersApartAndRecoveryOffersOnlyTheKilledOnesJournal) {
    MeterSim volts(QStringLiteral("dcv"));
    MeterSim ohms(QStringLiteral("ohm"));
    ASSERT_TRUE(volts.device().startsWith("/dev/") && ohms.device().startsWith("/dev/"));
    WindowProcess killed(volts.device());
    WindowProcess kept(ohms.device());
    ASSERT_TRUE(recordFor(killed, 1500ms)) << killed.errors().toStdString();
    ASSERT_TRUE(recordFor(kept, 1500ms)) << kept.errors().toStdString();
    const auto units = [](const std::vector<Fields>& rows) {
        QSet<QString> out;
        for (const Fields& f : rows)
            out.insert(f[ReadingTable::Unit].value_or(QString()));
        return out;
    };
    const QSet<QString> voltUnits = units(timeline(killed.rows()).rows);
    const QSet<QString> ohmUnits = units(timeline(kept.rows()).rows);
    ASSERT_FALSE(voltUnits.isEmpty());
    ASSERT_FALSE(ohmUnits.isEmpty());
    EXPECT_FALSE(voltUnits.intersects(ohmUnits)) << "a row of one meter in the other's table";

    {
        qputenv("VOLTARO_COM1", volts.device().toLocal8Bit());
        TFCOMM second;
        MessageBoxAnswer refused(QMessageBox::Ok);
        voltaro::testing::control<QPushButton>(second, "COMCon")->click();
        EXPECT_EQ(refused.answered(), 1);
        EXPECT_TRUE(refused.text().contains(
            QStringLiteral("journal_window (pid %1) reads it").arg(killed.process().processId())))
            << refused.text().toStdString();
        EXPECT_FALSE(second.linkBar().driver().Connected());
        qunsetenv("VOLTARO_COM1");
    }

    killed.process().kill();
    ASSERT_TRUE(killed.waitForEnd(5000));
    const Timeline before = timeline(killed.rows());
    const QStringList files = journalFiles();
    ASSERT_EQ(files.size(), 2) << files.join(' ').toStdString();
    for (const QString& file : files) {
        ReadingTable rows;
        std::vector<journalformat::Entry> entries;
        journalformat::read(contents(file), rows, entries);
        ASSERT_GT(rows.rowCount(), 0) << file.toStdString();
        QSet<QString> journalled;
        for (qsizetype r = 0; r < rows.rowCount(); ++r)
            journalled.insert(rows.text(r, ReadingTable::Unit));
        EXPECT_TRUE(QSet<QString>(journalled).subtract(voltUnits).isEmpty() ||
                    QSet<QString>(journalled).subtract(ohmUnits).isEmpty())
            << "a journal holds rows of both meters: " << file.toStdString();
    }

    MessageBoxAnswer offered(QMessageBox::Yes);
    TFCOMM w;
    w.show();
    // The questions are asked one after the other in one call: once the rows
    // are in, every journal offered has been asked about.
    ASSERT_TRUE(waitUntil([&] { return offered.answered() > 0 && w.recording().table().rowCount() > 0; }));
    EXPECT_EQ(offered.answered(), 1);
    const ReadingTable& table = w.recording().table();
    ASSERT_LE(static_cast<std::size_t>(table.rowCount()), before.rows.size());
    for (qsizetype r = 0; r < table.rowCount(); ++r)
        ASSERT_EQ(shown(fieldsOf(table, r)), shown(before.rows[static_cast<std::size_t>(r)])) << "row " << r;
    EXPECT_TRUE(kept.process().state() == QProcess::Running);
}
