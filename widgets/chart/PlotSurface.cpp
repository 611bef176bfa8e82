#include "widgets/chart/PlotSurface.h"

#include <QTimer>

#include <algorithm>
#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace voltaro {

void RecordPoints::append(double key, double value) {
    if (mData.size() == mData.capacity())
        grow(mData.size() + std::max<qsizetype>(1024, mData.size() / 4));
    mData.append(QCPGraphData(key, value));
}

// Moves the points into a block of `capacity` a slice at a time and hands the
// pages of each slice copied back to the system at once. A plain reserve keeps
// the old block whole until the copy is done: with ten million points that is
// 150 MiB resident twice for a moment, the whole program's peak. The old block
// goes right after and nothing reads what is handed back; a block that another
// list shares (a copy of the store) is left whole.
void RecordPoints::grow(qsizetype capacity) {
    QVector<QCPGraphData> grown;
    grown.reserve(capacity);
    const bool ours = mData.isDetached();
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    constexpr qsizetype kSlice = 65536; // points, 1 MiB
    const QCPGraphData* from = mData.constData();
    // Handed back up to here: whole pages only, from the first that lies in the points.
    std::uintptr_t handedBack = (reinterpret_cast<std::uintptr_t>(from) + page - 1) / page * page;
    for (qsizetype done = 0; done < mData.size();) {
        const qsizetype n = std::min(kSlice, mData.size() - done);
        grown.append(mData.constBegin() + done, mData.constBegin() + done + n);
        done += n;
        const std::uintptr_t copied = reinterpret_cast<std::uintptr_t>(from + done) / page * page;
        if (ours && handedBack < copied) {
            madvise(reinterpret_cast<void*>(handedBack), copied - handedBack, MADV_DONTNEED);
            handedBack = copied;
        }
    }
    mData.swap(grown);
}

namespace {

// Whole record numbers only, however far the axis goes.
class RecordTicker : public QCPAxisTicker {
protected:
    double getTickStep(const QCPRange& range) override {
        return std::max(1.0, QCPAxisTicker::getTickStep(range));
    }
};

// The area series. Over a dense page (many points to a pixel column) the
// area is filled column by column, from the zero line to the curve's extremes
// in that column: the same picture as the polygon fill, without handing the
// rasterizer a polygon that zigzags across the whole plot in every column.
class AreaGraph : public QCPGraph {
public:
    using QCPGraph::QCPGraph;

protected:
    void drawFill(QCPPainter* painter, QVector<QPointF>* lines) const override {
        const QRect area = keyAxis()->axisRect()->rect();
        if (brush().style() == Qt::NoBrush || lines->size() < 2 * area.width() ||
            keyAxis()->orientation() != Qt::Horizontal) {
            QCPGraph::drawFill(painter, lines);
            return;
        }
        const double zero =
            std::clamp(valueAxis()->coordToPixel(0), double(area.top()), double(area.bottom()));
        const int left = area.left();
        QVector<double> top(area.width() + 1, zero), bottom(area.width() + 1, zero);
        QVector<bool> used(area.width() + 1, false);
        for (const QPointF& p : std::as_const(*lines)) {
            const int col = std::clamp(static_cast<int>(p.x()) - left, 0, area.width());
            const double y = std::clamp(p.y(), double(area.top()), double(area.bottom()));
            top[col] = std::min(top[col], y);
            bottom[col] = std::max(bottom[col], y);
            used[col] = true;
        }
        QVector<QRectF> columns;
        columns.reserve(area.width() + 1);
        for (int c = 0; c <= area.width(); ++c)
            if (used[c])
                columns.append(QRectF(left + c, top[c], 1, bottom[c] - top[c]));
        applyFillAntialiasingHint(painter);
        painter->setPen(Qt::NoPen);
        painter->setBrush(brush());
        painter->drawRects(columns);
    }
};

} // namespace

PlotSurface::PlotSurface(QCustomPlot* plot)
    : QObject(plot), plot_(plot), points_(QSharedPointer<RecordPoints>::create()),
      replotTimer_(new QTimer(this)) {
    QCPGraph* area = new AreaGraph(plot_->xAxis, plot_->yAxis);
    area->setName(QStringLiteral("Series2"));
    area->setPen(QPen(QColor(0, 128, 255), 1));
    area->setBrush(QColor(255, 255, 128));
    QCPGraph* line = new QCPGraph(plot_->xAxis, plot_->yAxis);
    line->setName(QStringLiteral("Series1"));
    line->setPen(QPen(QColor(128, 255, 0), 1));
    for (QCPGraph* g : {area, line}) {
        g->setData(points_);
        g->setAdaptiveSampling(true);
        g->setLineStyle(QCPGraph::lsLine);
        g->setScatterStyle(QCPScatterStyle::ssNone);
    }
    // A filled area over many points is drawn without antialiasing; it looks
    // the same and costs a fraction.
    area->setAntialiasedFill(false);
    area->setAntialiased(false);
    xMin_ = plot_->xAxis->range().lower;
    xMax_ = plot_->xAxis->range().upper;
    yMin_ = plot_->yAxis->range().lower;
    yMax_ = plot_->yAxis->range().upper;
    plot_->xAxis->setTicker(QSharedPointer<RecordTicker>::create());
    plot_->xAxis->setNumberFormat(QStringLiteral("f"));
    plot_->xAxis->setNumberPrecision(0);

    replotTimer_->setSingleShot(true);
    replotTimer_->setInterval(500);
    // The new picture is shown by the window's next paint, with whatever
    // else that pass changed, rather than by a paint of its own at once.
    connect(replotTimer_, &QTimer::timeout, plot_, [this] { plot_->replot(QCustomPlot::rpQueuedRefresh); });
}

QCPGraph* PlotSurface::series(int index) const {
    return plot_->graph(index);
}

long long PlotSurface::pointCount(int) const {
    return points_->size();
}

void PlotSurface::appendToAllSeries(double value) {
    points_->append(static_cast<double>(points_->size()), value);
    requestReplot();
}

void PlotSurface::emptySeries(int) {
    points_->clear();
    requestReplot();
}

void PlotSurface::setHorizontalManual() {
    // The axis never scales itself; only the controller moves it.
}

double PlotSurface::horizontalMin() const {
    return xMin_;
}
double PlotSurface::horizontalMax() const {
    return xMax_;
}

void PlotSurface::setHorizontalMin(double v) {
    xMin_ = v;
    applyHorizontalRange();
}

void PlotSurface::setHorizontalMax(double v) {
    xMax_ = v;
    applyHorizontalRange();
}

void PlotSurface::applyHorizontalRange() {
    // The axis would swap an inverted range; the controller sets minimum and
    // maximum one after the other, so wait until they make a range again. A
    // page of one position spans that position alone.
    if (xMin_ < xMax_)
        plot_->xAxis->setRange(xMin_, xMax_);
    else if (xMin_ == xMax_)
        plot_->xAxis->setRange(xMin_ - 0.5, xMax_ + 0.5);
    requestReplot();
}

void PlotSurface::applyVerticalRange() {
    if (yMin_ < yMax_)
        plot_->yAxis->setRange(yMin_, yMax_);
    else if (yMin_ == yMax_)
        plot_->yAxis->setRange(yMin_ - 0.5, yMax_ + 0.5);
    requestReplot();
}

bool PlotSurface::scrollHorizontal(double offset) {
    if (points_->isEmpty())
        return false;
    // X counts 0, 1, 2, ... so the smallest and largest X are the ends.
    const double smallest = 0;
    const double largest = static_cast<double>(points_->size() - 1);
    if ((offset > 0 && largest > xMax_) || (offset < 0 && smallest < xMin_)) {
        xMin_ += offset;
        xMax_ += offset;
        applyHorizontalRange();
        return true;
    }
    return false;
}

void PlotSurface::setVerticalMax(double v) {
    yMax_ = v;
    applyVerticalRange();
}

void PlotSurface::setVerticalMin(double v) {
    yMin_ = v;
    applyVerticalRange();
}

void PlotSurface::requestReplot() {
    if (!replotTimer_->isActive())
        replotTimer_->start();
}

} // namespace voltaro
