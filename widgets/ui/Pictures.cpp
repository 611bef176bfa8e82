#include "widgets/ui/Pictures.h"

#include <QPainter>
#include <QPainterPath>

#include <functional>

namespace voltaro::pictures {

namespace {

QPixmap draw(int w, int h, const std::function<void(QPainter&)>& paint) {
    QPixmap pm(w, h);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    return pm;
}

QIcon icon(const std::function<void(QPainter&)>& paint) {
    return QIcon(draw(16, 16, paint));
}

const QColor kNavy(0, 64, 128);

// A triangle pointing left or right, optionally with a bar at its tip.
QIcon arrow(bool right, bool bar) {
    return icon([=](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kNavy);
        QPolygonF tri;
        if (right)
            tri << QPointF(4, 3) << QPointF(11, 8) << QPointF(4, 13);
        else
            tri << QPointF(12, 3) << QPointF(5, 8) << QPointF(12, 13);
        p.drawPolygon(tri);
        if (bar)
            p.drawRect(right ? QRectF(11.5, 3, 2, 10) : QRectF(2.5, 3, 2, 10));
    });
}

void floppy(QPainter& p, const QColor& body) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 1.5, 1.5);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4, 2, 8, 5));
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRectF(4.5, 10, 7, 4.5));
}

} // namespace

QIcon windowIcon() {
    return QIcon(draw(32, 32, [](QPainter& p) {
        p.setPen(QPen(Qt::black, 1.5));
        p.setBrush(QColor(255, 200, 0));
        p.drawRoundedRect(QRectF(5, 1, 22, 30), 4, 4);
        p.setBrush(QColor(200, 220, 200));
        p.drawRect(QRectF(8, 4, 16, 9));
        p.setBrush(Qt::black);
        p.drawEllipse(QPointF(16, 21), 5, 5);
    }));
}

QPixmap linkOn() {
    return draw(25, 24, [](QPainter& p) {
        p.setPen(QPen(QColor(0, 110, 0), 1));
        p.setBrush(QColor(40, 200, 40));
        p.drawEllipse(QRectF(3.5, 3, 18, 18));
        p.setPen(QPen(Qt::white, 2));
        p.drawLine(QPointF(8, 12), QPointF(17, 12));
        p.drawLine(QPointF(13.5, 8.5), QPointF(17, 12));
        p.drawLine(QPointF(13.5, 15.5), QPointF(17, 12));
    });
}

QPixmap linkOff() {
    return draw(25, 24, [](QPainter& p) {
        p.setPen(QPen(QColor(90, 90, 90), 1));
        p.setBrush(QColor(170, 170, 170));
        p.drawEllipse(QRectF(3.5, 3, 18, 18));
        p.setPen(QPen(Qt::white, 2));
        p.drawLine(QPointF(8, 12), QPointF(17, 12));
    });
}

QPixmap enlarge() {
    return draw(25, 25, [](QPainter& p) {
        p.setPen(QPen(kNavy, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(3.5, 3.5, 18, 18));
        p.drawLine(QPointF(8, 17), QPointF(17, 8));
        p.drawLine(QPointF(12, 8), QPointF(17, 8));
        p.drawLine(QPointF(17, 8), QPointF(17, 13));
    });
}

QPixmap restore() {
    return draw(25, 25, [](QPainter& p) {
        p.setPen(QPen(kNavy, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(3.5, 3.5, 18, 18));
        p.drawLine(QPointF(8, 17), QPointF(17, 8));
        p.drawLine(QPointF(8, 12), QPointF(8, 17));
        p.drawLine(QPointF(8, 17), QPointF(13, 17));
    });
}

QIcon quit() {
    return icon([](QPainter& p) {
        p.setPen(QPen(QColor(180, 0, 0), 2));
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
    });
}

QIcon closeData() {
    return icon([](QPainter& p) {
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5, 2.5, 11, 11));
        p.drawLine(QPointF(1.5, 6), QPointF(12.5, 6));
        p.drawLine(QPointF(1.5, 9.5), QPointF(12.5, 9.5));
        p.setPen(QPen(QColor(200, 0, 0), 2));
        p.drawLine(QPointF(8, 8), QPointF(15, 15));
        p.drawLine(QPointF(15, 8), QPointF(8, 15));
    });
}

QIcon openFile() {
    return icon([](QPainter& p) {
        p.setPen(QPen(QColor(120, 90, 0), 1));
        p.setBrush(QColor(250, 210, 90));
        QPainterPath path;
        path.moveTo(1.5, 13.5);
        path.lineTo(1.5, 3.5);
        path.lineTo(6, 3.5);
        path.lineTo(7.5, 5);
        path.lineTo(13.5, 5);
        path.lineTo(13.5, 13.5);
        path.closeSubpath();
        p.drawPath(path);
    });
}

QIcon saveFile() {
    return icon([](QPainter& p) { floppy(p, QColor(30, 80, 170)); });
}

QIcon saveChart() {
    return icon([](QPainter& p) { floppy(p, QColor(0, 128, 128)); });
}

QIcon print() {
    return icon([](QPainter& p) {
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 1.5, 7, 5));
        p.setBrush(QColor(160, 160, 160));
        p.drawRoundedRect(QRectF(1.5, 6.5, 13, 6), 1, 1);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 10.5, 7, 4));
    });
}

QIcon first() {
    return arrow(false, true);
}
QIcon previous() {
    return arrow(false, false);
}
QIcon next() {
    return arrow(true, false);
}
QIcon last() {
    return arrow(true, true);
}

} // namespace voltaro::pictures
