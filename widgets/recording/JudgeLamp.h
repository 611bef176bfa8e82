#pragma once

#include "widgets/ui/PaintMemo.h"

#include <QColor>
#include <QWidget>

namespace voltaro {

// The round Pass/Fail indicator: a filled circle in the judgement's colour.
class JudgeLamp : public QWidget {
    Q_OBJECT
public:
    explicit JudgeLamp(QWidget* parent = nullptr);

    void setBrushColor(const QColor& c);
    QColor brushColor() const { return color_; }
    // Paints that copied the circle painted before.
    qint64 copiedPaints() const { return memo_.copied(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
    PaintMemo memo_;
};

} // namespace voltaro
