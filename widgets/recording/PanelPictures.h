#pragma once

#include "widgets/ui/PaintMemo.h"

#include <QProxyStyle>

namespace voltaro {

// A style for a control painted many times a second that mostly looks the
// same: the value box, whose panel stays as its text changes with every
// reading, and the grid's scroll bars, repainted with every batch of new rows
// though only the vertical one moves. The panel or scroll bar is copied from
// the picture painted last time over the same pixels (PaintMemo) when nothing
// it is drawn from changed. One style for one control: it keeps one picture.
class PanelPictures : public QProxyStyle {
    Q_OBJECT
public:
    PanelPictures();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;

    qint64 copied() const { return memo_.copied(); }
    qint64 drawn() const { return memo_.painted(); }

private:
    mutable PaintMemo memo_;
};

} // namespace voltaro
