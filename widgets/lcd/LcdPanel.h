#pragma once

#include "core/decode/BarGraph.h"
#include "core/decode/LcdElement.h"
#include "core/decode/Reading.h"

#include <QFrame>
#include <QPixmap>
#include <QRect>
#include <QString>

#include <array>

class QPainter;

namespace voltaro {

// The on-screen mirror of the meter's LCD: five seven-segment digits with a
// minus sign and four decimal points, the annunciators and the bar graph, all
// painted by the panel itself. It keeps only what it shows; the decoder decides
// what that is. Every setter repaints only when the picture actually changes.
class LcdPanel : public QFrame {
    Q_OBJECT
public:
    // Starts as the meter's stored layout: 22000 with the five digits lit,
    // nothing else lit, the bar at 20 of 40.
    explicit LcdPanel(QWidget* parent = nullptr);

    // Shows a decoded frame: every element lit exactly as `d.lit` says and
    // digit texts d1..d5 from `d.digits`. The bar is not touched; the caller
    // sets it later in the frame.
    void showDisplay(const DisplayState& d);
    void setElementLit(LcdElement e, bool lit);
    bool isLit(LcdElement e) const { return lit_.isLit(e); }
    LcdSet litSet() const { return lit_; }

    // i = 0..4; an empty string for an empty digit.
    QString digitText(int i) const;

    // A maximum below 1 is taken as 1. The position is kept within 0..maximum.
    void setBarMaximum(int max);
    void setBarPosition(int pos);
    int barPosition() const { return barPosition_; }
    int barMaximum() const { return bar_.maximum(); }

    // Where an element is drawn, in panel coordinates. A digit's rectangle
    // holds all of its segments; elements that share a place on the real
    // display (AC and DC, the units, the prefixes) overlap here too.
    static QRect elementRect(LcdElement e);
    // Where the bar graph is drawn, in panel coordinates.
    static QRect barRect();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Draws the bar's segments, lit up to `litPosition`, and its scale.
    void paintBar(QPainter& p, int litPosition, bool withScale = true) const;

    LcdSet lit_;
    std::array<char, 5> digits_{'2', '2', '0', '0', '0'};
    BarGraph bar_{40};
    int barPosition_ = 20;
    QPixmap background_;
    QPixmap litBar_;
    int backgroundBarMaximum_ = 0;
};

} // namespace voltaro
