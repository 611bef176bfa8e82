#include "widgets/recording/ReportPainter.h"

#include "core/recording/ReadingTable.h"
#include "core/recording/UnitSymbols.h"

#include <QFont>
#include <QPagedPaintDevice>
#include <QPainter>

#include <iterator>

namespace voltaro::report {

namespace {

constexpr qreal kFontPoints = 10.0;

QFont textFont() {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPointSizeF(kFontPoints);
    return f;
}

// The meter's LCD symbol font exists nowhere, so its texts go through
// unitSymbols() and need a face with the ohm, micro and degree signs.
QFont symbolFont() {
    QFont f;
    f.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    f.setPointSizeF(kFontPoints);
    return f;
}

struct Label {
    const char* field; // for details: the table field, looked up without regard to case
    qreal left;
    bool symbol;
};

// Column headings: the texts themselves, at top 4.2 of their band.
constexpr Label kHeadings[] = {
    {"No", 8.5, true},     {"Time", 33.9, true},  {"Function", 64.3, false},
    {"Value", 99.5, true}, {"Unit", 132.3, true}, {"Judge", 163.0, true},
};
constexpr qreal kHeadingTop = 4.2;

// Detail line: "NVal" is left out on purpose.
constexpr Label kDetails[] = {
    {"No", 8.5, false},     {"Time", 33.9, false}, {"DC/AC", 65.6, false},
    {"Value", 99.5, false}, {"Unit", 131.2, true}, {"AUTO", 163.0, true},
};
constexpr qreal kDetailTop = 2.1;
constexpr qreal kTitleTop = 2.1;
constexpr qreal kFooterLeft = 8.5;
constexpr qreal kFooterTop = 4.2;

// Maps millimetres within the printable area to device pixels.
class MmPainter {
public:
    MmPainter(QPainter& p, const QPagedPaintDevice& d)
        : p_(p), sx_(d.logicalDpiX() / 25.4), sy_(d.logicalDpiY() / 25.4) {}

    // Text with its top left corner at (x, y); it takes the room it needs.
    void text(qreal x, qreal y, const QString& s, const QFont& f) {
        p_.setFont(f);
        p_.drawText(QRectF(x * sx_, y * sy_, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, s);
    }
    // Text centred across [0, width) with its top at y.
    void centred(qreal width, qreal y, const QString& s, const QFont& f) {
        p_.setFont(f);
        p_.drawText(QRectF(0, y * sy_, width * sx_, 0), Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip,
                    s);
    }

private:
    QPainter& p_;
    qreal sx_;
    qreal sy_;
};

} // namespace

bool paint(const ReadingTable& table, QPagedPaintDevice& device, const Progress& progress) {
    // Rows recorded while the report is painted belong to the next one: the
    // count is taken once, so the pages agree with pageCount().
    const qsizetype rows = table.rowCount();
    if (rows == 0)
        return false;

    const qreal pageHeight = device.pageLayout().paintRect(QPageLayout::Millimeter).height();
    const int pages = pageCount(rows, pageHeight);

    int columns[std::size(kDetails)];
    for (std::size_t i = 0; i < std::size(kDetails); ++i)
        columns[i] = table.fieldIndex(QString::fromLatin1(kDetails[i].field));

    QPainter painter;
    if (!painter.begin(&device))
        return false;
    MmPainter mm(painter, device);
    const QFont plain = textFont();
    const QFont symbol = symbolFont();

    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            device.newPage();
        mm.centred(kBandWidth, kTitleTop, QStringLiteral("Data Report"), symbol);
        for (const Label& h : kHeadings)
            mm.text(h.left, kColumnHeadingTop + kHeadingTop, QLatin1String(h.field),
                    h.symbol ? symbol : plain);

        const PageRows span = pageRows(page, rows, pageHeight);
        for (qsizetype row = span.first; row < span.end; ++row) {
            const qreal bandTop = detailBandTop(static_cast<int>(row - span.first));
            for (std::size_t i = 0; i < std::size(kDetails); ++i) {
                if (columns[i] < 0)
                    continue;
                QString s = table.text(row, columns[i]);
                if (columns[i] == ReadingTable::Unit)
                    s = unitSymbols(s);
                mm.text(kDetails[i].left, bandTop + kDetailTop, s, kDetails[i].symbol ? symbol : plain);
            }
        }
        mm.text(kFooterLeft, footerBandTop(pageHeight) + kFooterTop, QStringLiteral("Test Data"), symbol);
        if (progress && !progress(page + 1, pages)) {
            painter.end();
            return false;
        }
    }
    painter.end();
    return true;
}

} // namespace voltaro::report
