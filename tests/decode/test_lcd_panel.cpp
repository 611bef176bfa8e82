// The LCD panel: what it holds, and what actually ends up on screen, judged
// by the pixels of a rendered picture.
#include "widgets/lcd/LcdPanel.h"

#include <QColor>
#include <QDir>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <string>

namespace voltaro {
namespace {

using E = LcdElement;

constexpr std::array<E, 5> kDigits{E::LcdD0, E::LcdDa, E::LcdDb, E::LcdDc, E::LcdDd};

QImage render(LcdPanel& panel) {
    return panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Pixels a reader would take for lit LCD ink.
int darkPixels(const QImage& img, const QRect& r) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += qGray(img.pixel(x, y)) < 100;
    return n;
}

int darkestGray(const QImage& img, const QRect& r) {
    int darkest = 255;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            darkest = std::min(darkest, qGray(img.pixel(x, y)));
    return darkest;
}

DisplayState display(std::initializer_list<E> lit, const char (&digits)[6] = "\0\0\0\0\0") {
    DisplayState d;
    for (E e : lit)
        d.lit.light(e);
    for (int i = 0; i < 5; ++i)
        d.digits[i] = digits[i];
    return d;
}

// Saves a picture for a human to look at when VOLTARO_LCD_SNAPSHOT_DIR names a folder.
void snapshot(const QImage& img, const char* name) {
    if (const char* dir = std::getenv("VOLTARO_LCD_SNAPSHOT_DIR")) {
        EXPECT_TRUE(img.save(QDir(QString::fromLocal8Bit(dir)).filePath(QString::fromLatin1(name))));
    }
}

TEST(LcdPanel, StartsAsTheStoredLayout) {
    LcdPanel panel;
    EXPECT_EQ(panel.objectName(), "Panel1");
    EXPECT_EQ(panel.size(), QSize(334, 181));
    EXPECT_EQ(panel.minimumSize(), panel.maximumSize());
    const char* start = "22000";
    LcdSet digitsOnly;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(panel.digitText(i), QString(QChar::fromLatin1(start[i])));
        digitsOnly.light(kDigits[i]);
    }
    EXPECT_EQ(panel.litSet(), digitsOnly);
    EXPECT_EQ(panel.barPosition(), 20);
    EXPECT_EQ(panel.barMaximum(), 40);

    const QImage img = render(panel);
    EXPECT_EQ(img.pixelColor(panel.rect().center()), QColor(Qt::white));
    for (E p : {E::LcdP0, E::LcdP1, E::LcdP2, E::LcdP3, E::LcdFH, E::LcdV, E::LCDsend})
        EXPECT_EQ(darkPixels(img, LcdPanel::elementRect(p)), 0) << lcdElementName(p);
    for (E d : kDigits)
        EXPECT_GT(darkPixels(img, LcdPanel::elementRect(d)), 100) << lcdElementName(d);
}

TEST(LcdPanel, ShowDisplayReplacesLitSetAndDigitsButNotTheBar) {
    LcdPanel panel;
    panel.showDisplay(display({E::LcdDa, E::LcdDb, E::LcdP1, E::LcdV, E::LCDHold}, "12345"));
    panel.showDisplay(display({E::LcdDa, E::LcdDb, E::LcdP2, E::LCDA}, "\0000@\0\0"));
    EXPECT_EQ(panel.litSet(), display({E::LcdDa, E::LcdDb, E::LcdP2, E::LCDA}).lit);
    EXPECT_FALSE(panel.isLit(E::LcdV));
    EXPECT_FALSE(panel.isLit(E::LCDHold));
    EXPECT_EQ(panel.digitText(0), "");
    EXPECT_EQ(panel.digitText(1), "0");
    EXPECT_EQ(panel.digitText(2), "@");
    EXPECT_EQ(panel.digitText(4), "");
    EXPECT_EQ(panel.barPosition(), 20);
}

TEST(LcdPanel, EveryElementIsInkWhenLitAndBlankWhenOut) {
    LcdPanel panel;
    panel.showDisplay(display({}));
    const QImage blank = render(panel);
    for (int i = static_cast<int>(E::LcdFH); i < kLcdElementCount; ++i) {
        const auto e = static_cast<E>(i);
        const QRect r = LcdPanel::elementRect(e);
        ASSERT_TRUE(QRect(2, 2, 330, 160).contains(r)) << lcdElementName(e);
        // Out: at most the faint ghost of an unlit segment.
        EXPECT_GT(darkestGray(blank, r), 200) << lcdElementName(e);
        panel.showDisplay(display({e}));
        EXPECT_GT(darkPixels(render(panel), r), 12) << lcdElementName(e);
    }
}

TEST(LcdPanel, DigitsShowTheirSegments) {
    LcdPanel panel;
    const QRect cell = LcdPanel::elementRect(E::LcdDb);
    auto inkOf = [&](char c, bool lit) {
        const char digits[6] = {'\0', '\0', c, '\0', '\0', '\0'};
        panel.showDisplay(lit ? display({E::LcdDb}, digits) : display({}, digits));
        return render(panel).copy(cell);
    };
    auto count = [&](const QImage& img) { return darkPixels(img, img.rect()); };

    const int one = count(inkOf('1', true));
    const int eight = count(inkOf('8', true));
    EXPECT_GT(one, 50);
    EXPECT_GT(eight, 3 * one); // seven segments against two
    EXPECT_EQ(count(inkOf('8', false)), 0);
    EXPECT_EQ(count(inkOf('\0', true)), 0);

    const QImage ell = inkOf('@', true);
    const QImage zero = inkOf('0', true);
    EXPECT_NE(ell, zero);
    EXPECT_GT(count(ell), one); // three segments of the six in '0'
    EXPECT_LT(count(ell), count(zero));
}

TEST(LcdPanel, DecimalPointsSitInTheGapsAtTheDigitsFoot) {
    LcdPanel panel;
    panel.showDisplay(display({E::LcdD0, E::LcdDa, E::LcdDb, E::LcdDc, E::LcdDd}, "88888"));
    const QImage img = render(panel);
    const int foot = LcdPanel::elementRect(E::LcdD0).bottom();
    for (E p : {E::LcdP0, E::LcdP1, E::LcdP2, E::LcdP3}) {
        const QRect r = LcdPanel::elementRect(p);
        EXPECT_LE(std::abs(r.bottom() - foot), 1) << lcdElementName(p);
        EXPECT_EQ(darkPixels(img, r), 0) << lcdElementName(p) << " collides with a digit";
    }
}

TEST(LcdPanel, BarIsClampedAndFillsWithItsPosition) {
    LcdPanel panel;
    panel.setBarPosition(-3);
    EXPECT_EQ(panel.barPosition(), 0);
    panel.setBarPosition(41);
    EXPECT_EQ(panel.barPosition(), 40);
    panel.setBarMaximum(22);
    EXPECT_EQ(panel.barMaximum(), 22);
    EXPECT_EQ(panel.barPosition(), 22);
    panel.setBarMaximum(0);
    EXPECT_EQ(panel.barMaximum(), 1);

    panel.setBarMaximum(22);
    auto ink = [&](int pos) {
        panel.setBarPosition(pos);
        return darkPixels(render(panel), LcdPanel::barRect());
    };
    const int empty = ink(0), one = ink(1), half = ink(11), full = ink(22);
    EXPECT_LT(empty, one);
    EXPECT_LT(one, half);
    EXPECT_LT(half, full);
    // The bar grows in proportion: half the scale is about half the ink.
    EXPECT_NEAR(double(half - empty) / (full - empty), 0.5, 0.05);
}

TEST(LcdPanel, LinkSignFollowsSetElementLit) {
    LcdPanel panel;
    const QRect r = LcdPanel::elementRect(E::LCDsend);
    const LcdSet before = panel.litSet();
    panel.setElementLit(E::LCDsend, true);
    EXPECT_TRUE(panel.isLit(E::LCDsend));
    EXPECT_GT(darkPixels(render(panel), r), 50);
    panel.setElementLit(E::LCDsend, false);
    EXPECT_EQ(panel.litSet(), before);
    EXPECT_EQ(darkPixels(render(panel), r), 0);
}

TEST(LcdPanel, TypicalFrameAndFullDisplay) {
    LcdPanel panel;
    panel.setBarMaximum(22);
    panel.setBarPosition(1);
    // 1.234 V DC, auto range, link active, leading zero blanked.
    panel.showDisplay(display(
        {E::LcdDa, E::LcdDb, E::LcdDc, E::LcdDd, E::LcdP1, E::LcdV, E::LcdDc1, E::LcdAuto, E::LCDsend},
        "01234"));
    const QImage typical = render(panel);
    snapshot(typical, "lcd_panel_overview.png");
    EXPECT_EQ(darkPixels(typical, LcdPanel::elementRect(E::LcdD0)), 0);
    for (E e : {E::LcdDa, E::LcdP1, E::LcdV, E::LcdDc1, E::LcdAuto})
        EXPECT_GT(darkPixels(typical, LcdPanel::elementRect(e)), 12) << lcdElementName(e);

    DisplayState all = display({}, "88888");
    for (int i = 0; i < kLcdElementCount; ++i)
        all.lit.light(static_cast<E>(i));
    panel.showDisplay(all);
    panel.setBarPosition(22);
    const QImage full = render(panel);
    snapshot(full, "lcd_panel_all.png");
    for (int i = 0; i < kLcdElementCount; ++i)
        EXPECT_GT(darkPixels(full, LcdPanel::elementRect(static_cast<E>(i))), 12) << i;
}

} // namespace
} // namespace voltaro
