#pragma once

#include "core/chart/ChartSurface.h"

namespace voltaro {

// Record positions on one chart page until the user sets another width.
constexpr int kDefaultPageWidth = 100;

// The chart's paging: which page of record positions the chart shows,
// following the newest page while recording unless the user paged away.
class TChartControl {
public:
    TChartControl(ChartSurface& chart, int windowSize);

    void AddPoint(double value);
    void FirstPage();
    void PreviousPage();
    void NextPage();
    void LastPage();
    // Refuses a size below 1 (the page arithmetic divides by it) and returns
    // false; otherwise returns true.
    bool SetWindowSize(int n);
    void SetYMax(double x);
    void SetYMin(double x);
    void ClearChart();

    ChartSurface& Chart;
    int CurrentPage = 1;
    int WindowSize = 0;
    int PageCount = 1;
    bool Browsing = false;
    double YMax = 0;
    double YMin = 0;

private:
    void pageArithmetic();
    void scroll(int times, double offset);
};

} // namespace voltaro
