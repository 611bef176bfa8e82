// The main window driven by meter frames and by the user's ways out.
#include "support/WindowTestSupport.h"
#include "widgets/app/TFCOMM.h"
#include "widgets/lcd/LcdPanel.h"
#include "widgets/recording/JudgeLamp.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>

using namespace voltaro;
using voltaro::testing::MessageBoxAnswer;
using voltaro::testing::meterFrame;
using E = LcdElement;

namespace {

class WindowFrames : public ::testing::Test {
protected:
    void SetUp() override {
        w = std::make_unique<TFCOMM>();
        w->show();
        lcd = w->findChild<LcdPanel*>("Panel1");
        ASSERT_NE(lcd, nullptr);
        feeder = std::make_unique<voltaro::testing::SerialFeeder>(*w);
    }

    void feed(const std::vector<sim::MeterFrame>& frames) { (*feeder)(frames); }

    QString shownDigits() const {
        QString s;
        for (int i = 0; i < 5; ++i) {
            static const E labels[] = {E::LcdD0, E::LcdDa, E::LcdDb, E::LcdDc, E::LcdDd};
            s += lcd->isLit(labels[i]) ? (lcd->digitText(i).isEmpty() ? QString("_") : lcd->digitText(i))
                                       : QString(" ");
        }
        return s;
    }

    std::unique_ptr<TFCOMM> w;
    std::unique_ptr<voltaro::testing::SerialFeeder> feeder;
    LcdPanel* lcd = nullptr;
};

} // namespace

TEST_F(WindowFrames, PanelFollowsEachFrame) {
    struct Case {
        const char* what;
        sim::MeterFrame frame;
        const char* digits; // what the panel shows: blank for a dark digit, _ for an empty one
        std::vector<E> lit;
        std::vector<E> out;
        int bar;
    };
    auto withOption = [](sim::MeterFrame f, int opt1, int opt2, int opt4) {
        f.option1 = static_cast<std::uint8_t>(opt1);
        f.option2 = static_cast<std::uint8_t>(opt2);
        f.option4 = static_cast<std::uint8_t>(opt4);
        return f;
    };
    const Case cases[] = {
        {"blanking before the point",
         meterFrame(11, 3, "00012"),
         "   12",
         {E::LcdV, E::LcdP3, E::LcdDc1},
         {},
         1},
        {"volt range 1", meterFrame(11, 1, "01234"), " 1234", {E::LcdP1}, {E::LcdP3}, 1},
        {"minus sign", meterFrame(11, 2, "21999", 4), "21999", {E::LcdFH, E::LcdP2}, {E::LcdP1}, 21},
        {"overload", meterFrame(11, 1, "00000", 1), "_0@__", {E::LcdP1, E::LcdDa, E::LcdDb}, {E::LcdFH}, 22},
        {"low battery", meterFrame(11, 0, "01234", 2), "01234", {E::LCDBATT, E::LcdP0}, {E::LcdP1}, 1},
        {"duty",
         meterFrame(11, 0, "00500", 8, 2),
         "  500",
         {E::LCDBF, E::LcdP3, E::LcdAuto},
         {E::LcdV, E::LcdP0},
         1},
        {"hold and relative",
         withOption(meterFrame(11, 2, "00042"), 2, 0, 2),
         "  042",
         {E::LCDHold, E::LCDREL},
         {E::LCDBF, E::LCDBATT},
         1},
        {"duty overload",
         withOption(meterFrame(11, 0, "12345", 0, 0), 0, 8, 0),
         "_0@__",
         {E::LCDBF, E::LcdP3, E::LcdManu},
         {E::LCDHold, E::LCDREL, E::LcdAuto},
         22},
        {"temperature keeps its zeros",
         meterFrame(4, 0, "00235", 0, 2),
         "00235",
         {E::LCDFS, E::LcdAuto},
         {E::LcdP0, E::LcdP1, E::LcdP2, E::LcdP3},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        feed({c.frame});
        EXPECT_EQ(shownDigits(), QString::fromLatin1(c.digits));
        for (E e : c.lit)
            EXPECT_TRUE(lcd->isLit(e)) << lcdElementName(e);
        for (E e : c.out)
            EXPECT_FALSE(lcd->isLit(e)) << lcdElementName(e);
        EXPECT_TRUE(lcd->isLit(E::LCDsend));
        EXPECT_EQ(lcd->barPosition(), c.bar);
    }
}

TEST_F(WindowFrames, LinkPicturesSwapWithEveryDecodedFrameOnly) {
    auto* ok = w->findChild<QLabel*>("CONok");
    auto* okN = w->findChild<QLabel*>("CONokN");
    ASSERT_TRUE(ok && okN);
    EXPECT_TRUE(ok->isHidden());
    EXPECT_FALSE(okN->isHidden());
    feed({meterFrame(11, 1, "01234")});
    EXPECT_FALSE(ok->isHidden());
    EXPECT_TRUE(okN->isHidden());
    w->linkBar().setLinkIdleCount(7);
    // A frame that cannot be decoded is dropped whole: no swap, the panel keeps the last frame.
    feed({meterFrame(11, 1, "01A34")});
    EXPECT_FALSE(ok->isHidden());
    EXPECT_EQ(w->linkBar().linkIdleCount(), 7);
    EXPECT_EQ(lcd->digitText(2), "2");
    feed({meterFrame(11, 1, "01234")});
    EXPECT_TRUE(ok->isHidden());
    EXPECT_FALSE(okN->isHidden());
    EXPECT_EQ(w->linkBar().linkIdleCount(), 0);
    EXPECT_EQ(w->findChild<QLabel*>("USBtxt")->text(), "A101234B000A0D");
    // Two frames handled together swap twice.
    feed({meterFrame(11, 1, "01234"), meterFrame(11, 1, "01234")});
    EXPECT_TRUE(ok->isHidden());
    EXPECT_FALSE(okN->isHidden());
}

TEST_F(WindowFrames, JudgementShowsInTheLimitsPanel) {
    auto* value = w->findChild<QLineEdit*>("T1VALUE");
    auto* judge = w->findChild<QLabel*>("judge");
    w->findChild<QLineEdit*>("T1HI")->setText("2");
    feed({meterFrame(11, 1, "01234")});
    EXPECT_EQ(judge->text(), "Pass");
    EXPECT_TRUE(judge->isVisible());
    EXPECT_EQ(value->palette().color(QPalette::Base), QColor(0, 128, 0));
    feed({meterFrame(11, 1, "02500")});
    EXPECT_EQ(judge->text(), "Fail");
    EXPECT_EQ(value->palette().color(QPalette::Base), QColor(255, 0, 0));
    const QString sep = QLocale::system().decimalPoint();
    EXPECT_EQ(value->text(), "2" + sep + "5");
    // A judgement repeated leaves the colours alone; the next change still shows.
    feed({meterFrame(11, 1, "02500"), meterFrame(11, 1, "01234")});
    EXPECT_EQ(judge->text(), "Pass");
    EXPECT_EQ(value->palette().color(QPalette::Base), QColor(0, 128, 0));
    EXPECT_EQ(w->findChild<voltaro::JudgeLamp*>("Shape1")->brushColor(), QColor(0, 128, 0));
}

namespace {

// Runs the event loop around `action`; returns whether the application quit
// within the time given.
bool quitsWhile(const std::function<void()>& action, int withinMs = 1500) {
    QTimer::singleShot(0, action);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QApplication::exit(42); });
    guard.start(withinMs);
    return QApplication::exec() == 0;
}

} // namespace

TEST_F(WindowFrames, QuitAsksFirstAndNoKeepsEverything) {
    auto* quit = w->findChild<QPushButton*>("BitBtn1");
    {
        MessageBoxAnswer no(QMessageBox::No);
        EXPECT_FALSE(quitsWhile([&] { quit->click(); }));
        EXPECT_EQ(no.text(), "Are you sure that you want to quit this application?");
        EXPECT_EQ(no.icon(), QMessageBox::Information);
        EXPECT_TRUE(w->isVisible());
    }
    MessageBoxAnswer yes(QMessageBox::Yes);
    EXPECT_TRUE(quitsWhile([&] { quit->click(); }));
}

TEST_F(WindowFrames, ExitPanelEndsWithoutAQuestion) {
    EXPECT_TRUE(quitsWhile([&] { w->BtExit1Click(); }));
}

TEST_F(WindowFrames, CloseBoxEndsWithoutAQuestion) {
    EXPECT_TRUE(quitsWhile([&] { w->close(); }));
}
