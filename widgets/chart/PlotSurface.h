#pragma once

#include "core/chart/ChartSurface.h"

#include <QObject>
#include <QSharedPointer>

#include <qcustomplot.h>

class QTimer;

namespace voltaro {

// The recorded points, stored once for both series. Grows by a quarter at a
// time rather than doubling, so a long recording costs at most 20 bytes a point,
// and while it grows the points moved are not resident twice (see grow()).
class RecordPoints : public QCPGraphDataContainer {
public:
    void append(double key, double value);
    qsizetype capacity() const { return mData.capacity(); }

private:
    void grow(qsizetype capacity);
};

// The chart window controller's view of the trend chart, on QCustomPlot:
// series 0 is the area series, series 1 the line series, both drawing the
// same data container. Replots are coalesced to at most two a second.
class PlotSurface : public QObject, public ChartSurface {
    Q_OBJECT
public:
    explicit PlotSurface(QCustomPlot* plot);

    QCustomPlot* plot() const { return plot_; }
    QCPGraph* series(int index) const;
    const RecordPoints& points() const { return *points_; }

    int seriesCount() const override { return 2; }
    long long pointCount(int index) const override;
    void appendToAllSeries(double value) override;
    void emptySeries(int index) override;
    void setHorizontalManual() override;
    double horizontalMin() const override;
    double horizontalMax() const override;
    void setHorizontalMin(double v) override;
    void setHorizontalMax(double v) override;
    bool scrollHorizontal(double offset) override;
    void setVerticalMax(double v) override;
    void setVerticalMin(double v) override;

    // Asks for a replot; the requests of half a second make one, so a
    // streaming meter costs at most two redraws a second.
    void requestReplot();

private:
    void applyHorizontalRange();
    void applyVerticalRange();

    QCustomPlot* plot_;
    QSharedPointer<RecordPoints> points_;
    // Both series draw these; emptying either empties both.
    QTimer* replotTimer_;
    double xMin_ = 0;
    double xMax_ = 0;
    double yMin_ = 0;
    double yMax_ = 0;
};

} // namespace voltaro
