#pragma once

namespace voltaro {

// What the chart window controller needs of a chart, and nothing more: an
// ordered list of series that all hold the same points, appending a value
// at X = the number of points held, a manual horizontal range with a
// limit-checked scroll, a vertical range, and emptying.
class ChartSurface {
public:
    virtual ~ChartSurface() = default;

    virtual int seriesCount() const = 0;
    // Points in series `index` (every series holds the same points).
    virtual long long pointCount(int index) const = 0;
    // Appends `value` to every series at X = the points already held.
    virtual void appendToAllSeries(double value) = 0;
    virtual void emptySeries(int index) = 0;

    virtual void setHorizontalManual() = 0;
    virtual double horizontalMin() const = 0;
    virtual double horizontalMax() const = 0;
    virtual void setHorizontalMin(double v) = 0;
    virtual void setHorizontalMax(double v) = 0;
    // Moves the horizontal range by `offset`, but only toward points that lie
    // beyond it: forward when the largest X exceeds the maximum, backward when
    // the smallest X is below the minimum. Returns whether it moved.
    virtual bool scrollHorizontal(double offset) = 0;

    virtual void setVerticalMax(double v) = 0;
    virtual void setVerticalMin(double v) = 0;
};

} // namespace voltaro
