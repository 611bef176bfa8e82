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
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(color_);
    p.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

} // namespace voltaro
