#include "widgets/recording/PanelPictures.h"

#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionFrame>

namespace voltaro {

PanelPictures::PanelPictures() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

void PanelPictures::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const {
    if (element != PE_PanelLineEdit || !option || !painter) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
    const PaintMemo::Key key{static_cast<qint64>(option->state), option->palette.cacheKey(),
                             frame ? frame->lineWidth : -1, static_cast<qint64>(painter->renderHints())};
    if (memo_.replay(painter, option->rect, key))
        return;
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    memo_.keep(painter);
}

} // namespace voltaro
