#include "widgets/recording/CellPictures.h"

#include "widgets/ui/PaintMemo.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPaintEngine>
#include <QPainter>

namespace voltaro {

namespace {

constexpr int kLargestCell = 256 * 64;

} // namespace

size_t qHash(const CellPictures::Key& key, size_t seed) noexcept {
    return qHashMulti(seed, key.text, key.width, key.height, key.state, key.features, key.alignment,
                      key.elide);
}

CellPictures::CellPictures(QObject* parent) : QStyledItemDelegate(parent) {}

bool CellPictures::worthKeeping(int column) const {
    if (column < 0 || column >= static_cast<int>(columns_.size()))
        return true;
    Column& c = columns_[column];
    if (++c.looked > 1024) {
        c.looked /= 2;
        c.found /= 2;
    }
    constexpr int kTrial = 64;
    constexpr int kTryEvery = 16;
    return c.looked < kTrial || c.found * 8 >= c.looked || ++c.passed % kTryEvery == 0;
}

void CellPictures::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const auto* view = qobject_cast<const QAbstractItemView*>(opt.widget);
    const QImage* surface = view ? plainSurface(painter) : nullptr;
    const QWidget* viewport = view ? view->viewport() : nullptr;
    const QBrush backdrop = viewport ? viewport->palette().brush(viewport->backgroundRole()) : QBrush();
    const bool plain =
        surface && viewport->autoFillBackground() && backdrop.style() == Qt::SolidPattern &&
        backdrop.color().alpha() == 255 && opt.icon.isNull() &&
        !(opt.features & (QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration)) &&
        opt.backgroundBrush.style() == Qt::NoBrush && !opt.rect.isEmpty() &&
        opt.rect.width() * opt.rect.height() <= kLargestCell;
    if (!plain) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    QStyle* style = view->style();
    const Look look{opt.font,          opt.palette.cacheKey(),     style, backdrop.color().rgba(),
                    surface->format(), surface->devicePixelRatio()};
    if (!(look == look_)) {
        pictures_.clear();
        look_ = look;
    }
    Key key{opt.text,
            opt.rect.width(),
            opt.rect.height(),
            static_cast<int>(opt.state),
            static_cast<int>(opt.features),
            static_cast<int>(opt.displayAlignment) | (opt.direction == Qt::RightToLeft ? 1 << 30 : 0),
            opt.textElideMode};
    const int column = index.column();
    if (const QImage* picture = pictures_.object(key)) {
        painter->drawImage(opt.rect.topLeft(), *picture);
        ++copied_;
        if (column >= 0 && column < static_cast<int>(columns_.size()))
            ++columns_[column].found;
        return;
    }
    if (!worthKeeping(column)) {
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, view);
        return;
    }

    // Drawn as the view draws a cell: its background, the row's panel, then the item.
    auto picture = std::make_unique<QImage>(opt.rect.size(), surface->format());
    picture->fill(backdrop.color());
    {
        QPainter p(picture.get());
        p.setFont(viewport->font());
        p.setPen(viewport->palette().color(viewport->foregroundRole()));
        QStyleOptionViewItem at = opt;
        at.rect.moveTo(0, 0);
        style->drawPrimitive(QStyle::PE_PanelItemViewRow, &at, &p, view);
        style->drawControl(QStyle::CE_ItemViewItem, &at, &p, view);
    }
    painter->drawImage(opt.rect.topLeft(), *picture);
    ++drawn_;
    pictures_.insert(std::move(key), picture.release());
}

} // namespace voltaro
