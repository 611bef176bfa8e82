#include "widgets/lcd/LcdPanel.h"

#include <QFont>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPalette>
#include <QPixmap>
#include <QPolygonF>
#include <QRegion>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>

namespace voltaro {

namespace {

const QColor kLitColor(0x16, 0x16, 0x16);
// Unlit segments stay faintly visible, as on a real display; light enough
// that nobody reads them as lit.
const QColor kGhostColor(110, 110, 110, 26);
// The printed scale under the bar graph: clearly there, clearly not a segment.
const QColor kScaleColor(125, 125, 125);

// Digit geometry. The digits lean right by kSlant pixels per pixel of height
// and stand on the decimal points' bottom edge, so a point sits in the gap
// between two digits at their foot.
constexpr double kSlant = 0.12;
constexpr double kDigitW = 32;
constexpr double kDigitH = 74;
constexpr double kSegT = 7;
constexpr double kSegGap = 0.9;
constexpr double kDigitBottom = 121;
constexpr double kDigitTop = kDigitBottom - kDigitH;
constexpr double kDigitMid = kDigitTop + kDigitH / 2;
constexpr double kDigitInset = 4; // foot of the digit from its cell's left edge
constexpr std::array<int, 5> kCellLeft{40, 88, 136, 184, 232};
constexpr std::array<LcdElement, 5> kDigitElements{LcdElement::LcdD0, LcdElement::LcdDa, LcdElement::LcdDb,
                                                   LcdElement::LcdDc, LcdElement::LcdDd};

constexpr QRect kBarRect(0, 164, BarGraph::kWidth, 17);

constexpr int idx(LcdElement e) {
    return static_cast<int>(e);
}

// Segments a..g as bits 0..6; characters without a glyph light nothing.
unsigned segmentMask(char c) {
    static constexpr std::array<unsigned char, 10> kDigits{0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                                           0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    if (c >= '0' && c <= '9')
        return kDigits[c - '0'];
    if (c == '@') // the letter L
        return 0x38;
    return 0;
}

QPainterPath polygon(std::initializer_list<QPointF> points) {
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points)));
    path.closeSubpath();
    return path;
}

// A segment along y = yc between the centre lines x0 and x1, pointed at both ends.
QPainterPath hSegment(double x0, double x1, double yc) {
    const double h = kSegT / 2;
    x0 += kSegGap;
    x1 -= kSegGap;
    return polygon(
        {{x0, yc}, {x0 + h, yc - h}, {x1 - h, yc - h}, {x1, yc}, {x1 - h, yc + h}, {x0 + h, yc + h}});
}

QPainterPath vSegment(double xc, double y0, double y1) {
    const double h = kSegT / 2;
    y0 += kSegGap;
    y1 -= kSegGap;
    return polygon(
        {{xc, y0}, {xc + h, y0 + h}, {xc + h, y1 - h}, {xc, y1}, {xc - h, y1 - h}, {xc - h, y0 + h}});
}

// Shears about the digits' baseline, so feet stay put and tops move right.
QTransform slant(double left) {
    return QTransform(1, 0, -kSlant, 1, left + kSlant * kDigitBottom, 0);
}

QFont annunciatorFont(int pixels) {
    QFont f(QStringLiteral("DejaVu Sans Condensed"));
    f.setPixelSize(pixels);
    f.setBold(true);
    return f;
}

QPainterPath text(double x, double baseline, int pixels, const QString& s) {
    QPainterPath path;
    path.addText(QPointF(x, baseline), annunciatorFont(pixels), s);
    return path;
}

QPainterPath stroked(const QPainterPath& line, double width) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setJoinStyle(Qt::MiterJoin);
    stroker.setCapStyle(Qt::FlatCap);
    return stroker.createStroke(line);
}

QPainterPath rect(double x, double y, double w, double h) {
    QPainterPath path;
    path.addRect(QRectF(x, y, w, h));
    return path;
}

QPainterPath holdSign() {
    QPainterPath box;
    box.addRoundedRect(QRectF(9, 104, 22, 21), 3, 3);
    QPainterPath h = text(0, 0, 17, QStringLiteral("H"));
    const QRectF b = h.boundingRect();
    h.translate(20 - b.center().x(), 114.5 - b.center().y());
    return stroked(box, 2.2).united(h);
}

// An almost empty battery lying on its side, terminal to the left.
QPainterPath batterySign() {
    return stroked(rect(286, 5, 27, 14), 2.2).united(rect(281.5, 8.5, 4, 7)).united(rect(288.5, 7.5, 4, 9));
}

// The delta of relative mode.
QPainterPath relativeSign() {
    QPainterPath outline = polygon({{141, 11.5}, {151.5, 31}, {130.5, 31}});
    return stroked(outline, 2.6);
}

QPainterPath diodeSign() {
    return rect(184, 21, 24, 2.2)
        .united(polygon({{190, 13}, {200, 22}, {190, 31}}))
        .united(rect(200, 13, 2.6, 18));
}

// A loudspeaker with two sound waves.
QPainterPath continuitySign() {
    QPainterPath speaker =
        rect(193, 18, 5, 8).united(polygon({{197.5, 18}, {204, 12}, {204, 32}, {197.5, 26}}));
    QPainterPath waves;
    for (double r : {5.5, 10.0}) {
        const QRectF circle(204 - r, 22 - r, 2 * r, 2 * r);
        waves.arcMoveTo(circle, 45);
        waves.arcTo(circle, 45, -90);
    }
    return speaker.united(stroked(waves, 2));
}

// Data going both ways: the link to the meter is alive.
QPainterPath linkSign() {
    return rect(8, 10.5, 22, 3)
        .united(polygon({{29, 5.5}, {38, 12}, {29, 18.5}}))
        .united(rect(15, 23.5, 22, 3))
        .united(polygon({{16, 18.5}, {7, 25}, {16, 31.5}}));
}

struct Glyphs {
    std::array<std::array<QPainterPath, 7>, 5> segments;
    std::array<QPainterPath, kLcdElementCount> shapes; // a digit's shape holds all its segments
    std::array<QRect, kLcdElementCount> rects;
};

Glyphs buildGlyphs() {
    Glyphs g;
    const double h = kSegT / 2;
    const double w = kDigitW;
    const std::array<QPainterPath, 7> local{
        hSegment(h, w - h, kDigitTop + h),
        vSegment(w - h, kDigitTop + h, kDigitMid),
        vSegment(w - h, kDigitMid, kDigitBottom - h),
        hSegment(h, w - h, kDigitBottom - h),
        vSegment(h, kDigitMid, kDigitBottom - h),
        vSegment(h, kDigitTop + h, kDigitMid),
        hSegment(h, w - h, kDigitMid),
    };
    for (int i = 0; i < 5; ++i) {
        const QTransform t = slant(kCellLeft[i] + kDigitInset);
        for (int s = 0; s < 7; ++s) {
            g.segments[i][s] = t.map(local[s]);
            g.shapes[idx(kDigitElements[i])].addPath(g.segments[i][s]);
        }
    }

    using E = LcdElement;
    auto set = [&g](E e, QPainterPath path) { g.shapes[idx(e)] = std::move(path); };
    set(E::LcdFH, slant(0).map(hSegment(3, 29, kDigitMid)));
    const std::array<std::pair<E, int>, 4> points{
        {{E::LcdP0, 79}, {E::LcdP1, 127}, {E::LcdP2, 175}, {E::LcdP3, 225}}};
    for (auto [e, x] : points)
        set(e, rect(x, kDigitBottom - 7, 7, 7));

    set(E::LcdAC, text(6, 73, 21, QStringLiteral("AC")));
    set(E::LcdDc1, text(5, 73, 21, QStringLiteral("DC")));
    set(E::LcdAuto, text(56, 146, 16, QStringLiteral("Auto range")));
    set(E::LcdManu, text(168, 146, 16, QStringLiteral("MANU")));
    set(E::LcdRPM, text(270, 146, 16, QStringLiteral("RPM")));
    set(E::LCDHold, holdSign());
    set(E::LCDBATT, batterySign());
    set(E::LCDREL, relativeSign());
    set(E::LcdV, text(256, 32, 24, QStringLiteral("V")));
    set(E::LCDA, text(256, 32, 24, QStringLiteral("A")));
    set(E::LCDF, text(256, 32, 24, QStringLiteral("F")));
    set(E::Lcdm, text(232, 32, 24, QStringLiteral("m")));
    set(E::LCDn, text(232, 32, 24, QStringLiteral("n")));
    set(E::LCDu, text(240, 32, 24, QStringLiteral("\u00B5")));
    set(E::LCDk, text(286, 97, 22, QStringLiteral("k")));
    set(E::LCDM1, text(286, 97, 19, QStringLiteral("M")));
    set(E::LCDohm, text(312, 97, 19, QStringLiteral("\u03A9")));
    set(E::LCDHz, text(296, 119, 22, QStringLiteral("Hz")));
    set(E::LCDBF, text(296, 57, 20, QStringLiteral("%")));
    set(E::LCDDI, diodeSign());
    set(E::LCDFm, continuitySign());
    set(E::LCDCS, text(288, 78, 22, QStringLiteral("\u00B0C")));
    set(E::LCDFS, text(304, 78, 22, QStringLiteral("\u00B0F")));
    set(E::LCDBT, text(281, 126, 13, QStringLiteral("BT")));
    QFont maxMin(QStringLiteral("Liberation Sans"));
    maxMin.setPixelSize(16);
    maxMin.setBold(true);
    g.shapes[idx(E::Labmax)].addText(52, 32, maxMin, QStringLiteral("MAX"));
    g.shapes[idx(E::Labmin)].addText(92, 32, maxMin, QStringLiteral("MIN"));
    set(E::EF, text(162, 31, 18, QStringLiteral("EF")));
    set(E::LCDsend, linkSign());

    for (int e = 0; e < kLcdElementCount; ++e)
        g.rects[e] = g.shapes[e].boundingRect().toAlignedRect();
    return g;
}

// Built on first use, once fonts can be resolved.
const Glyphs& glyphs() {
    static const Glyphs g = buildGlyphs();
    return g;
}

// Elements that show a faint ghost when out; annunciators that share a place
// would blur into each other, so they vanish completely instead.
bool hasGhost(LcdElement e) {
    switch (e) {
    case LcdElement::LcdFH:
    case LcdElement::LcdP0:
    case LcdElement::LcdP1:
    case LcdElement::LcdP2:
    case LcdElement::LcdP3: return true;
    default: return false;
    }
}

} // namespace

LcdPanel::LcdPanel(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("Panel1"));
    setFixedSize(334, 181);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    // The paint covers every pixel it is asked for with the face's picture,
    // which is white where nothing is drawn; filling it white first as well
    // would only be painted over.
    setAttribute(Qt::WA_OpaquePaintEvent);
    for (LcdElement e : kDigitElements)
        lit_.light(e);
}

void LcdPanel::showDisplay(const DisplayState& d) {
    if (lit_ == d.lit && digits_ == d.digits)
        return;
    // Repaint only what changed: a streaming meter mostly changes a few digits.
    QRegion dirty;
    for (int e = 0; e < kLcdElementCount; ++e) {
        const auto element = static_cast<LcdElement>(e);
        if (lit_.isLit(element) != d.lit.isLit(element))
            dirty += elementRect(element).adjusted(-1, -1, 1, 1);
    }
    for (int i = 0; i < 5; ++i)
        if (digits_[i] != d.digits[i])
            dirty += elementRect(kDigitElements[i]).adjusted(-1, -1, 1, 1);
    lit_ = d.lit;
    digits_ = d.digits;
    update(dirty);
}

void LcdPanel::setElementLit(LcdElement e, bool lit) {
    if (lit_.isLit(e) == lit)
        return;
    lit_.setLit(e, lit);
    update(elementRect(e).adjusted(-1, -1, 1, 1));
}

QString LcdPanel::digitText(int i) const {
    const char c = digits_.at(static_cast<std::size_t>(i));
    return c ? QString(QChar::fromLatin1(c)) : QString();
}

void LcdPanel::setBarMaximum(int max) {
    const BarGraph bar(max);
    if (bar.maximum() == bar_.maximum())
        return;
    bar_ = bar;
    barPosition_ = bar_.clampPosition(barPosition_);
    update();
}

void LcdPanel::setBarPosition(int pos) {
    pos = bar_.clampPosition(pos);
    if (pos == barPosition_)
        return;
    barPosition_ = pos;
    update(kBarRect);
}

QRect LcdPanel::elementRect(LcdElement e) {
    return glyphs().rects[idx(e)];
}

QRect LcdPanel::barRect() {
    return kBarRect;
}

namespace {

// A lit shape rendered once into a small pixmap, so a repaint is a few blits
// instead of filling every antialiased path again.
struct Sprite {
    QPixmap pixmap;
    QPoint at;
};

Sprite renderSprite(const QPainterPath& path, qreal dpr) {
    const QRect r = path.boundingRect().toAlignedRect().adjusted(-1, -1, 1, 1);
    Sprite s{QPixmap(r.size() * dpr), r.topLeft()};
    s.pixmap.setDevicePixelRatio(dpr);
    s.pixmap.fill(Qt::transparent);
    QPainter p(&s.pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(-r.topLeft());
    p.fillPath(path, kLitColor);
    return s;
}

struct Sprites {
    qreal dpr = 0;
    std::array<std::array<Sprite, 7>, 5> segments;
    std::array<Sprite, kLcdElementCount> shapes;
};

const Sprites& sprites(qreal dpr) {
    static Sprites cache;
    if (cache.dpr != dpr) {
        const Glyphs& g = glyphs();
        for (int i = 0; i < 5; ++i)
            for (int s = 0; s < 7; ++s)
                cache.segments[i][s] = renderSprite(g.segments[i][s], dpr);
        for (int e = idx(LcdElement::LcdDd) + 1; e < kLcdElementCount; ++e)
            cache.shapes[e] = renderSprite(g.shapes[e], dpr);
        cache.dpr = dpr;
    }
    return cache;
}

} // namespace

void LcdPanel::paintEvent(QPaintEvent* event) {
    const qreal dpr = devicePixelRatioF();
    // The unlit picture (white face, ghost segments, the bar's empty scale)
    // changes only with the bar's maximum; everything lit is blitted on top.
    if (background_.isNull() || background_.devicePixelRatio() != dpr ||
        backgroundBarMaximum_ != bar_.maximum()) {
        background_ = QPixmap(size() * dpr);
        background_.setDevicePixelRatio(dpr);
        background_.fill(Qt::white);
        QPainter bp(&background_);
        bp.setRenderHint(QPainter::Antialiasing);
        bp.setPen(Qt::NoPen);
        const Glyphs& g = glyphs();
        for (int i = 0; i < 5; ++i)
            for (int s = 0; s < 7; ++s)
                bp.fillPath(g.segments[i][s], kGhostColor);
        for (int e = idx(LcdElement::LcdDd) + 1; e < kLcdElementCount; ++e)
            if (hasGhost(static_cast<LcdElement>(e)))
                bp.fillPath(g.shapes[e], kGhostColor);
        paintBar(bp, 0);
        litBar_ = QPixmap(kBarRect.size() * dpr);
        litBar_.setDevicePixelRatio(dpr);
        litBar_.fill(Qt::transparent);
        QPainter lp(&litBar_);
        lp.translate(-kBarRect.topLeft());
        paintBar(lp, bar_.maximum(), false);
        backgroundBarMaximum_ = bar_.maximum();
    }

    QPainter p(this);
    // Only the rectangles asked for, each on its own: the raster engine
    // splits a blit over more than about a hundred lines across its thread
    // pool, which for the whole face would wake two threads on every frame.
    for (const QRect& r : event->region())
        p.drawPixmap(QRectF(r), background_,
                     QRectF(r.x() * dpr, r.y() * dpr, r.width() * dpr, r.height() * dpr));
    // A repaint mostly asks for a few digits: what lies outside it is not drawn at all.
    const QRegion& asked = event->region();
    const auto draw = [&](const Sprite& sprite) {
        if (asked.intersects(QRectF(sprite.at, sprite.pixmap.deviceIndependentSize()).toAlignedRect()))
            p.drawPixmap(sprite.at, sprite.pixmap);
    };
    const Sprites& sp = sprites(dpr);
    for (int i = 0; i < 5; ++i) {
        const unsigned mask = lit_.isLit(kDigitElements[i]) ? segmentMask(digits_[i]) : 0;
        for (int s = 0; s < 7; ++s)
            if ((mask >> s) & 1)
                draw(sp.segments[i][s]);
    }
    for (int e = idx(LcdElement::LcdDd) + 1; e < kLcdElementCount; ++e)
        if (lit_.isLit(static_cast<LcdElement>(e)))
            draw(sp.shapes[e]);
    const int litWidth = bar_.litWidth(barPosition_);
    if (litWidth > 0)
        p.drawPixmap(QRectF(kBarRect.topLeft(), QSizeF(litWidth, kBarRect.height())), litBar_,
                     QRectF(0, 0, litWidth * dpr, kBarRect.height() * dpr));
    if (!(asked - contentsRect()).isEmpty())
        drawFrame(&p);
}

void LcdPanel::paintBar(QPainter& p, int litPosition, bool withScale) const {
    const int lit = bar_.litSegments(litPosition);
    const double segTop = kBarRect.top() + 1;
    for (int i = 0; i < bar_.segmentCount(); ++i) {
        const QRectF seg(kBarRect.left() + bar_.segmentLeft(i), segTop, bar_.segmentWidth(), 8.5);
        p.fillRect(seg, i < lit ? kLitColor : kGhostColor);
    }
    if (!withScale)
        return;

    const auto [every, majorEvery] = bar_.ticks();
    const double tickTop = segTop + 10;
    for (int i = 0; i <= bar_.maximum(); i += every) {
        const bool major = i % majorEvery == 0;
        const double x = kBarRect.left() + bar_.tickX(i);
        p.fillRect(QRectF(x - 0.6, tickTop, 1.2, major ? 4.5 : 2.5), kScaleColor);
    }
}

} // namespace voltaro
