// Recording, judgement and the limit edits on the real window, driven by
// meter frames through the serial data handler and by typed keys.
#include "core/recording/ReadingTableModel.h"
#include "support/WindowTestSupport.h"
#include "widgets/app/TFCOMM.h"
#include "widgets/chart/PlotSurface.h"

#include <QAction>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

// Readable texts in failure messages.
static void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

using namespace voltaro;
using voltaro::testing::control;
using voltaro::testing::MessageBoxAnswer;
using voltaro::testing::meterFrame;

namespace {

// DC volts, auto range: range 0 reads d.dddd, range 1 dd.ddd, range 2 ddd.dd, range 3 dddd.d.
sim::MeterFrame volts(int range, const char* digits, int status = 0) {
    return meterFrame(11, static_cast<std::uint8_t>(range), digits, static_cast<std::uint8_t>(status), 10);
}

class RecordingWindow : public ::testing::Test {
protected:
    void SetUp() override {
        w = std::make_unique<TFCOMM>();
        w->show();
        // The tests tick the sampling countdown themselves.
        control<QTimer>(*w, "Trecord")->stop();
        sep = QLocale::system().decimalPoint();
        feeder = std::make_unique<voltaro::testing::SerialFeeder>(*w);
    }

    void feed(const std::vector<sim::MeterFrame>& frames) { (*feeder)(frames); }
    void feed(const sim::MeterFrame& f, int times = 1) { (*feeder)(f, times); }

    // Types one character into `edit` as a key press, through the window's key filter.
    static void type(QWidget* edit, QChar c) {
        const int key = c == u'\b' ? int(Qt::Key_Backspace) : int(c.toUpper().unicode());
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(edit, &press);
    }
    static void type(QWidget* edit, const QString& text) {
        for (QChar c : text)
            type(edit, c);
    }

    int rows() const { return static_cast<int>(w->recording().table().rowCount()); }
    long long points() const { return w->chart().plot().pointCount(0); }
    QString cell(int row, int field) const { return w->recording().table().text(row, field); }
    QString dec(const char* text) const { return QString::fromLatin1(text).replace('.', sep); }

    std::unique_ptr<TFCOMM> w;
    std::unique_ptr<voltaro::testing::SerialFeeder> feeder;
    QString sep;
};

} // namespace

TEST_F(RecordingWindow, JudgementIncludesBothLimits) {
    control<QLineEdit>(*w, "T1HI")->setText("2");
    control<QLineEdit>(*w, "T1LO")->setText("1");
    const struct {
        const char* digits;
        const char* shown;
        const char* judge;
    } cases[] = {
        {"01000", "1", "Pass"},     {"02000", "2", "Pass"},   {"00999", "0.999", "Fail"},
        {"02001", "2.001", "Fail"}, {"01500", "1.5", "Pass"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.digits);
        feed(volts(1, c.digits));
        EXPECT_EQ(control<QLabel>(*w, "judge")->text(), c.judge);
        EXPECT_EQ(control<QLineEdit>(*w, "T1VALUE")->text(), dec(c.shown));
        EXPECT_EQ(cell(rows() - 1, ReadingTable::Judge), c.judge);
        EXPECT_EQ(cell(rows() - 1, ReadingTable::Value), dec(c.shown));
    }
    EXPECT_EQ(rows(), 5);
}

TEST_F(RecordingWindow, OverloadsAndOverRangePatternsFail) {
    auto dutyOverload = meterFrame(11, 0, "12345", 8, 9);
    dutyOverload.option2 = 8;
    ASSERT_EQ(dutyOverload.frameText().substr(7, 5), "B8089");
    // Limits that would pass 225.80.
    control<QLineEdit>(*w, "T1HI")->setText("300");
    control<QLineEdit>(*w, "T1LO")->setText("200");
    const struct {
        sim::MeterFrame frame;
        const char* value; // as shown and recorded
        int count;
        const char* judge;
    } cases[] = {
        {volts(2, "22579"), "225.79", 22579, "Pass"},   {volts(2, "22580"), "225.8", 22580, "Fail"},
        {volts(2, "22579"), "225.79", 22579, "Pass"},   {volts(1, "00000", 1), "0.L", 22000, "Fail"},
        {volts(1, "00000", 5), "-0.L", -22000, "Fail"}, {dutyOverload, "0L.", 22000, "Fail"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frame.frameText());
        feed(c.frame);
        EXPECT_EQ(control<QLabel>(*w, "judge")->text(), c.judge);
        EXPECT_EQ(control<QLineEdit>(*w, "T1VALUE")->text(), dec(c.value));
        const int row = rows() - 1;
        EXPECT_EQ(cell(row, ReadingTable::Value), dec(c.value));
        EXPECT_EQ(cell(row, ReadingTable::Judge), c.judge);
        EXPECT_EQ(w->recording().table().intValue(row, ReadingTable::NVal), c.count);
    }
    EXPECT_EQ(rows(), 6);
}

TEST_F(RecordingWindow, UnusableLimitKeepsThePreviousJudgementAndStillRecords) {
    control<QLineEdit>(*w, "T1HI")->setText("2");
    feed(volts(1, "01000"));
    ASSERT_EQ(control<QLabel>(*w, "judge")->text(), "Pass");
    for (const char* hi : {"1x", "+-", ""}) {
        SCOPED_TRACE(hi);
        w->pipeline().setLimitTexts(hi, w->pipeline().settings().loText);
        const int before = rows();
        feed(volts(1, "05000")); // above 2: would fail
        EXPECT_EQ(rows(), before + 1);
        EXPECT_EQ(cell(before, ReadingTable::Judge), "Pass");
        EXPECT_EQ(control<QLabel>(*w, "judge")->text(), "Pass");
    }
    feed(volts(2, "22580"));
    EXPECT_EQ(control<QLabel>(*w, "judge")->text(), "Fail");
    feed(volts(1, "00000", 1));
    EXPECT_EQ(cell(rows() - 1, ReadingTable::Judge), "Fail");
}

TEST_F(RecordingWindow, RepeatFilterSurvivesCloseDataAndNoKeepsEverything) {
    control<QCheckBox>(*w, "RepeatSet")->setChecked(false);
    feed(volts(1, "01234"), 2);
    EXPECT_EQ(rows(), 1);
    const long long plotted = points();
    w->recording().model().flush();

    {
        MessageBoxAnswer no(QMessageBox::No);
        control<QToolButton>(*w, "RecordNew")->click();
    }
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(w->recording().model().rowCount(), 1);
    EXPECT_EQ(points(), plotted);
    EXPECT_EQ(w->recording().recorder().NextRecordNo, 2);

    {
        MessageBoxAnswer yes(QMessageBox::Yes);
        control<QToolButton>(*w, "RecordNew")->click();
        EXPECT_EQ(yes.text(), "Do you want to delete this record?");
        EXPECT_EQ(yes.icon(), QMessageBox::Information);
    }
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(w->recording().model().rowCount(), 0);
    EXPECT_EQ(w->recording().recorder().NextRecordNo, 1);
    EXPECT_EQ(w->recording().recorder().RecordedCount, 0);
    EXPECT_EQ(points(), 1); // the placeholder
    EXPECT_EQ(control<QToolButton>(*w, "Bt10")->text(), "1");

    // The key of the last row survives: the same reading is plotted, not recorded.
    feed(volts(1, "01234"));
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(points(), 2);
    EXPECT_EQ((w->chart().plot().points().constEnd() - 1)->key, 1.0); // right after the placeholder
    feed(volts(1, "01235"));
    ASSERT_EQ(rows(), 1);
    EXPECT_EQ(w->recording().table().intValue(0, ReadingTable::No), 1);
    EXPECT_EQ(points(), 3);
    EXPECT_DOUBLE_EQ((w->chart().plot().points().constEnd() - 1)->value, 1.235);
}

TEST_F(RecordingWindow, SamplingWaitsForTheCountdown) {
    control<QCheckBox>(*w, "RecordSI")->setChecked(true);
    control<QLineEdit>(*w, "RecordSITime")->setText("3");
    feed(volts(1, "01000"));
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(w->recording().recorder().SampleCountdown, 3);
    const long long plotted = points();
    for (int tick = 0; tick < 3; ++tick) {
        feed(volts(1, "01001"));
        EXPECT_EQ(rows(), 1);
        EXPECT_EQ(points(), plotted);
        w->recording().TrecordTimer();
    }
    EXPECT_EQ(w->recording().recorder().SampleCountdown, 0);
    feed(volts(1, "01002"));
    EXPECT_EQ(rows(), 2);
    EXPECT_EQ(points(), plotted + 1);

    // The countdown stands still while sampling is off.
    control<QCheckBox>(*w, "RecordSI")->setChecked(false);
    w->recording().TrecordTimer();
    EXPECT_EQ(w->recording().recorder().SampleCountdown, 3);

    // An interval of 0 samples every frame.
    control<QCheckBox>(*w, "RecordSI")->setChecked(true);
    for (int tick = 0; tick < 3; ++tick)
        w->recording().TrecordTimer();
    control<QLineEdit>(*w, "RecordSITime")->setText("0");
    feed(volts(1, "01003"), 3);
    EXPECT_EQ(rows(), 5);
}

TEST_F(RecordingWindow, IntervalEditTakesDigitsAndNeverStaysEmpty) {
    QLineEdit* e = control<QLineEdit>(*w, "RecordSITime");
    e->setText("5");
    e->end(false);
    type(e, "a-+.");
    EXPECT_EQ(e->text(), "5");
    type(e, u'\b');
    EXPECT_EQ(e->text(), "1");
    EXPECT_EQ(e->selectionStart(), 0);
    EXPECT_EQ(e->selectedText(), "1");
    type(e, "42");
    EXPECT_EQ(e->text(), "42");
}

TEST_F(RecordingWindow, RecordLimitFromTheMenuStopsAndResumes) {
    const struct {
        QAction* item;
        int limit;
    } items[] = {{control<QAction>(*w, "N50001"), 5000},       {control<QAction>(*w, "N100001"), 10000},
                 {control<QAction>(*w, "N500001"), 50000},     {control<QAction>(*w, "N1000001"), 100000},
                 {control<QAction>(*w, "limitess"), 10000000}, {control<QAction>(*w, "N10001"), 1000}};
    for (const auto& it : items) {
        it.item->trigger();
        EXPECT_EQ(w->recording().recorder().RecordLimit, it.limit);
        for (const auto& other : items)
            EXPECT_EQ(other.item->isChecked(), other.item == it.item) << other.limit;
    }

    feed(volts(1, "01234"), 1001);
    EXPECT_EQ(rows(), 1000);
    EXPECT_EQ(w->recording().table().intValue(999, ReadingTable::No), 1000);
    const long long plotted = points();
    const QString page = control<QToolButton>(*w, "Bt10")->text();
    feed(volts(1, "01234"), 150);
    EXPECT_EQ(rows(), 1000);
    EXPECT_EQ(points(), plotted);
    EXPECT_EQ(control<QToolButton>(*w, "Bt10")->text(), page);

    control<QAction>(*w, "N50001")->trigger();
    feed(volts(1, "01234"));
    EXPECT_EQ(rows(), 1001);
    EXPECT_EQ(points(), plotted + 1);
    control<QAction>(*w, "N10001")->trigger();
    feed(volts(1, "01234"));
    EXPECT_EQ(rows(), 1001);
    control<QAction>(*w, "limitess")->trigger();
    feed(volts(1, "01234"));
    EXPECT_EQ(rows(), 1002);
}

TEST_F(RecordingWindow, LimitEditsRepairWhatIsTyped) {
    control<QLineEdit>(*w, "T1LO")->clear();
    EXPECT_EQ(control<QLineEdit>(*w, "T1LO")->text(), "0");
    EXPECT_EQ(control<QLineEdit>(*w, "T1LO")->selectedText(), "0");
    type(control<QLineEdit>(*w, "T1LO"), u'-');
    EXPECT_EQ(control<QLineEdit>(*w, "T1LO")->text(), "-0");
    EXPECT_EQ(control<QLineEdit>(*w, "T1LO")->selectionStart(), 1);
    EXPECT_EQ(control<QLineEdit>(*w, "T1LO")->selectedText(), "0");
    type(control<QLineEdit>(*w, "T1LO"), u'5');
    EXPECT_EQ(control<QLineEdit>(*w, "T1LO")->text(), "-5");
    EXPECT_EQ(w->pipeline().settings().loText, "-5");

    // Only "-", digits and the user's own separator reach the edit.
    const QChar foreign = sep == "." ? u',' : u'.';
    control<QLineEdit>(*w, "T1HI")->setText("1");
    control<QLineEdit>(*w, "T1HI")->end(false);
    type(control<QLineEdit>(*w, "T1HI"), QString("+ a") + foreign);
    EXPECT_EQ(control<QLineEdit>(*w, "T1HI")->text(), "1");
    type(control<QLineEdit>(*w, "T1HI"), sep + "5");
    EXPECT_EQ(control<QLineEdit>(*w, "T1HI")->text(), "1" + sep + "5");
    EXPECT_EQ(w->pipeline().settings().hiText, ("1" + sep + "5").toStdString());

    // Deleting the whole high limit leaves 0, so every positive reading fails.
    control<QLineEdit>(*w, "T1HI")->selectAll();
    type(control<QLineEdit>(*w, "T1HI"), u'\b');
    EXPECT_EQ(control<QLineEdit>(*w, "T1HI")->text(), "0");
    EXPECT_EQ(control<QLineEdit>(*w, "T1HI")->selectedText(), "0");
    feed(volts(1, "00001"));
    EXPECT_EQ(control<QLabel>(*w, "judge")->text(), "Fail");
    feed(volts(1, "00000"));
    EXPECT_EQ(control<QLabel>(*w, "judge")->text(), "Pass");
}

TEST_F(RecordingWindow, AlarmEditsAndTheirCheckBoxes) {
    const auto& s = w->pipeline().settings();
    // Until an alarm edit is touched the profile's band holds, not the edits' texts.
    EXPECT_EQ(s.alarmHigh, 22002.0f);
    EXPECT_EQ(s.alarmLow, -22002.0f);
    control<QCheckBox>(*w, "SetMaxB")->click();
    EXPECT_TRUE(s.setMaxB);
    EXPECT_EQ(s.alarmHigh, 22000.0f);
    control<QCheckBox>(*w, "SetMinB")->click();
    EXPECT_EQ(s.alarmLow, -22000.0f);

    control<QLineEdit>(*w, "Setmax")->selectAll();
    type(control<QLineEdit>(*w, "Setmax"), u'+');
    EXPECT_EQ(control<QLineEdit>(*w, "Setmax")->text(), "+");
    EXPECT_EQ(s.alarmHigh, 0.0f);
    control<QLineEdit>(*w, "Setmax")->selectAll();
    type(control<QLineEdit>(*w, "Setmax"), "a.20000");
    EXPECT_EQ(control<QLineEdit>(*w, "Setmax")->text(), "20000");
    EXPECT_EQ(s.alarmHigh, 20000.0f);
    control<QLineEdit>(*w, "SetMin")->setText("-");
    EXPECT_EQ(s.alarmLow, 0.0f);
    control<QLineEdit>(*w, "SetMin")->setText("-20000");

    // The band is in counts, whatever the decimal point.
    const struct {
        sim::MeterFrame frame;
        bool alarm;
    } cases[] = {{volts(1, "20000"), false},    {volts(1, "20001"), true},    {volts(3, "20001"), true},
                 {volts(2, "20000", 4), false}, {volts(2, "20001", 4), true}, {volts(0, "01234"), false}};
    for (const auto& c : cases) {
        feed(c.frame);
        EXPECT_EQ(ReadingEvaluator::alarm(w->pipeline().reading().Count, s), c.alarm) << c.frame.frameText();
    }
    control<QCheckBox>(*w, "SetMaxB")->click();
    EXPECT_FALSE(s.setMaxB);
    EXPECT_FALSE(ReadingEvaluator::alarm(20001, s));
    EXPECT_TRUE(ReadingEvaluator::alarm(-20001, s));

    // A sign after a digit passes the key filter but is no integer: the error box, the old value kept.
    MessageBoxAnswer box(QMessageBox::Ok);
    control<QLineEdit>(*w, "Setmax")->end(false);
    type(control<QLineEdit>(*w, "Setmax"), u'-');
    EXPECT_EQ(box.text(), "'20000-' is not a valid integer value");
    EXPECT_EQ(box.icon(), QMessageBox::Critical);
    EXPECT_EQ(s.alarmHigh, 20000.0f);
}

TEST_F(RecordingWindow, MinMaxRestartOnAChange) {
    const auto& e = w->pipeline().evaluator();
    feed({volts(1, "01000"), volts(1, "01500"), volts(1, "01200")});
    EXPECT_EQ(e.MaxCount, 1500.0f);
    EXPECT_EQ(e.MinCount, 1200.0f);
    // The texts as the meter showed them, before the judgement tidies them.
    EXPECT_EQ(control<QLabel>(*w, "MaxText")->text(), dec("01.500"));
    EXPECT_EQ(control<QLabel>(*w, "MinText")->text(), dec("01.200"));
    feed(volts(2, "01300")); // another decimal point: a change, which enters neither
    EXPECT_EQ(e.MaxCount, -22000.0f);
    EXPECT_EQ(e.MinCount, 22000.0f);
    feed(volts(2, "01400"));
    EXPECT_EQ(e.MaxCount, 1400.0f);
    EXPECT_EQ(e.MinCount, 1400.0f);
    EXPECT_EQ(control<QLabel>(*w, "MaxText")->text(), dec("014.00"));
}

TEST_F(RecordingWindow, ChartRestartsOnAChangeAsContinueRecordSays) {
    auto ohms = [](int range) { return meterFrame(3, static_cast<std::uint8_t>(range), "01234", 0, 2); };
    const struct {
        const char* what;
        bool continueRecord;
        sim::MeterFrame frame;
        long long points; // after the frame; 2 is the placeholder and this frame
    } steps[] = {
        {"first frame", true, volts(1, "01000"), 2},
        {"same range", true, volts(1, "01001"), 3},
        {"other range", true, volts(2, "01001"), 4},
        {"other function", true, ohms(0), 2},
        {"other unit, same point", true, ohms(3), 3},
        {"AC", true, meterFrame(11, 1, "01000", 0, 6), 2},
        {"same", false, meterFrame(11, 1, "01001", 0, 6), 3},
        {"other range", false, meterFrame(11, 2, "01001", 0, 6), 2},
        {"other unit", false, meterFrame(11, 4, "01001", 0, 6), 2},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        control<QCheckBox>(*w, "multirange")->setChecked(s.continueRecord);
        feed(s.frame);
        EXPECT_EQ(points(), s.points);
    }

    // A change re-selects the series of the chart style, with or without a restart.
    control<QCheckBox>(*w, "BtFill")->setChecked(false);
    control<QCheckBox>(*w, "multirange")->setChecked(true);
    feed(meterFrame(11, 3, "01001", 0, 6));
    EXPECT_FALSE(w->chart().plot().series(0)->visible());
    EXPECT_TRUE(w->chart().plot().series(1)->visible());
}

TEST_F(RecordingWindow, GridShowsRecordedRowsWithTheNewestCurrent) {
    const QString tsep = localeTimeSeparator();
    const QString before = timeOfDayText(QTime::currentTime(), tsep);
    control<QLineEdit>(*w, "T1HI")->setText("100");
    feed({volts(1, "01234"), meterFrame(3, 3, "12340", 0, 2), meterFrame(4, 0, "00235", 0, 2),
          meterFrame(13, 0, "00500", 0, 6)});
    const QString after = timeOfDayText(QTime::currentTime(), tsep);
    w->recording().model().flush();
    ASSERT_EQ(w->recording().model().rowCount(), 4);
    const struct {
        const char* func;
        const char* value;
        QString unit;
        const char* judge;
    } rowsShown[] = {{"DC", "1.234", "V", "Pass"},
                     {"Ohm", "123.4", QStringLiteral("k\u03A9"), "Fail"},
                     {"Temperature", "235", QStringLiteral("\u00B0F"), "Fail"},
                     {"AC", "5", QStringLiteral("\u00B5A"), "Pass"}};
    auto shown = [&](int row, int column) {
        return w->recording().model().index(row, column).data().toString();
    };
    for (int r = 0; r < 4; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(shown(r, ReadingTableModel::ColNo), QString::number(r + 1));
        const QString time = shown(r, ReadingTableModel::ColTime);
        EXPECT_EQ(time.size(), 8);
        EXPECT_EQ(time.mid(2, 1), tsep);
        EXPECT_EQ(time.mid(5, 1), tsep);
        if (before <= after) { // not across midnight
            EXPECT_TRUE(before <= time && time <= after) << time.toStdString();
        }
        EXPECT_EQ(shown(r, ReadingTableModel::ColFunction), rowsShown[r].func);
        EXPECT_EQ(shown(r, ReadingTableModel::ColValue), dec(rowsShown[r].value));
        EXPECT_EQ(shown(r, ReadingTableModel::ColUnit), rowsShown[r].unit);
        EXPECT_EQ(shown(r, ReadingTableModel::ColJudge), rowsShown[r].judge);
    }
    EXPECT_EQ(cell(1, ReadingTable::Unit), "K*"); // stored in the panel font's characters
    EXPECT_EQ(control<QTableView>(*w, "DBGrid1")->currentIndex().row(), 3);

    // Without a flush the rows still arrive, shortly.
    feed(volts(1, "01000"), 2);
    EXPECT_TRUE(voltaro::testing::waitUntil([&] { return w->recording().model().rowCount() == 6; }));
    EXPECT_EQ(control<QTableView>(*w, "DBGrid1")->currentIndex().row(), 5);

    // After a quiet spell a row shows at once; the next, right behind it,
    // waits for the batch.
    ASSERT_TRUE(voltaro::testing::runTicks(100, 6));
    feed(volts(1, "01000"));
    EXPECT_EQ(w->recording().model().rowCount(), 7);
    feed(volts(1, "01000"));
    EXPECT_EQ(w->recording().model().rowCount(), 7);
    EXPECT_TRUE(voltaro::testing::waitUntil([&] { return w->recording().model().rowCount() == 8; }));
}
