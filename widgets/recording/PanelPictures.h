#pragma once

#include "widgets/ui/PaintMemo.h"

#include <QProxyStyle>

namespace voltaro {

// A style for a line edit whose text changes many times a second (the
// measured value): its panel, the same every time, is copied from the
// picture painted the first time over the same pixels (PaintMemo) rather
// than drawn again. Everything else is drawn by the application's style.
class PanelPictures : public QProxyStyle {
    Q_OBJECT
public:
    PanelPictures();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;

    qint64 copied() const { return memo_.copied(); }
    qint64 drawn() const { return memo_.painted(); }

private:
    mutable PaintMemo memo_;
};

} // namespace voltaro
