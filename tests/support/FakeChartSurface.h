#pragma once

// A chart in memory for the chart window controller's tests, and a snapshot
// of what the user sees of the paging (range, page button, following).

#include "core/chart/ChartSurface.h"
#include "core/chart/TChartControl.h"

#include <algorithm>
#include <ostream>
#include <vector>

namespace voltaro::testing {

// Behaves as the real chart does for the controller: every series holds its
// own points, a point's X is the number of points its series held before it,
// and a scroll moves the range only toward points that lie beyond it. Counts
// what the controller asks of it; the axis fields are public so a test can
// change the axis behind the controller's back.
class FakeChartSurface : public ChartSurface {
public:
    struct Point {
        double x;
        double y;
        bool operator==(const Point&) const = default;
    };

    explicit FakeChartSurface(int seriesCount = 2) : series_(static_cast<size_t>(seriesCount)) {}

    int seriesCount() const override { return static_cast<int>(series_.size()); }
    long long pointCount(int index) const override { return static_cast<long long>(points(index).size()); }
    void appendToAllSeries(double value) override {
        for (auto& s : series_)
            s.push_back({static_cast<double>(s.size()), value});
    }
    void emptySeries(int index) override { series_.at(static_cast<size_t>(index)).clear(); }

    void setHorizontalManual() override { manual = true; }
    double horizontalMin() const override { return xMin; }
    double horizontalMax() const override { return xMax; }
    void setHorizontalMin(double v) override {
        xMin = v;
        ++rangeWrites;
    }
    void setHorizontalMax(double v) override {
        xMax = v;
        ++rangeWrites;
    }
    bool scrollHorizontal(double offset) override {
        scrollOffsets.push_back(offset);
        bool any = false;
        double smallest = 0, largest = 0;
        for (const auto& s : series_)
            for (const Point& p : s) {
                smallest = any ? std::min(smallest, p.x) : p.x;
                largest = any ? std::max(largest, p.x) : p.x;
                any = true;
            }
        if (!any || !((offset > 0 && largest > xMax) || (offset < 0 && smallest < xMin)))
            return false;
        xMin += offset;
        xMax += offset;
        return true;
    }

    void setVerticalMax(double v) override {
        yMax = v;
        ++yMaxWrites;
    }
    void setVerticalMin(double v) override {
        yMin = v;
        ++yMinWrites;
    }

    const std::vector<Point>& points(int index) const { return series_.at(static_cast<size_t>(index)); }

    // The ranges as the window layout stores them, until the controller
    // replaces them.
    bool manual = false;
    double xMin = 0, xMax = 96.15384615384616;
    double yMin = -2200, yMax = 2200;
    int rangeWrites = 0, yMaxWrites = 0, yMinWrites = 0;
    std::vector<double> scrollOffsets; // every scroll asked for, moved or not

private:
    std::vector<std::vector<Point>> series_;
};

// The visible window and the paging state, compared as one.
struct Paging {
    double min, max;
    int currentPage, pageCount;
    bool browsing;
    bool operator==(const Paging&) const = default;
};

inline Paging pagingOf(const TChartControl& c) {
    return {c.Chart.horizontalMin(), c.Chart.horizontalMax(), c.CurrentPage, c.PageCount, c.Browsing};
}

inline std::ostream& operator<<(std::ostream& os, const Paging& p) {
    return os << "[" << p.min << ", " << p.max << "] page " << p.currentPage << " of " << p.pageCount
              << (p.browsing ? ", browsing" : ", following");
}

} // namespace voltaro::testing
