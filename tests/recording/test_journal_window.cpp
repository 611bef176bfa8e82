// The journal in the real window: what empties it, what removes it, the
// questions on the way out and the recovery at the next start. Each test has
// a state folder of its own (the widget test main sets XDG_STATE_HOME).
#include "core/recording/DataFiles.h"
#include "core/recording/JournalFormat.h"
#include "core/recording/JournalRecovery.h"
#include "support/WindowTestSupport.h"
#include "widgets/app/TFCOMM.h"
#include "widgets/chart/ChartRegion.h"
#include "widgets/chart/PlotSurface.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

using namespace voltaro;
using voltaro::testing::control;
using voltaro::testing::Expect;
using voltaro::testing::FileDialogAnswer;
using voltaro::testing::MessageBoxAnswer;
using voltaro::testing::meterFrame;
using voltaro::testing::waitUntil;

namespace {

sim::MeterFrame volts(const char* digits) {
    return meterFrame(11, 1, digits, 0, 10);
}

struct Window {
    std::unique_ptr<TFCOMM> w = std::make_unique<TFCOMM>();
    std::unique_ptr<voltaro::testing::SerialFeeder> feed =
        std::make_unique<voltaro::testing::SerialFeeder>(*w);

    Window() {
        w->show();
        QCoreApplication::processEvents(); // the start-up questions, if any
    }
    Journal& journal() { return w->recording().journal(); }
    const ReadingTable& table() { return w->recording().table(); }
    // Until the journal has written what it holds now.
    bool written() {
        const auto before = journal().writes();
        return waitUntil([&] { return journal().writes() > before; }, 5000);
    }
    QStringList rows() {
        QStringList out;
        for (qsizetype r = 0; r < table().rowCount(); ++r)
            out << QString::fromLatin1(datafiles::textLine(table(), r));
        return out;
    }
};

QStringList journals() {
    return QDir(journalFolder()).entryList({QStringLiteral("journal-*.txt")}, QDir::Files, QDir::Name);
}

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QVector<double> chartPoints(TFCOMM& w) {
    QVector<double> values;
    const RecordPoints& points = w.chart().plot().points();
    for (auto p = points.constBegin(); p != points.constEnd(); ++p)
        values.append(p->value);
    return values;
}

} // namespace

TEST(JournalWindow, RecoveredRowsComeBackToTableAndChartAndRecordingGoesOnAfterThem) {
    QStringList recorded;
    QVector<double> plotted;
    QByteArray journalled;
    {
        Window first;
        (*first.feed)({volts("12345"), volts("12346"), volts("12347")});
        recorded = first.rows();
        ASSERT_EQ(recorded.size(), 3);
        plotted = chartPoints(*first.w);
        ASSERT_TRUE(first.written());
        journalled = contents(first.journal().path());
    } // ended without a question (a crash or a signal would leave the same)
    ASSERT_EQ(journals().size(), 1);
    const QString left = journalFolder() + QLatin1Char('/') + journals().constFirst();

    MessageBoxAnswer yes(QMessageBox::Yes);
    Window second;
    ASSERT_TRUE(waitUntil([&] { return yes.answered() == 1; }));
    EXPECT_TRUE(yes.text().contains(QStringLiteral("3 reading(s)"))) << yes.text().toStdString();
    EXPECT_EQ(second.rows(), recorded);
    EXPECT_EQ(chartPoints(*second.w), plotted);
    // Still unsaved, so still journalled: the old file goes once they are written here.
    EXPECT_EQ(second.journal().unsavedRows(), 3);
    ASSERT_TRUE(waitUntil([&] { return !QFile::exists(left); }, 5000));
    (*second.feed)(volts("12348"));
    ASSERT_EQ(second.table().rowCount(), 4);
    EXPECT_EQ(second.table().intValue(3, ReadingTable::No), 4);
    plotted.append(12.348);
    EXPECT_EQ(chartPoints(*second.w), plotted) << "the trend goes on";
    // The journal holds what the first one did, then the new row.
    QByteArray expected = journalled;
    journalformat::appendRow(second.table(), 3, 12.348, expected);
    EXPECT_TRUE(waitUntil([&] { return contents(second.journal().path()) == expected; }, 5000))
        << contents(second.journal().path()).toStdString();
}

// Two journals left at once are of two windows, each on its meter: a new
// window takes the rows of one, says that another is left, and leaves it
// untouched and unlocked for the next window.
TEST(JournalWindow, AWindowRecoversOneJournalAndLeavesTheOtherWindowsForTheNext) {
    {
        Window first;
        (*first.feed)({volts("12345"), volts("12346")});
        ASSERT_TRUE(first.written());
    }
    ASSERT_EQ(journals().size(), 1);
    const QString folder = journalFolder() + QLatin1Char('/');
    const QString other = folder + QStringLiteral("journal-other-window.txt");
    ASSERT_TRUE(QFile::copy(folder + journals().constFirst(), other));
    const QByteArray otherBytes = contents(other);

    MessageBoxAnswer yes(QMessageBox::Yes);
    MessageBoxAnswer told(QMessageBox::Ok);
    Window second;
    ASSERT_TRUE(waitUntil([&] { return told.answered() == 1; }));
    EXPECT_EQ(yes.answered(), 1);
    EXPECT_TRUE(told.text().contains(QStringLiteral("1 other program(s)"))) << told.text().toStdString();
    EXPECT_EQ(second.table().rowCount(), 2);
    // Whichever of the two was offered first, the other is as it was.
    const auto orphans = findOrphanJournals(journalFolder());
    ASSERT_EQ(orphans.size(), 1u);
    EXPECT_EQ(contents(orphans[0].path), otherBytes);
}

TEST(JournalWindow, RowsNotRecoveredAreKeptInAFileTheMessageNames) {
    {
        Window first;
        (*first.feed)(volts("12345"), 2);
    }
    MessageBoxAnswer no(QMessageBox::No);
    MessageBoxAnswer ok(QMessageBox::Ok);
    Window second;
    ASSERT_TRUE(waitUntil([&] { return ok.answered() == 1; }));
    EXPECT_EQ(second.table().rowCount(), 0);
    EXPECT_TRUE(journals().isEmpty());
    const QStringList left =
        QDir(journalFolder()).entryList({QStringLiteral("unsaved-readings-*.xml")}, QDir::Files);
    ASSERT_EQ(left.size(), 1);
    EXPECT_TRUE(ok.text().contains(journalFolder() + QLatin1Char('/') + left[0])) << ok.text().toStdString();
    // "Open old data files" loads it, with the count of each reading.
    second.w->recording().LoadTableFile(journalFolder() + QLatin1Char('/') + left[0], false);
    ASSERT_EQ(second.table().rowCount(), 2);
    EXPECT_EQ(second.table().intValue(1, ReadingTable::NVal), 12345);
    EXPECT_EQ(second.table().text(1, ReadingTable::Value), QStringLiteral("12.345"));
}

TEST(JournalWindow, SavingClosingDataAndLoadingXmlEmptyItButLoadingTextDoesNot) {
    QTemporaryDir files;
    Window win;
    auto& journal = win.journal();
    (*win.feed)(volts("12345"), 2);
    EXPECT_EQ(journal.unsavedRows(), 2);
    ASSERT_TRUE(win.written());
    {
        MessageBoxAnswer saved(QMessageBox::Ok);
        win.w->recording().SaveTableAsText(files.filePath(QStringLiteral("a.txt")));
    }
    EXPECT_EQ(journal.unsavedRows(), 0);
    ASSERT_TRUE(win.written());
    QFile j(journal.path());
    ASSERT_TRUE(j.open(QIODevice::ReadOnly));
    EXPECT_EQ(j.readAll(), journalformat::header());

    win.w->recording().LoadTableFile(files.filePath(QStringLiteral("a.txt")), false);
    EXPECT_EQ(win.table().rowCount(), 4);
    EXPECT_EQ(journal.unsavedRows(), 0) << "rows from a file are in that file";

    (*win.feed)(volts("12345"));
    {
        FileDialogAnswer name(files.filePath(QStringLiteral("b.xml")));
        control<QToolButton>(*win.w, "saveas")->click();
    }
    EXPECT_EQ(journal.unsavedRows(), 0);

    (*win.feed)(volts("12345"));
    win.w->recording().LoadTableFile(files.filePath(QStringLiteral("b.xml")), false);
    EXPECT_EQ(journal.unsavedRows(), 0) << "the packet replaced the rows";

    (*win.feed)(volts("12345"));
    {
        MessageBoxAnswer yes(QMessageBox::Yes);
        control<QToolButton>(*win.w, "RecordNew")->click();
    }
    EXPECT_EQ(journal.unsavedRows(), 0);
    EXPECT_EQ(win.table().rowCount(), 0);
}

TEST(JournalWindow, TheCloseBoxAsksOnlyWhileRowsAreUnsaved) {
    {
        Window win;
        MessageBoxAnswer none(QMessageBox::Yes, Expect::Optional);
        EXPECT_TRUE(win.w->close());
        EXPECT_EQ(none.answered(), 0);
    }
    Window win;
    (*win.feed)(volts("12345"), 3);
    ASSERT_TRUE(win.written());
    const QString path = win.journal().path();
    {
        MessageBoxAnswer no(QMessageBox::No);
        EXPECT_FALSE(win.w->close());
        EXPECT_TRUE(no.text().startsWith(QStringLiteral("3 readings are not saved")))
            << no.text().toStdString();
    }
    EXPECT_TRUE(win.w->isVisible());
    EXPECT_TRUE(QFile::exists(path));
    {
        MessageBoxAnswer yes(QMessageBox::Yes);
        EXPECT_TRUE(win.w->close());
    }
    EXPECT_FALSE(QFile::exists(path)) << "quitting anyway gives the rows up";
}

TEST(JournalWindow, QuitAndExitRemoveTheJournal) {
    for (const char* way : {"BitBtn1", "BtExit"}) {
        Window win;
        (*win.feed)(volts("12345"));
        ASSERT_TRUE(win.written());
        const QString path = win.journal().path();
        {
            MessageBoxAnswer yes(QMessageBox::Yes, Expect::Optional);
            if (QString::fromLatin1(way) == QLatin1String("BitBtn1"))
                control<QPushButton>(*win.w, way)->click();
            else
                win.w->BtExit1Click();
            EXPECT_EQ(yes.answered(), QString::fromLatin1(way) == QLatin1String("BitBtn1") ? 1 : 0);
        }
        EXPECT_FALSE(QFile::exists(path)) << way;
        EXPECT_EQ(win.journal().unsavedRows(), 0);
    }
    EXPECT_TRUE(journals().isEmpty());
}

TEST(JournalWindow, AJournalThatCannotBeWrittenIsToldOnceAndAgainWhenItIs) {
    // A file where the journal's folder should be.
    ASSERT_TRUE(QDir().mkpath(QFileInfo(journalFolder()).path()));
    {
        QFile blocker(journalFolder());
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    MessageBoxAnswer ok(QMessageBox::Ok);
    Window win;
    (*win.feed)(volts("12345"));
    ASSERT_TRUE(waitUntil([&] { return ok.answered() == 1; }, 5000));
    EXPECT_TRUE(ok.text().startsWith(QStringLiteral("The readings are not protected")))
        << ok.text().toStdString();
    (*win.feed)(volts("12346"));
    EXPECT_EQ(win.table().rowCount(), 2) << "recording goes on";
    // Told once, however long it fails.
    ASSERT_TRUE(voltaro::testing::runTicks(1000, 2));
    EXPECT_EQ(ok.answered(), 1);
    ASSERT_TRUE(QFile::remove(journalFolder()));
    ASSERT_TRUE(waitUntil([&] { return ok.answered() == 2; }, 5000));
    EXPECT_TRUE(ok.text().contains(QStringLiteral("protected once more"))) << ok.text().toStdString();
    ReadingTable journalled;
    std::vector<journalformat::Entry> entries;
    journalformat::read(contents(win.journal().path()), journalled, entries);
    EXPECT_EQ(journalled.rowCount(), 2);
}
