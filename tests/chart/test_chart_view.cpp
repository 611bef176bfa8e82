// The chart's toolbar, menu, enlarge/restore, page width and picture saving,
// driven through the real window.
#include "core/chart/TChartControl.h"
#include "support/WindowTestSupport.h"
#include "widgets/app/TFCOMM.h"
#include "widgets/chart/PlotSurface.h"
#include "widgets/lcd/LcdPanel.h"
#include "widgets/ui/ClickPanel.h"

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
using voltaro::testing::control;
using voltaro::testing::FileDialogAnswer;
using voltaro::testing::MessageBoxAnswer;

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
        return w->chart().plot().series(0)->visible() && !w->chart().plot().series(1)->visible();
    }
    bool lineShown() const {
        return !w->chart().plot().series(0)->visible() && w->chart().plot().series(1)->visible();
    }
    void addPoints(int n) {
        for (int i = 0; i < n; ++i)
            w->chart().control().AddPoint(i % 50);
    }
    void type(QWidget* target, const QString& text) {
        for (QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(target, &press);
        }
    }
    QCPRange xRange() const { return w->chart().plot().plot()->xAxis->range(); }

    std::unique_ptr<TFCOMM> w;
};

} // namespace

TEST_F(ChartView, FillChoosesTheSeriesFromButtonAndMenu) {
    EXPECT_TRUE(areaShown());
    QAction* fill = graphicItem("Fill");
    ASSERT_NE(fill, nullptr);
    control<QCheckBox>(*w, "BtFill")->click();
    EXPECT_TRUE(lineShown());
    EXPECT_FALSE(fill->isChecked());
    fill->trigger();
    EXPECT_TRUE(areaShown());
    EXPECT_TRUE(control<QCheckBox>(*w, "BtFill")->isChecked());
    EXPECT_TRUE(fill->isChecked());
    fill->trigger();
    EXPECT_TRUE(lineShown());
    EXPECT_FALSE(control<QCheckBox>(*w, "BtFill")->isChecked());
    // "Repeat" and "Continue Record" re-apply the style the check box says.
    control<QCheckBox>(*w, "RepeatSet")->click();
    EXPECT_TRUE(lineShown());
    control<QCheckBox>(*w, "BtFill")->click();
    control<QCheckBox>(*w, "multirange")->click();
    EXPECT_TRUE(areaShown());
}

TEST_F(ChartView, NewLeavesOnePlaceholderAndKeepsThePage) {
    addPoints(250);
    control<QToolButton>(*w, "BTPrevious")->click();
    EXPECT_EQ(control<QToolButton>(*w, "Bt10")->text(), "2");
    const QCPRange before = xRange();
    graphicItem("New")->trigger();
    EXPECT_EQ(w->chart().plot().points().size(), 1);
    EXPECT_EQ(w->chart().plot().series(0)->data()->size(), 1);
    EXPECT_EQ(w->chart().plot().series(1)->data()->size(), 1);
    EXPECT_EQ(control<QToolButton>(*w, "Bt10")->text(), "2");
    EXPECT_EQ(xRange(), before);
    // The next real point lands at position 1.
    w->chart().control().AddPoint(7);
    EXPECT_EQ(w->chart().plot().points().at(1)->key, 1.0);
    control<QToolButton>(*w, "BtNew")->click();
    EXPECT_EQ(w->chart().plot().points().size(), 1);
}

TEST_F(ChartView, PagingFromButtonsAndMenuShowsThePageNumber) {
    addPoints(250); // pages of 100: following on page 3, range [201, 300]
    EXPECT_EQ(xRange(), QCPRange(201, 300));
    control<QToolButton>(*w, "BtFirst")->click();
    EXPECT_EQ(control<QToolButton>(*w, "Bt10")->text(), "1");
    EXPECT_EQ(xRange(), QCPRange(1, 100));
    graphicItem("Next")->trigger();
    EXPECT_EQ(control<QToolButton>(*w, "Bt10")->text(), "2");
    graphicItem("Last")->trigger();
    EXPECT_EQ(control<QToolButton>(*w, "Bt10")->text(), "3");
    EXPECT_EQ(xRange(), QCPRange(201, 300));
    graphicItem("Previous")->trigger();
    EXPECT_EQ(control<QToolButton>(*w, "Bt10")->text(), "2");
    graphicItem("First")->trigger();
    EXPECT_EQ(control<QToolButton>(*w, "Bt10")->text(), "1");
    control<QToolButton>(*w, "BtNext")->click();
    control<QToolButton>(*w, "BTlast")->click();
    EXPECT_EQ(control<QToolButton>(*w, "Bt10")->text(), "3");
    EXPECT_FALSE(w->chart().control().Browsing);
}

TEST_F(ChartView, EnlargeAndRestoreReturnTheChartExactly) {
    // Places in the client area, where the stored layout gives them.
    auto inClient = [&](const char* name) {
        auto* c = control<QWidget>(*w, name);
        return QRect(c->mapTo(w->centralWidget(), QPoint(0, 0)), c->size());
    };
    const QRect chart = inClient("Chtshow");
    const QPoint bar = inClient("Panel5").topLeft();
    EXPECT_EQ(chart, QRect(336, 204, 376, 269));
    emit control<ClickImage>(*w, "TbFd")->clicked();
    EXPECT_TRUE(control<LcdPanel>(*w, "Panel1")->isHidden());
    EXPECT_TRUE(control<QFrame>(*w, "Panel6")->isHidden());
    EXPECT_TRUE(control<ClickImage>(*w, "TbFd")->isHidden());
    EXPECT_FALSE(control<ClickImage>(*w, "TbSx")->isHidden());
    EXPECT_EQ(inClient("Panel5").topLeft(), QPoint(2, 2));
    const QRect outer = w->frameGeometry();
    EXPECT_EQ(inClient("Chtshow"), QRect(2, 28, outer.width() - 12, outer.height() - 85));
    emit control<ClickImage>(*w, "TbSx")->clicked();
    EXPECT_EQ(inClient("Chtshow"), chart);
    EXPECT_EQ(inClient("Panel5").topLeft(), bar);
    EXPECT_FALSE(control<LcdPanel>(*w, "Panel1")->isHidden());
    EXPECT_FALSE(control<QFrame>(*w, "Panel6")->isHidden());
    EXPECT_TRUE(control<ClickImage>(*w, "TbSx")->isHidden());
    EXPECT_FALSE(control<ClickImage>(*w, "TbFd")->isHidden());
}

TEST_F(ChartView, PageWidthFollowsTheEditTwoSecondsAfterTheLastKey) {
    addPoints(230);
    control<QLineEdit>(*w, "Maxrecord")->setFocus();
    control<QLineEdit>(*w, "Maxrecord")->selectAll();
    type(control<QLineEdit>(*w, "Maxrecord"), "5");
    EXPECT_TRUE(control<QTimer>(*w, "Timer2")->isActive());
    EXPECT_EQ(control<QTimer>(*w, "Timer2")->interval(), 2000);
    EXPECT_EQ(w->chart().control().WindowSize, 100); // nothing yet
    ASSERT_TRUE(
        voltaro::testing::waitUntil([&] { return control<QTimer>(*w, "Timer2")->remainingTime() < 1800; }));
    const int leftBefore = control<QTimer>(*w, "Timer2")->remainingTime();
    type(control<QLineEdit>(*w, "Maxrecord"), "x0"); // letters never reach the edit
    EXPECT_EQ(control<QLineEdit>(*w, "Maxrecord")->text(), "50");
    EXPECT_GT(control<QTimer>(*w, "Timer2")->remainingTime(),
              leftBefore); // the further digit restarted the wait
    ASSERT_TRUE(
        voltaro::testing::waitUntil([&] { return !control<QTimer>(*w, "Timer2")->isActive(); }, 3000));
    EXPECT_EQ(w->chart().control().WindowSize, 50);
    EXPECT_EQ(control<QToolButton>(*w, "Bt10")->text(), "5"); // the newest page of 230 points
    EXPECT_EQ(xRange(), QCPRange(201, 250));
}

TEST_F(ChartView, PageWidthOfZeroOrNothingIsRefused) {
    control<QLineEdit>(*w, "Maxrecord")->setText("0");
    w->chart().Timer2Timer();
    EXPECT_EQ(w->chart().control().WindowSize, 100);
    EXPECT_EQ(control<QLineEdit>(*w, "Maxrecord")->text(), "100");
    EXPECT_FALSE(control<QTimer>(*w, "Timer2")->isActive()); // showing the old width again starts no new wait

    MessageBoxAnswer box(QMessageBox::Ok);
    control<QLineEdit>(*w, "Maxrecord")->setText("");
    w->chart().Timer2Timer();
    EXPECT_EQ(box.text(), "'' is not a valid integer value");
    EXPECT_EQ(box.icon(), QMessageBox::Critical);
    EXPECT_EQ(w->chart().control().WindowSize, 100);
    EXPECT_FALSE(control<QTimer>(*w, "Timer2")->isActive());
}

TEST_F(ChartView, SavesTheChartAsABitmap) {
    addPoints(120);
    QTemporaryDir dir;
    const QString asked = dir.filePath("trend.png");
    FileDialogAnswer file(asked);
    MessageBoxAnswer box(QMessageBox::Ok);
    control<QToolButton>(*w, "BtSave")->click();
    const QString written = dir.filePath("trend.bmp");
    EXPECT_EQ(box.text(), "Graphic has been saved successfully at the following location: " + written);
    EXPECT_FALSE(QFile::exists(asked));
    QImage image(written);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), control<QWidget>(*w, "Chtshow")->size());
    // Not blank: the picture holds the chart's many colours.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 10);
}

TEST_F(ChartView, AFailedPictureSaveIsReportedAndNotCalledASuccess) {
    // A folder that does not exist: nothing can be written there.
    QTemporaryDir dir;
    FileDialogAnswer file(dir.filePath("missing/trend.bmp"));
    MessageBoxAnswer box(QMessageBox::Ok);
    control<QToolButton>(*w, "BtSave")->click();
    EXPECT_EQ(box.icon(), QMessageBox::Critical);
    EXPECT_TRUE(box.text().contains("Could not save")) << box.text().toStdString();
    EXPECT_FALSE(box.text().contains("successfully"));
}

TEST_F(ChartView, CancellingThePictureDialogDoesNothing) {
    FileDialogAnswer cancel{QString()};
    MessageBoxAnswer box(QMessageBox::Ok, voltaro::testing::Expect::Optional);
    control<QToolButton>(*w, "BtSave")->click();
    EXPECT_EQ(cancel.answered(), 1);
    EXPECT_EQ(box.answered(), 0);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}
