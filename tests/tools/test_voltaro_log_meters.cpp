// voltaro-log with two named meters on two pseudo-terminals and a derived
// power column: every row's power is the product of that row's readings as
// the file shows them, and a meter whose reading is missing, overloaded,
// stale or whose port is pulled leaves the power empty while the other meter
// records on.
#include "support/LinkTestSupport.h"
#include "support/LogProcess.h"
#include "support/MeterRows.h"
#include "tools/MeterSimulator.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace voltaro {
namespace {

using testing::expectPower;
using testing::LogProcess;
using testing::Pty;
using testing::Row;
using testing::rowOf;
using testing::SimPty;
using testing::siOf;
using testing::waitUntil;

class VoltaroLogMeters : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString file(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QString stateHome() const { return dir.filePath("state"); }

    QTemporaryDir dir;
};

TEST_F(VoltaroLogMeters, EveryRowsPowerIsTheProductOfItsReadings) {
    SimPty volts({"--scenario", "dcv", "--seed", "2"});
    SimPty amps({"--scenario", "current", "--seed", "3"});
    ASSERT_FALSE(volts.path.isEmpty() || amps.path.isEmpty());
    const QString out = file("power.txt");
    LogProcess log({"--port", "V=" + volts.path, "--port", "I=" + amps.path, "--calc", "P[W]=V*I", "--calc",
                    "G=I/V", "--out", out, "--count", "4", "--decimal-sep", "."},
                   stateHome());
    ASSERT_EQ(log.finish(15000), 0) << log.err.toStdString();
    EXPECT_TRUE(log.err.contains("4 rows in")) << log.err.toStdString();

    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    ASSERT_TRUE(text.endsWith("\r\n"));
    const QStringList lines = QString::fromUtf8(text.chopped(2)).split("\r\n");
    ASSERT_EQ(lines.size(), 5);
    const QStringList header = lines[0].split('\t');
    EXPECT_EQ(header, QString("Time V.value V.unit V.function V.judgement V.age I.value I.unit I.function "
                              "I.judgement I.age P[W] G")
                          .split(' '));
    for (qsizetype n = 1; n < lines.size(); ++n) {
        const Row row = rowOf(header, lines[n]);
        EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")
                        .match(row.at("Time"))
                        .hasMatch())
            << row.at("Time").toStdString();
        EXPECT_EQ(row.at("V.unit"), "V");
        EXPECT_EQ(row.at("I.unit"), "mA");
        EXPECT_LE(row.at("V.age").toDouble(), 1.0);
        expectPower(row);
        const auto v = siOf(row, "V");
        const auto i = siOf(row, "I");
        ASSERT_TRUE(v && i) << lines[n].toStdString();
        EXPECT_NEAR(row.at("G").toDouble(), *i / *v, std::abs(*i / *v) * 1e-14);
    }
}

// Frames of a current meter the test sends itself, one every 100 ms while
// `feeding`, overloaded while `overload`.
class CurrentFeed {
public:
    CurrentFeed() {
        timer_.setInterval(100);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (!pty_)
                return;
            sim::MeterFrame f = meter_.nextFrame();
            if (overload)
                f.status |= 1;
            const auto bytes = f.wireBytes();
            pty_->send(std::string(bytes.begin(), bytes.end()));
            ++sent;
        });
        timer_.start();
    }
    void feed(const Pty* pty) { pty_ = pty; }

    bool overload = false;
    int sent = 0;

private:
    sim::MeterSimulator meter_{"current", 5};
    const Pty* pty_ = nullptr;
    QTimer timer_;
};

TEST_F(VoltaroLogMeters, AMissingOverloadedStaleOrPulledMeterLeavesThePowerEmpty) {
    SimPty volts({"--scenario", "dcv", "--seed", "4"});
    ASSERT_FALSE(volts.path.isEmpty());
    const QString link = file("amps");
    auto pty = std::make_unique<Pty>();
    ASSERT_TRUE(pty->ok());
    ASSERT_TRUE(QFile::link(pty->path(), link));
    CurrentFeed amps;
    LogProcess log(
        {"--port", "V=" + volts.path, "--port", "I=" + link, "--calc", "P[W]=V*I", "--decimal-sep", "."},
        stateHome());
    testing::RowReader rows(log);
    ASSERT_TRUE(rows.readHeader() && log.waitForLines(2)) << log.err.toStdString();

    // Nothing from the current meter yet: its columns are empty, the voltage is recorded.
    const Row first = rows.at(1);
    EXPECT_FALSE(first.at("V.value").isEmpty());
    EXPECT_TRUE(first.at("I.value").isEmpty() && first.at("I.judgement").isEmpty() &&
                first.at("P[W]").isEmpty());

    amps.feed(pty.get());
    ASSERT_TRUE(rows.next([](const Row& r) { return !r.at("P[W]").isEmpty(); })) << log.err.toStdString();

    amps.overload = true;
    const auto overloaded = rows.next([](const Row& r) { return r.at("I.value").contains('L'); });
    ASSERT_TRUE(overloaded);
    EXPECT_TRUE(overloaded->at("P[W]").isEmpty());
    amps.overload = false;
    ASSERT_TRUE(rows.next([](const Row& r) { return !r.at("P[W]").isEmpty(); }));

    // Silent for more than two intervals: stale.
    amps.feed(nullptr);
    const int sentBefore = amps.sent;
    const auto stale = rows.next([](const Row& r) { return r.at("I.judgement") == "stale"; });
    ASSERT_TRUE(stale);
    EXPECT_EQ(amps.sent, sentBefore);
    EXPECT_GT(stale->at("I.age").toDouble(), 2.0);
    EXPECT_TRUE(stale->at("I.value").isEmpty() && stale->at("P[W]").isEmpty());

    // Pulled: the current meter waits, the voltage meter records on.
    ASSERT_TRUE(QFile::remove(link));
    pty->close();
    ASSERT_TRUE(log.waitForError("I: the port")) << log.err.toStdString();
    const auto pulled = rows.next([](const Row& r) { return r.at("I.judgement") == "waiting"; });
    ASSERT_TRUE(pulled);
    const qsizetype pulledAt = rows.position() - 1;
    ASSERT_TRUE(log.waitForLines(pulledAt + 3));
    for (qsizetype n = pulledAt; n < pulledAt + 3; ++n) {
        const Row row = rows.at(n);
        EXPECT_EQ(row.at("I.judgement"), "waiting");
        EXPECT_TRUE(row.at("I.value").isEmpty() && row.at("I.age").isEmpty() && row.at("P[W]").isEmpty());
        EXPECT_FALSE(row.at("V.value").isEmpty());
        EXPECT_LE(row.at("V.age").toDouble(), 1.0);
    }

    // Back at the same port: read and multiplied again.
    pty = std::make_unique<Pty>();
    ASSERT_TRUE(pty->ok());
    ASSERT_TRUE(QFile::link(pty->path(), link));
    ASSERT_TRUE(log.waitForError("I: the port is back")) << log.err.toStdString();
    amps.feed(pty.get());
    ASSERT_TRUE(rows.next([](const Row& r) { return !r.at("P[W]").isEmpty(); }));

    log.signal(SIGTERM);
    ASSERT_EQ(log.finish(), 0) << log.err.toStdString();
    for (qsizetype n = 1; n <= rows.rows(); ++n)
        expectPower(rows.at(n));
}

} // namespace
} // namespace voltaro
