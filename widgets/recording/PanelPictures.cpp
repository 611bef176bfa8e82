#include "widgets/recording/PanelPictures.h"

#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionFrame>
#include <QStyleOptionSlider>

namespace voltaro {

PanelPictures::PanelPictures() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

void PanelPictures::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const {
    if (element != PE_PanelLineEdit || !option || !painter) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
    const PaintMemo::Key key{static_cast<qint64>(option->state),
                             option->palette.cacheKey(),
                             frame ? frame->lineWidth : -1,
                             static_cast<qint64>(painter->renderHints()),
                             0,
                             0};
    if (memo_.replay(painter, option->rect, key))
        return;
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    memo_.keep(painter);
}

void PanelPictures::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                       QPainter* painter, const QWidget* widget) const {
    const auto* bar =
        control == CC_ScrollBar ? qstyleoption_cast<const QStyleOptionSlider*>(option) : nullptr;
    if (!bar || !painter) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const auto pair = [](qint64 low, qint64 high) { return (high << 32) | (low & 0xFFFFFFFF); };
    const PaintMemo::Key key{pair(bar->state, bar->activeSubControls),
                             bar->palette.cacheKey(),
                             pair(bar->minimum, bar->maximum),
                             pair(bar->sliderPosition, bar->pageStep),
                             pair(bar->subControls, bar->orientation | (bar->upsideDown ? 0x100 : 0)),
                             pair(static_cast<qint64>(painter->renderHints()), bar->sliderValue)};
    if (memo_.replay(painter, option->rect, key))
        return;
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    memo_.keep(painter);
}

} // namespace voltaro
