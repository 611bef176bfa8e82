// The chart's toolbar, menu, enlarge/restore, page width and picture saving,
// driven through the real window.
#include "app/ClickPanel.h"
#include "app/TFCOMM.h"
#include "chart/PlotSurface.h"
#include "chart/TChartControl.h"
#include "decode/LcdPanel.h"
#include "support/WindowTestSupport.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

using namespace voltaro;
using voltaro::testing::answerFileDialog;
using voltaro::testing::answerMessageBox;

namespace {

class ChartView : public ::testing::Test {
protected:
    void SetUp() override {
        w = std::make_unique<TFCOMM>();
        w->show();
    }
    QAction* graphicItem(const QString& text) const {
        for (QAction* menu : w->menuBar()->actions())
            if (menu->text() == "Graphic")
                for (QAction* a : menu->menu()->actions())
                    if (a->text() == text)
                        return a;
        return nullptr;
    }
    bool areaShown() const {
        return w->ChartPlot->series(0)->visible() && !w->ChartPlot->series(1)->visible();
    }
    bool lineShown() const {
        return !w->ChartPlot->series(0)->visible() && w->ChartPlot->series(1)->visible();
    }
    void addPoints(int n) {
        for (int i = 0; i < n; ++i)
            w->ChartControl->AddPoint(i % 50);
    }
    void type(QWidget* target, const QString& text) {
        for (QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(target, &press);
        }
    }
    QCPRange xRange() const { return w->ChartPlot->plot()->xAxis->range(); }

    std::unique_ptr<TFCOMM> w;
};

} // namespace

TEST_F(ChartView, FillChoosesTheSeriesFromButtonAndMenu) {
    EXPECT_TRUE(areaShown());
    QAction* fill = graphicItem("Fill");
    ASSERT_NE(fill, nullptr);
    w->BtFill->click();
    EXPECT_TRUE(lineShown());
    EXPECT_FALSE(fill->isChecked());
    fill->trigger();
    EXPECT_TRUE(areaShown());
    EXPECT_TRUE(w->BtFill->isChecked());
    EXPECT_TRUE(fill->isChecked());
    fill->trigger();
    EXPECT_TRUE(lineShown());
    EXPECT_FALSE(w->BtFill->isChecked());
    // "Repeat" and "Continue Record" re-apply the style the check box says.
    w->RepeatSet->click();
    EXPECT_TRUE(lineShown());
    w->BtFill->click();
    w->multirange->click();
    EXPECT_TRUE(areaShown());
}

TEST_F(ChartView, NewLeavesOnePlaceholderAndKeepsThePage) {
    addPoints(250);
    w->BTPrevious->click();
    EXPECT_EQ(w->Bt10->text(), "2");
    const QCPRange before = xRange();
    graphicItem("New")->trigger();
    EXPECT_EQ(w->ChartPlot->points().size(), 1);
    EXPECT_EQ(w->ChartPlot->series(0)->data()->size(), 1);
    EXPECT_EQ(w->ChartPlot->series(1)->data()->size(), 1);
    EXPECT_EQ(w->Bt10->text(), "2");
    EXPECT_EQ(xRange(), before);
    // The next real point lands at position 1.
    w->ChartControl->AddPoint(7);
    EXPECT_EQ(w->ChartPlot->points().at(1)->key, 1.0);
    w->BtNew->click();
    EXPECT_EQ(w->ChartPlot->points().size(), 1);
}

TEST_F(ChartView, PagingFromButtonsAndMenuShowsThePageNumber) {
    addPoints(250); // pages of 100: following on page 3, range [201, 300]
    EXPECT_EQ(xRange(), QCPRange(201, 300));
    w->BtFirst->click();
    EXPECT_EQ(w->Bt10->text(), "1");
    EXPECT_EQ(xRange(), QCPRange(1, 100));
    graphicItem("Next")->trigger();
    EXPECT_EQ(w->Bt10->text(), "2");
    graphicItem("Last")->trigger();
    EXPECT_EQ(w->Bt10->text(), "3");
    EXPECT_EQ(xRange(), QCPRange(201, 300));
    graphicItem("Previous")->trigger();
    EXPECT_EQ(w->Bt10->text(), "2");
    graphicItem("First")->trigger();
    EXPECT_EQ(w->Bt10->text(), "1");
    w->BtNext->click();
    w->BTlast->click();
    EXPECT_EQ(w->Bt10->text(), "3");
    EXPECT_FALSE(w->ChartControl->Browsing);
}

TEST_F(ChartView, EnlargeAndRestoreReturnTheChartExactly) {
    const QRect chart = w->Chtshow->geometry();
    const QPoint bar = w->Panel5->pos();
    emit w->TbFd->clicked();
    EXPECT_TRUE(w->Panel1->isHidden());
    EXPECT_TRUE(w->Panel6->isHidden());
    EXPECT_TRUE(w->TbFd->isHidden());
    EXPECT_FALSE(w->TbSx->isHidden());
    EXPECT_EQ(w->Panel5->pos(), QPoint(2, 2));
    const QRect outer = w->frameGeometry();
    EXPECT_EQ(w->Chtshow->geometry(), QRect(2, 28, outer.width() - 12, outer.height() - 85));
    emit w->TbSx->clicked();
    EXPECT_EQ(w->Chtshow->geometry(), chart);
    EXPECT_EQ(w->Panel5->pos(), bar);
    EXPECT_FALSE(w->Panel1->isHidden());
    EXPECT_FALSE(w->Panel6->isHidden());
    EXPECT_TRUE(w->TbSx->isHidden());
    EXPECT_FALSE(w->TbFd->isHidden());
}

TEST_F(ChartView, PageWidthFollowsTheEditTwoSecondsAfterTheLastKey) {
    addPoints(230);
    w->Maxrecord->setFocus();
    w->Maxrecord->selectAll();
    type(w->Maxrecord, "5");
    EXPECT_TRUE(w->Timer2->isActive());
    EXPECT_EQ(w->Timer2->interval(), 2000);
    EXPECT_EQ(w->ChartControl->WindowSize, 100); // nothing yet
    voltaro::testing::processUntil([] { return false; }, 300);
    const int leftBefore = w->Timer2->remainingTime();
    type(w->Maxrecord, "x0"); // letters never reach the edit
    EXPECT_EQ(w->Maxrecord->text(), "50");
    EXPECT_GT(w->Timer2->remainingTime(), leftBefore); // the further digit restarted the wait
    ASSERT_TRUE(voltaro::testing::processUntil([&] { return !w->Timer2->isActive(); }, 3000));
    EXPECT_EQ(w->ChartControl->WindowSize, 50);
    EXPECT_EQ(w->Bt10->text(), "5"); // the newest page of 230 points
    EXPECT_EQ(xRange(), QCPRange(201, 250));
}

TEST_F(ChartView, PageWidthOfZeroOrNothingIsRefused) {
    w->Maxrecord->setText("0");
    w->Timer2Timer();
    EXPECT_EQ(w->ChartControl->WindowSize, 100);
    EXPECT_EQ(w->Maxrecord->text(), "100");
    EXPECT_FALSE(w->Timer2->isActive()); // showing the old width again starts no new wait

    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    answerMessageBox(QMessageBox::Ok, &text, &icon);
    w->Maxrecord->setText("");
    w->Timer2Timer();
    EXPECT_EQ(text, "'' is not a valid integer value");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(w->ChartControl->WindowSize, 100);
    EXPECT_FALSE(w->Timer2->isActive());
}

TEST_F(ChartView, SavesTheChartAsABitmap) {
    addPoints(120);
    QTemporaryDir dir;
    const QString asked = dir.filePath("trend.png");
    QString text;
    answerFileDialog(asked);
    answerMessageBox(QMessageBox::Ok, &text);
    w->BtSave->click();
    const QString written = dir.filePath("trend.bmp");
    EXPECT_EQ(text, "Graphic has been saved successfully at the following location: " + written);
    EXPECT_FALSE(QFile::exists(asked));
    QImage image(written);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), w->Chtshow->size());
    // Not blank: the picture holds the chart's many colours.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 10);
}

TEST_F(ChartView, AFailedPictureSaveIsReportedAndNotCalledASuccess) {
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    // A folder that does not exist: nothing can be written there.
    QTemporaryDir dir;
    answerFileDialog(dir.filePath("missing/trend.bmp"));
    answerMessageBox(QMessageBox::Ok, &text, &icon);
    w->BtSave->click();
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_TRUE(text.contains("Could not save")) << text.toStdString();
    EXPECT_FALSE(text.contains("successfully"));
}

TEST_F(ChartView, CancellingThePictureDialogDoesNothing) {
    QString text;
    answerFileDialog(QString());
    w->BtSave->click();
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}
