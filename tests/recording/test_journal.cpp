// The journal of unsaved rows and the recovery of journals left behind.
#include "core/recording/DataFiles.h"
#include "core/recording/Journal.h"
#include "core/recording/JournalFormat.h"
#include "core/recording/JournalRecovery.h"
#include "support/FileSizeLimit.h"
#include "support/Wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cmath>
#include <random>

using namespace voltaro;
using voltaro::testing::waitUntil;
namespace df = voltaro::datafiles;
namespace jf = voltaro::journalformat;

namespace {

using namespace std::chrono_literals;

// A recorded row's journal line, as the window writes it.
QByteArray line(int no, const char* value = "1.2345") {
    return QStringLiteral("R\t%1\t10:00:%2\tDC\t%3\tV\tPASS\t12345\t1.2345\n")
        .arg(no)
        .arg(no % 60, 2, 10, QLatin1Char('0'))
        .arg(QLatin1String(value))
        .toLatin1();
}

QByteArray rowLine(const ReadingTable& rows, qsizetype r, std::optional<double> plotted = 1.2345) {
    QByteArray out;
    jf::appendRow(rows, r, plotted, out);
    return out;
}

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

ReadingTable load(const QByteArray& bytes) {
    ReadingTable t;
    std::vector<jf::Entry> entries;
    jf::read(bytes, t, entries);
    return t;
}

bool lockedByOthers(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const bool locked = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (fd >= 0)
        ::close(fd);
    return locked;
}

QStringList files(const QString& folder, const QString& pattern = QStringLiteral("*")) {
    return QDir(folder).entryList({pattern}, QDir::Files | QDir::Hidden, QDir::Name);
}

// Returns once `clock`, given a row each time, has been written `periods` times more.
void letPeriodsPass(Journal& clock, int periods) {
    for (int i = 0; i < periods; ++i) {
        const std::uint64_t before = clock.writes();
        clock.append(line(1));
        ASSERT_TRUE(waitUntil([&] { return clock.writes() > before; }));
    }
}

class JournalTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString folder() const { return dir.path() + QStringLiteral("/state/voltaro-interface"); }
};

} // namespace

TEST_F(JournalTest, RowsGoToALockedFileThatIsEmptiedBySavingAndGoesWhenEmpty) {
    auto j = std::make_unique<Journal>(folder(), Journal::SyncFunction{}, 10ms);
    EXPECT_TRUE(files(folder()).isEmpty()) << "no file before the first row";
    for (int n = 1; n <= 3; ++n)
        j->append(line(n));
    ASSERT_TRUE(waitUntil([&] { return j->writes() >= 1 && j->health() == Journal::Health::Protected; }));
    const QString path = j->path();
    EXPECT_EQ(files(folder()), QStringList{QFileInfo(path).fileName()});
    EXPECT_EQ(contents(path), jf::header() + line(1) + line(2) + line(3));
    EXPECT_TRUE(lockedByOthers(path));
    // The folders made for it are the user's alone.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(folder()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Saved: only the header stays; rows after it go on behind it.
    j->append(line(4));
    j->empty();
    EXPECT_EQ(j->unsavedRows(), 0);
    j->append(line(5));
    EXPECT_EQ(j->unsavedRows(), 1);
    // The emptying may go in a write of its own, taken before the fifth row
    // came: the row follows in the next.
    ASSERT_TRUE(waitUntil([&] { return contents(path) == jf::header() + line(5); }))
        << contents(path).toStdString();
    j->empty();
    j.reset();
    EXPECT_FALSE(QFile::exists(path)) << "a journal without rows is not left behind";
}

TEST_F(JournalTest, ALiveJournalIsNeverOfferedAndOneLeftBehindIsWithItsWholeRows) {
    {
        Journal left(folder(), {}, 10ms);
        left.append(line(1));
        left.append(line(2));
    } // ended with unsaved rows: kept for the next start
    Journal other(folder(), {}, 10ms);
    other.append(line(7));
    ASSERT_TRUE(waitUntil([&] { return other.writes() >= 1; }));
    // A power cut in the middle of a line: the whole lines are recovered.
    QStringList journals = files(folder(), QStringLiteral("journal-*.txt"));
    ASSERT_EQ(journals.size(), 2);
    journals.removeAll(QFileInfo(other.path()).fileName());
    const QString leftPath = folder() + QLatin1Char('/') + journals.constFirst();
    {
        QFile f(leftPath);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(line(3).left(9));
    }

    auto orphans = findOrphanJournals(folder());
    ASSERT_EQ(orphans.size(), 1u) << "the live journal is not offered";
    EXPECT_EQ(orphans[0].path, leftPath);
    ASSERT_EQ(orphans[0].rows.rowCount(), 2);
    EXPECT_EQ(orphans[0].rows.text(1, ReadingTable::No), QStringLiteral("2"));
    EXPECT_TRUE(orphans[0].lastWritten.isValid());
    // While it is being offered, no other window is offered it.
    EXPECT_TRUE(findOrphanJournals(folder()).empty());
    EXPECT_EQ(contents(other.path()), jf::header() + line(7)) << "rows never mix";
}

TEST_F(JournalTest, AJournalWithoutRowsLeftBehindIsRemovedNotOffered) {
    ASSERT_TRUE(QDir().mkpath(folder()));
    const QString empty = folder() + QStringLiteral("/journal-20260101-000000-1-0.txt");
    QFile f(empty);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(jf::header());
    f.close();
    EXPECT_TRUE(findOrphanJournals(folder()).empty());
    EXPECT_FALSE(QFile::exists(empty));
}

TEST_F(JournalTest, AFileTakenOverGoesOnlyOnceItsRowsAreWrittenHere) {
    {
        Journal left(folder(), {}, 10ms);
        left.append(line(1));
    }
    auto orphans = findOrphanJournals(folder());
    ASSERT_EQ(orphans.size(), 1u);
    const QString old = orphans[0].path;
    // A disk that refuses to sync keeps the old file.
    std::atomic<bool> failSync{true};
    Journal j(
        folder(),
        [&](int fd) {
            if (failSync) {
                errno = EIO;
                return -1;
            }
            return ::fdatasync(fd);
        },
        10ms);
    j.append(rowLine(orphans[0].rows, 0));
    j.takeOver(old, std::move(orphans[0].lock));
    ASSERT_TRUE(waitUntil([&] { return j.health() == Journal::Health::Failing; }));
    EXPECT_TRUE(QFile::exists(old));
    EXPECT_TRUE(j.lastError().contains(QStringLiteral("Input/output error"))) << j.lastError().toStdString();
    failSync = false;
    ASSERT_TRUE(waitUntil([&] { return j.health() == Journal::Health::Protected; }));
    EXPECT_FALSE(QFile::exists(old));
    EXPECT_EQ(contents(j.path()), jf::header() + line(1)) << "the retry wrote the row once";
}

TEST_F(JournalTest, ABurstOfRowsIsWrittenBeforeThePeriodEnds) {
    Journal j(folder(), {}, std::chrono::hours(1));
    QByteArray lines;
    for (int n = 1; lines.size() < Journal::kWriteEarlyBytes; ++n)
        lines += line(n);
    j.append(line(0));
    EXPECT_EQ(j.writes(), 0u);
    j.append(lines, 1000);
    ASSERT_TRUE(waitUntil([&] { return j.writes() == 1; }));
    EXPECT_EQ(QFileInfo(j.path()).size(), jf::header().size() + line(0).size() + lines.size());
}

TEST_F(JournalTest, RowsQueuedUnderAHoldGoInOneWriteWithTheFileTheyCameFrom) {
    {
        Journal left(folder(), {}, 10ms);
        for (int n = 1; n <= 3; ++n)
            left.append(line(n));
    }
    auto orphans = findOrphanJournals(folder());
    ASSERT_EQ(orphans.size(), 1u);
    const QString old = orphans[0].path;
    Journal j(folder(), {}, 10ms);
    // A journal of the same period, written each period, counts the periods.
    QTemporaryDir clockDir;
    Journal clock(clockDir.path(), {}, 10ms);
    {
        const Journal::Hold hold(j);
        for (qsizetype r = 0; r < orphans[0].rows.rowCount(); ++r) {
            j.append(rowLine(orphans[0].rows, r));
            letPeriodsPass(clock, 2);
        }
        EXPECT_EQ(j.writes(), 0u);
        EXPECT_TRUE(j.path().isEmpty());
        j.takeOver(old, std::move(orphans[0].lock));
    }
    ASSERT_TRUE(waitUntil([&] { return j.writes() >= 1; }));
    EXPECT_FALSE(QFile::exists(old));
    EXPECT_EQ(contents(j.path()), jf::header() + line(1) + line(2) + line(3));
}

TEST_F(JournalTest, AFolderThatCannotBeMadeKeepsTheRowsUntilItCan) {
    // A file where the folder should be: no one, not even root, makes it.
    const QString blocked = dir.path() + QStringLiteral("/state");
    {
        QFile f(blocked);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    Journal j(folder(), {}, 10ms);
    j.append(line(1));
    j.append(line(2));
    ASSERT_TRUE(waitUntil([&] { return j.health() == Journal::Health::Failing; }));
    EXPECT_TRUE(j.lastError().contains(blocked)) << j.lastError().toStdString();
    EXPECT_TRUE(j.path().isEmpty());
    j.append(line(3));
    ASSERT_TRUE(QFile::remove(blocked));
    ASSERT_TRUE(waitUntil([&] { return j.health() == Journal::Health::Protected; }));
    EXPECT_EQ(contents(j.path()), jf::header() + line(1) + line(2) + line(3));
}

TEST_F(JournalTest, AFullDiskLeavesNoHalfLineAndTheRowsFollowWhenThereIsRoom) {
    Journal j(folder(), {}, 10ms);
    j.append(line(1));
    ASSERT_TRUE(waitUntil([&] { return j.writes() == 1; }));
    const QString path = j.path();
    const qint64 before = QFileInfo(path).size();
    {
        voltaro::testing::FileSizeLimit full(before + 10);
        ASSERT_TRUE(full.active());
        for (int n = 2; n <= 40; ++n)
            j.append(line(n));
        ASSERT_TRUE(waitUntil([&] { return j.health() == Journal::Health::Failing; }));
        EXPECT_EQ(QFileInfo(path).size(), before) << "the failed write was taken back";
    }
    ASSERT_TRUE(waitUntil([&] { return j.health() == Journal::Health::Protected; }));
    const ReadingTable rows = load(contents(path));
    ASSERT_EQ(rows.rowCount(), 40);
    for (int n = 0; n < 40; ++n)
        ASSERT_EQ(rows.intValue(n, ReadingTable::No), n + 1);
}

TEST_F(JournalTest, DiscardRemovesTheJournalAndWhatItTookOver) {
    {
        Journal left(folder(), {}, 10ms);
        left.append(line(1));
    }
    auto orphans = findOrphanJournals(folder());
    ASSERT_EQ(orphans.size(), 1u);
    // Writes once; then the disk fails, so the file taken over is still there.
    int syncs = 0;
    Journal j(
        folder(),
        [&syncs](int) {
            if (syncs++ == 0)
                return 0;
            errno = EIO;
            return -1;
        },
        10ms);
    j.append(line(9));
    ASSERT_TRUE(waitUntil([&] { return j.writes() == 1; }));
    j.append(rowLine(orphans[0].rows, 0));
    j.takeOver(orphans[0].path, std::move(orphans[0].lock));
    ASSERT_TRUE(waitUntil([&] { return j.health() == Journal::Health::Failing; }));
    ASSERT_TRUE(QFile::exists(orphans[0].path));
    j.discard();
    EXPECT_TRUE(files(folder()).isEmpty()) << files(folder()).join(' ').toStdString();
    EXPECT_EQ(j.unsavedRows(), 0);
}

TEST_F(JournalTest, AJournalNotRecoveredIsKeptAsAPacketWithEveryFieldAndOnlyTheNewestTenStay) {
    ASSERT_TRUE(QDir().mkpath(folder()));
    for (int day = 1; day <= 12; ++day) {
        QFile f(folder() +
                QStringLiteral("/unsaved-readings-2026-01-%1_00-00-00.txt").arg(day, 2, 10, QChar('0')));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    {
        Journal left(folder(), {}, 10ms);
        // An empty unit and function, a unit that reads "NULL", a null NVal.
        left.append(QByteArrayLiteral("R\t1\t10:00:01\t\t1500\t\tPass\t1500\t1500\n"));
        left.append(QByteArrayLiteral("R\t2\t10:00:02\tDC\t0L\tNULL\tFail\t\\N\t22000\n"));
    }
    auto orphans = findOrphanJournals(folder());
    ASSERT_EQ(orphans.size(), 1u);
    const QString journal = orphans[0].path;
    bool textOnly = true;
    QString error;
    const QString kept = keepOrphanJournal(orphans[0], folder(), &textOnly, &error);
    ASSERT_FALSE(kept.isEmpty()) << error.toStdString();
    EXPECT_FALSE(textOnly);
    EXPECT_TRUE(kept.endsWith(QStringLiteral(".xml"))) << kept.toStdString();
    EXPECT_FALSE(QFile::exists(journal));
    ReadingTable back;
    ASSERT_TRUE(df::loadTableFile(kept, back, true).ok);
    ASSERT_EQ(back.rowCount(), 2);
    EXPECT_EQ(back.text(0, ReadingTable::Unit), QString());
    EXPECT_FALSE(back.isNull(0, ReadingTable::Function));
    EXPECT_EQ(back.text(0, ReadingTable::Function), QString());
    EXPECT_EQ(back.intValue(0, ReadingTable::NVal), 1500);
    EXPECT_EQ(back.text(1, ReadingTable::Unit), QStringLiteral("NULL"));
    EXPECT_TRUE(back.isNull(1, ReadingTable::NVal));

    const QStringList keptFiles = files(folder(), QStringLiteral("unsaved-readings-*"));
    ASSERT_EQ(keptFiles.size(), kKeptJournals);
    EXPECT_TRUE(keptFiles.contains(QFileInfo(kept).fileName()));
    EXPECT_FALSE(keptFiles.contains(QStringLiteral("unsaved-readings-2026-01-03_00-00-00.txt")));
    EXPECT_TRUE(keptFiles.contains(QStringLiteral("unsaved-readings-2026-01-04_00-00-00.txt")));
    EXPECT_TRUE(findOrphanJournals(folder()).empty()) << "a kept journal is not offered again";

    // A text XML cannot hold goes to a text table, and the caller is told.
    {
        Journal left(folder(), {}, 10ms);
        left.append(QByteArrayLiteral("R\t3\t10:00:03\tDC\t1\x01\tV\tPass\t1\t1\n"));
    }
    orphans = findOrphanJournals(folder());
    ASSERT_EQ(orphans.size(), 1u);
    const QString text = keepOrphanJournal(orphans[0], folder(), &textOnly, &error);
    EXPECT_TRUE(textOnly);
    ASSERT_TRUE(text.endsWith(QStringLiteral(".txt"))) << text.toStdString();
    ASSERT_TRUE(df::loadTableFile(text, back, true).ok);
    EXPECT_EQ(back.rowCount(), 1);
}

TEST_F(JournalTest, AJournalOfTheEarlierTextTableFormatStillRecoversAsItDid) {
    ASSERT_TRUE(QDir().mkpath(folder()));
    QFile f(folder() + QStringLiteral("/journal-20260101-000000-1-0.txt"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(df::textHeader());
    f.write("1\t10:00:01\tDC\t1,5\tV\tPass\r\n2\t10:00:02\tDC\t0L\tNULL\tFail\r\n3\t10:00");
    f.close();
    auto orphans = findOrphanJournals(folder());
    ASSERT_EQ(orphans.size(), 1u);
    const ReadingTable& rows = orphans[0].rows;
    ASSERT_EQ(rows.rowCount(), 2) << "the line cut short is left out";
    // The text loader's rules: "NULL" is read as it stands, there is no NVal.
    EXPECT_EQ(rows.text(1, ReadingTable::Unit), QStringLiteral("NULL"));
    EXPECT_TRUE(rows.isNull(0, ReadingTable::NVal));
    ASSERT_EQ(orphans[0].entries.size(), 2u);
    EXPECT_EQ(orphans[0].entries[0].plotted, 1.5) << "either decimal separator";
    EXPECT_FALSE(orphans[0].entries[1].plotted) << "an overload had no number to plot";
}

// Random rows and chart events, journalled, left behind and recovered: every
// field and every event comes back as it was, and a journal cut at any byte
// gives back exactly the lines before the cut.
TEST_F(JournalTest, WhateverIsJournalledRecoversFieldByField) {
    std::mt19937 rng(20261210);
    const QString pieces[] = {QString(),
                              QStringLiteral("NULL"),
                              QStringLiteral("\\N"),
                              QStringLiteral("a\tb"),
                              QStringLiteral("x\r\ny"),
                              QStringLiteral("\\"),
                              QStringLiteral(" V "),
                              QStringLiteral("0L"),
                              QStringLiteral("\u03a9\U0001F600"),
                              QStringLiteral("\\t")};
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ReadingTable table;
        std::vector<jf::Entry> written;
        QByteArray lines;
        for (int n = 0; n < 60; ++n) {
            const int kind = static_cast<int>(rng() % 8);
            jf::Entry e;
            if (kind == 0) {
                e.kind = jf::Entry::Kind::ChartNew;
                jf::appendChartNew(lines);
            } else if (kind == 1) {
                e.kind = jf::Entry::Kind::Scale;
                e.maximum = std::ldexp(static_cast<double>(rng()), -static_cast<int>(rng() % 40));
                e.minimum = -e.maximum;
                jf::appendScale(e.maximum, e.minimum, lines);
            } else if (kind == 2) {
                e.kind = jf::Entry::Kind::Point;
                e.plotted = static_cast<double>(static_cast<std::int32_t>(rng())) / 1000.0;
                jf::appendPoint(*e.plotted, lines);
            } else {
                e.row = table.appendRow();
                for (int f = 0; f < ReadingTable::FieldCount; ++f) {
                    if (rng() % 6 == 0)
                        continue; // null
                    if (table.fields()[f].type == FieldType::Integer)
                        table.setInt(e.row, f, static_cast<std::int32_t>(rng()));
                    else
                        table.setText(e.row, f, pieces[rng() % std::size(pieces)] + pieces[rng() % 3]);
                }
                if (rng() % 5 != 0)
                    e.plotted = static_cast<double>(static_cast<std::int32_t>(rng())) / 7.0;
                jf::appendRow(table, e.row, e.plotted, lines);
            }
            written.push_back(e);
        }
        {
            Journal left(folder(), {}, 10ms);
            left.append(lines, table.rowCount());
        }
        auto orphans = findOrphanJournals(folder());
        ASSERT_EQ(orphans.size(), 1u);
        const ReadingTable& rows = orphans[0].rows;
        const auto& entries = orphans[0].entries;
        ASSERT_EQ(rows.rowCount(), table.rowCount());
        for (qsizetype r = 0; r < rows.rowCount(); ++r)
            for (int f = 0; f < ReadingTable::FieldCount; ++f) {
                ASSERT_EQ(rows.isNull(r, f), table.isNull(r, f)) << "row " << r << " field " << f;
                ASSERT_EQ(rows.text(r, f), table.text(r, f)) << "row " << r << " field " << f;
            }
        ASSERT_EQ(entries.size(), written.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            ASSERT_EQ(entries[i].kind, written[i].kind) << "entry " << i;
            EXPECT_EQ(entries[i].row, written[i].row) << "entry " << i;
            EXPECT_EQ(entries[i].plotted, written[i].plotted) << "entry " << i;
            EXPECT_EQ(entries[i].maximum, written[i].maximum) << "entry " << i;
            EXPECT_EQ(entries[i].minimum, written[i].minimum) << "entry " << i;
        }
        QFile::remove(orphans[0].path);

        // Cut anywhere: the whole lines before the cut, no more, no less.
        const QByteArray all = jf::header() + lines;
        const qsizetype cut = static_cast<qsizetype>(rng() % static_cast<std::uint32_t>(all.size()));
        ReadingTable part;
        std::vector<jf::Entry> partEntries;
        const qsizetype taken = jf::read(QByteArrayView(all).first(cut), part, partEntries);
        EXPECT_EQ(taken, cut < jf::header().size() ? 0 : all.lastIndexOf('\n', cut - 1) + 1);
        EXPECT_EQ(partEntries.size(),
                  static_cast<std::size_t>(all.first(taken).count('\n')) - (taken > 0 ? 1 : 0));
    }
}

TEST(JournalFolder, FollowsXdgStateHomeOnlyWhenItIsAnAbsolutePath) {
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", "/var/tmp/s");
    EXPECT_EQ(journalFolder(), QStringLiteral("/var/tmp/s/voltaro-interface"));
    qputenv("XDG_STATE_HOME", "relative");
    EXPECT_EQ(journalFolder(), QDir::homePath() + QStringLiteral("/.local/state/voltaro-interface"));
    qunsetenv("XDG_STATE_HOME");
    EXPECT_EQ(journalFolder(), QDir::homePath() + QStringLiteral("/.local/state/voltaro-interface"));
    if (!saved.isNull())
        qputenv("XDG_STATE_HOME", saved);
}
