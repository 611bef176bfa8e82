#include "widgets/ui/PaintMemo.h"

#include <QPaintEngine>
#include <QPainter>

#include <cstring>

namespace voltaro {

const QImage* plainSurface(QPainter* painter) {
    QPaintEngine* engine = painter->paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster)
        return nullptr;
    const QTransform t = painter->deviceTransform();
    if (t.type() > QTransform::TxTranslate || t.dx() != qRound(t.dx()) || t.dy() != qRound(t.dy()))
        return nullptr;
    const auto* image = dynamic_cast<const QImage*>(engine->paintDevice());
    return image && image->devicePixelRatio() == 1.0 ? image : nullptr;
}

namespace {

// The image a painter draws into, where `rect` lies in it and which part of
// that is painted now, when nothing scales the painter.
const QImage* surfaceOf(QPainter* painter, const QRect& rect, QRect* onSurface, QRegion* now) {
    const QImage* image = plainSurface(painter);
    if (!image || image->depth() != 32)
        return nullptr;
    const QTransform t = painter->deviceTransform();
    const QPoint offset(qRound(t.dx()), qRound(t.dy()));
    *onSurface = rect.translated(offset);
    if (!image->rect().contains(*onSurface))
        return nullptr;
    *now = QRegion(*onSurface);
    if (const QRegion system = painter->paintEngine()->systemClip(); !system.isEmpty())
        *now &= system;
    if (painter->hasClipping())
        *now &= painter->clipRegion().translated(offset);
    return image;
}

bool samePixels(const QImage& surface, const QImage& under, const QRegion& region, const QPoint& origin) {
    for (const QRect& r : region) {
        const auto bytes = static_cast<std::size_t>(r.width()) * 4;
        for (int y = r.top(); y <= r.bottom(); ++y)
            if (std::memcmp(surface.constScanLine(y) + r.left() * 4,
                            under.constScanLine(y - origin.y()) + (r.left() - origin.x()) * 4, bytes) != 0)
                return false;
    }
    return true;
}

} // namespace

bool PaintMemo::replay(QPainter* painter, const QRect& rect, const Key& key) {
    canKeep_ = false;
    QRect onSurface;
    QRegion now;
    const QImage* surface = rect.isEmpty() ? nullptr : surfaceOf(painter, rect, &onSurface, &now);
    if (!surface) {
        ++painted_;
        return false;
    }
    // Painting puts each pixel over the one under it alone, so the part
    // painted now may be copied when the pixels under that part are the same
    // and the picture holds that part.
    const QRegion nowInRect = now.translated(-onSurface.topLeft());
    if (key == key_ && rect.size() == rect_.size() && !under_.isNull() &&
        under_.format() == surface->format() && (nowInRect - kept_).isEmpty() &&
        samePixels(*surface, under_, now, onSurface.topLeft())) {
        painter->save();
        painter->setCompositionMode(QPainter::CompositionMode_Source);
        const QPoint toPainter = rect.topLeft() - onSurface.topLeft();
        for (const QRect& r : now)
            painter->drawImage(r.translated(toPainter), picture_, r.translated(-onSurface.topLeft()));
        painter->restore();
        ++copied_;
        return true;
    }
    ++painted_;
    // A picture holds only what is painted now: a sibling above may cover
    // part of the rectangle for good, as the judgement's caption covers the lamp.
    pending_ = surface->copy(onSurface);
    pendingPart_ = nowInRect;
    key_ = key;
    rect_ = rect;
    onSurface_ = onSurface;
    canKeep_ = true;
    return false;
}

void PaintMemo::keep(QPainter* painter) {
    QRect onSurface;
    QRegion now;
    const QImage* surface = canKeep_ ? surfaceOf(painter, rect_, &onSurface, &now) : nullptr;
    canKeep_ = false;
    if (!surface || onSurface != onSurface_) {
        under_ = QImage();
        return;
    }
    under_ = std::move(pending_);
    kept_ = pendingPart_;
    picture_ = surface->copy(onSurface);
}

} // namespace voltaro
