#pragma once

#include <QImage>
#include <QRect>
#include <QRegion>

#include <array>

class QPainter;

namespace voltaro {

// The image a painter draws into, when it is one and nothing scales or
// shifts it by part of a pixel: what it paints is then that image's pixels.
const QImage* plainSurface(QPainter* painter);

// Remembers one painted picture with the pixels it was painted over, and
// paints it again by copying when the same thing is to be painted over the
// same pixels. What is shown is then exactly what painting would show:
//
//     if (!memo.replay(painter, rect, key)) {
//         ...paint...
//         memo.keep(painter);
//     }
//
// A picture is copied only where it was painted: a repaint of a part it does
// not hold paints. Painters that scale always paint.
class PaintMemo {
public:
    // Everything but the size and the pixels under it that the picture depends on.
    using Key = std::array<qint64, 6>;

    // True when the picture was copied; false when the caller paints, and
    // then calls keep() with the same painter.
    bool replay(QPainter* painter, const QRect& rect, const Key& key);
    void keep(QPainter* painter);

    qint64 copied() const { return copied_; }
    qint64 painted() const { return painted_; }

private:
    Key key_{};
    QRect rect_;      // in the painter's coordinates
    QRect onSurface_; // in its image's
    QImage under_;    // the pixels it was painted over
    QImage picture_;  // and with it painted
    QRegion kept_;    // the part of the picture painted, in `rect`'s coordinates
    QImage pending_;  // the pixels under a paint going on now
    QRegion pendingPart_;
    bool canKeep_ = false;
    qint64 copied_ = 0;
    qint64 painted_ = 0;
};

} // namespace voltaro
