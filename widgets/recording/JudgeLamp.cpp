#include "widgets/recording/JudgeLamp.h"

#include <QPainter>
#include <QPalette>

namespace voltaro {

JudgeLamp::JudgeLamp(QWidget* parent) : QWidget(parent), color_(QPalette().color(QPalette::ToolTipBase)) {}

void JudgeLamp::setBrushColor(const QColor& c) {
    if (c == color_)
        return;
    color_ = c;
    update();
}

void JudgeLamp::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // The link's lamp blinks over its corner, so it is asked again and again
    // for the same circle.
    if (memo_.replay(&p, rect(), {static_cast<qint64>(quint64(color_.rgba64())), 0, 0, 0, 0, 0}))
        return;
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(color_);
    p.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    memo_.keep(&p);
}

} // namespace voltaro
