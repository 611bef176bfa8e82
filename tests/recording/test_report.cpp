// The printed report, read back from the PDF it makes: texts, their order and
// places, pages and their headings and footers, and the preview on the window.
#include "core/recording/ReadingTable.h"
#include "widgets/app/TFCOMM.h"
#include "widgets/recording/ReportPainter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPageLayout>
#include <QPdfWriter>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QProcess>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace voltaro;

namespace {

constexpr qreal kA4PrintableHeight = 297.0 - 20.0;
constexpr qreal kMmPerPoint = 25.4 / 72.0;

struct Row {
    int no;
    const char* time;
    const char* function;
    const char* value;
    const char* unit;
    const char* judge;
};

void append(ReadingTable& t, const Row& r) {
    const auto row = t.appendRow();
    t.setInt(row, ReadingTable::No, r.no);
    t.setText(row, ReadingTable::Time, QString::fromUtf8(r.time));
    t.setText(row, ReadingTable::Function, QString::fromUtf8(r.function));
    t.setText(row, ReadingTable::Value, QString::fromUtf8(r.value));
    t.setText(row, ReadingTable::Unit, QString::fromUtf8(r.unit));
    t.setText(row, ReadingTable::Judge, QString::fromUtf8(r.judge));
    t.setInt(row, ReadingTable::NVal, 4242);
}

// Rows numbered from 1, each with its own time and value, so every line of
// the report can be told apart.
void fill(ReadingTable& t, int rows) {
    for (int i = 1; i <= rows; ++i) {
        const auto row = t.appendRow();
        t.setInt(row, ReadingTable::No, i);
        t.setText(row, ReadingTable::Time,
                  QStringLiteral("10:%1:%2")
                      .arg(i / 60, 2, 10, QLatin1Char('0'))
                      .arg(i % 60, 2, 10, QLatin1Char('0')));
        t.setText(row, ReadingTable::Function, QStringLiteral("DC"));
        t.setText(row, ReadingTable::Value, QStringLiteral("%1.250").arg(i));
        t.setText(row, ReadingTable::Unit, QStringLiteral("V"));
        t.setText(row, ReadingTable::Judge, QStringLiteral("Pass"));
        t.setInt(row, ReadingTable::NVal, 77777);
    }
}

class Report : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        pdf = dir.filePath(QStringLiteral("report.pdf"));
    }

    // Paints the report into a PDF laid out as the preview's printer is.
    bool render(const ReadingTable& t) {
        QPdfWriter writer(pdf);
        writer.setResolution(300);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
        return report::paint(t, writer);
    }

    static QString run(const QString& program, const QStringList& args) {
        QProcess p;
        p.start(program, args);
        EXPECT_TRUE(p.waitForFinished(30000)) << program.toStdString();
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    // The text of each page, laid out as on paper.
    QStringList pages() const {
        QStringList out =
            run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")})
                .split(QLatin1Char('\f'));
        // pdftotext ends the last page with a form feed as well.
        if (!out.isEmpty() && out.last().trimmed().isEmpty())
            out.removeLast();
        return out;
    }

    // The page's non-blank lines with runs of spaces made one, in UTF-8 so
    // that failures print readably.
    static std::vector<std::string> lines(const QString& page) {
        std::vector<std::string> out;
        for (const QString& l : page.split(QLatin1Char('\n')))
            if (!l.trimmed().isEmpty())
                out.push_back(l.simplified().toStdString());
        return out;
    }

    struct Word {
        QString text;
        qreal left; // millimetres from the paper's left edge
        qreal top;  // millimetres from the paper's top edge
    };
    // Every word of the first page with its box.
    QList<Word> words() const {
        const QString html = run(QStringLiteral("pdftotext"),
                                 {QStringLiteral("-bbox"), QStringLiteral("-f"), QStringLiteral("1"),
                                  QStringLiteral("-l"), QStringLiteral("1"), pdf, QStringLiteral("-")});
        static const QRegularExpression word(QStringLiteral(
            R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="[\d.]+" yMax="[\d.]+">([^<]*)</word>)re"));
        QList<Word> out;
        for (auto it = word.globalMatch(html); it.hasNext();) {
            const auto m = it.next();
            out.append({m.captured(3), m.captured(1).toDouble() * kMmPerPoint,
                        m.captured(2).toDouble() * kMmPerPoint});
        }
        return out;
    }
    static const Word* find(const QList<Word>& ws, const QString& text) {
        for (const Word& w : ws)
            if (w.text == text)
                return &w;
        return nullptr;
    }

    QTemporaryDir dir;
    QString pdf;
};

} // namespace

TEST(ReportPages, ThirtyFiveLinesFitOnAnA4Page) {
    // 277 mm less the three 13.2 mm bands leaves 237.4 mm: 35 lines of 6.6 mm.
    EXPECT_EQ(report::rowsPerPage(kA4PrintableHeight), 35);
    EXPECT_EQ(report::pageCount(0, kA4PrintableHeight), 0);
    EXPECT_EQ(report::pageCount(1, kA4PrintableHeight), 1);
    EXPECT_EQ(report::pageCount(35, kA4PrintableHeight), 1);
    EXPECT_EQ(report::pageCount(36, kA4PrintableHeight), 2);
    EXPECT_EQ(report::pageCount(100, kA4PrintableHeight), 3);
    // A band that fits exactly stays on the page: 39.6 + 2 * 6.6 mm holds two lines.
    EXPECT_EQ(report::rowsPerPage(39.6 + 13.2), 2);
    // A page too short for any line still takes one, so printing ends.
    EXPECT_EQ(report::rowsPerPage(30.0), 1);
}

TEST_F(Report, ThirtyRowsMakeOnePageWithTitleHeadingsLinesAndFooter) {
    ReadingTable t;
    fill(t, 30);
    ASSERT_TRUE(render(t));
    const QStringList ps = pages();
    ASSERT_EQ(ps.size(), 1);
    const std::vector<std::string> ls = lines(ps[0]);
    ASSERT_EQ(ls.size(), 1u + 1u + 30u + 1u) << ps[0].toStdString();
    EXPECT_EQ(ls[0], "Data Report");
    EXPECT_EQ(ls[1], "No Time Function Value Unit Judge");
    for (int i = 1; i <= 30; ++i) {
        const QString expected = QStringLiteral("%1 %2 DC %3 V Pass")
                                     .arg(i)
                                     .arg(t.text(i - 1, ReadingTable::Time))
                                     .arg(t.text(i - 1, ReadingTable::Value));
        EXPECT_EQ(ls[1 + i], expected.toStdString());
    }
    EXPECT_EQ(ls.back(), "Test Data");
    // The count is not printed.
    EXPECT_FALSE(ps[0].contains(QStringLiteral("77777")));
}

TEST_F(Report, TextsStandAtTheirPlacesOnThePaper) {
    ReadingTable t;
    append(t, {7, "12:34:56", "AC", "1.234", "V", "Fail"});
    append(t, {8, "12:34:57", "AC", "2.345", "V", "Pass"});
    ASSERT_TRUE(render(t));
    const QList<Word> ws = words();

    // Left edges: the 10 mm margin plus the place within the band.
    const struct {
        const char* text;
        qreal left;
    } at[] = {{"No", 8.5},     {"Time", 33.9},   {"Function", 64.3}, {"Value", 99.5},
              {"Unit", 132.3}, {"Judge", 163.0}, {"7", 8.5},         {"12:34:56", 33.9},
              {"1.234", 99.5}, {"Fail", 163.0},  {"Test", 8.5}};
    for (const auto& a : at) {
        const Word* w = find(ws, QString::fromUtf8(a.text));
        ASSERT_NE(w, nullptr) << a.text;
        EXPECT_NEAR(w->left, 10.0 + a.left, 0.5) << a.text;
    }
    const Word* fn = find(ws, QStringLiteral("AC"));
    ASSERT_NE(fn, nullptr);
    EXPECT_NEAR(fn->left, 10.0 + 65.6, 0.5);
    const Word* unit = find(ws, QStringLiteral("V"));
    ASSERT_NE(unit, nullptr);
    EXPECT_NEAR(unit->left, 10.0 + 131.2, 0.5);

    // The title is centred across the 190 mm band.
    const Word* data = find(ws, QStringLiteral("Data"));
    const Word* rep = find(ws, QStringLiteral("Report"));
    ASSERT_NE(data, nullptr);
    ASSERT_NE(rep, nullptr);
    EXPECT_GT(data->left, 10.0 + 80.0);
    EXPECT_LT(data->left, 10.0 + 95.0);

    // Tops, from band to band: title, headings, the two lines 6.6 mm apart,
    // and the footer in the last 13.2 mm above the bottom margin. The word
    // boxes start a little above the text's top, so only the steps are exact.
    const Word* first = find(ws, QStringLiteral("7"));
    const Word* second = find(ws, QStringLiteral("8"));
    const Word* heading = find(ws, QStringLiteral("No"));
    const Word* footer = find(ws, QStringLiteral("Test"));
    ASSERT_TRUE(first && second && heading && footer);
    const qreal lift = data->top - (10.0 + 2.1);
    EXPECT_NEAR(lift, 0.0, 1.0);
    EXPECT_NEAR(heading->top - lift, 10.0 + 13.2 + 4.2, 0.2);
    EXPECT_NEAR(first->top - lift, 10.0 + 26.4 + 2.1, 0.2);
    EXPECT_NEAR(second->top - first->top, 6.6, 0.1);
    EXPECT_NEAR(footer->top - lift, 297.0 - 10.0 - 13.2 + 4.2, 0.2);
}

TEST_F(Report, HundredRowsTakeThreePagesEachWithHeadingAndFooter) {
    ReadingTable t;
    fill(t, 100);
    ASSERT_TRUE(render(t));
    const QStringList ps = pages();
    ASSERT_EQ(ps.size(), report::pageCount(100, kA4PrintableHeight));
    ASSERT_EQ(ps.size(), 3);

    int next = 1;
    for (int p = 0; p < ps.size(); ++p) {
        const std::vector<std::string> ls = lines(ps[p]);
        EXPECT_EQ(ps[p].count(QStringLiteral("Data Report")), 1) << "page " << p + 1;
        EXPECT_EQ(ps[p].count(QStringLiteral("Test Data")), 1) << "page " << p + 1;
        ASSERT_GE(ls.size(), 3u);
        EXPECT_EQ(ls.front(), "Data Report");
        EXPECT_EQ(ls[1], "No Time Function Value Unit Judge");
        EXPECT_EQ(ls.back(), "Test Data");
        // Detail lines carry on from the previous page, in order.
        for (std::size_t i = 2; i + 1 < ls.size(); ++i, ++next)
            EXPECT_EQ(ls[i].substr(0, ls[i].find(' ')), std::to_string(next));
        const std::size_t expectedLines = p < 2 ? 35 : 30;
        EXPECT_EQ(ls.size() - 3, expectedLines) << "page " << p + 1;
    }
    EXPECT_EQ(next, 101);
}

TEST_F(Report, EmptyTableMakesNoPages) {
    ReadingTable t;
    EXPECT_FALSE(render(t));
    // The writer was never begun, so not even an empty document exists.
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_EQ(report::pageCount(t.rowCount(), kA4PrintableHeight), 0);
}

TEST_F(Report, UnitsPrintAsSymbols) {
    ReadingTable t;
    append(t, {1, "09:00:00", "DC", "12.34", "*", "Pass"});
    append(t, {2, "09:00:01", "DC", "1.234", "K*", "Pass"});
    append(t, {3, "09:00:02", "DC", "4.700", "uF", "Pass"});
    append(t, {4, "09:00:03", "", "23.0", "#", "Pass"});
    ASSERT_TRUE(render(t));
    const std::vector<std::string> ls = lines(pages().value(0));
    ASSERT_EQ(ls.size(), 2u + 4u + 1u);
    EXPECT_EQ(ls[2], "1 09:00:00 DC 12.34 \u03A9 Pass");
    EXPECT_EQ(ls[3], "2 09:00:01 DC 1.234 k\u03A9 Pass");
    EXPECT_EQ(ls[4], "3 09:00:02 DC 4.700 \u00B5F Pass");
    EXPECT_EQ(ls[5], "4 09:00:03 23.0 \u00B0C Pass");
}

namespace {

// Runs BtPrintClick and reports what it showed: the question asked first
// (answered with `answer`), whether a progress bar ran (cancelled when
// `cancelProgress`), and the preview with its pages (then closed).
struct PreviewSeen {
    QString question;
    bool progress = false;
    bool dialog = false;
    int pages = -1;
    bool closedByWatcher = false;
};

PreviewSeen clickPrint(TFCOMM& w, QMessageBox::StandardButton answer = QMessageBox::Yes,
                       bool cancelProgress = false) {
    PreviewSeen seen;
    QElapsedTimer clock;
    clock.start();
    QPointer<QTimer> poll = new QTimer(qApp);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [&]() {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* bar = qobject_cast<QProgressDialog*>(top);
            if (bar && bar->isVisible()) {
                seen.progress = true;
                if (cancelProgress)
                    bar->cancel();
            }
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen.question = box->text();
            box->button(answer)->click();
            return;
        }
        auto* preview = qobject_cast<QPrintPreviewDialog*>(modal);
        if (!preview)
            return;
        seen.dialog = true;
        if (auto* view = preview->findChild<QPrintPreviewWidget*>())
            seen.pages = view->pageCount();
        // A cancelled bar should close the preview by itself; it is closed
        // here only if it has not after a while.
        if (!cancelProgress || clock.elapsed() > 3000) {
            seen.closedByWatcher = true;
            preview->reject();
        }
    });
    poll->start();
    w.recording().BtPrintClick();
    // The watcher ends with the click, so it can never answer a later test.
    delete poll.data();
    return seen;
}

} // namespace

TEST(ReportPreview, PrintButtonOpensThePreviewWithTheReport) {
    TFCOMM w;
    w.show();
    fill(w.recording().table(), 40);
    const PreviewSeen seen = clickPrint(w);
    EXPECT_TRUE(seen.dialog);
    EXPECT_EQ(seen.pages, 2);
}

TEST(ReportPreview, EmptyTableOpensThePreviewWithoutPages) {
    TFCOMM w;
    w.show();
    const PreviewSeen seen = clickPrint(w);
    EXPECT_TRUE(seen.dialog);
    EXPECT_EQ(seen.pages, 0);
}

TEST(ReportPreview, LongReportShowsProgressAndCanBeCancelled) {
    TFCOMM w;
    w.show();
    fill(w.recording().table(), 35 * 300);
    const PreviewSeen shown = clickPrint(w);
    EXPECT_TRUE(shown.question.isEmpty());
    EXPECT_TRUE(shown.progress);
    EXPECT_EQ(shown.pages, 300);

    // Cancelling the bar closes the preview: clicking Print returns.
    const PreviewSeen cancelled = clickPrint(w, QMessageBox::Yes, true);
    EXPECT_TRUE(cancelled.progress);
    EXPECT_FALSE(cancelled.closedByWatcher);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(ReportPreview, HugeReportIsOnlyPreparedWhenTheUserSaysSo) {
    TFCOMM w;
    w.show();
    fill(w.recording().table(), 35 * 2000 + 1);
    const PreviewSeen declined = clickPrint(w, QMessageBox::No);
    EXPECT_EQ(declined.question.toStdString(),
              "The report runs to 2001 pages. Preparing its preview takes a while and much memory. "
              "Prepare it anyway?");
    EXPECT_FALSE(declined.progress);
    EXPECT_FALSE(declined.dialog);
}
