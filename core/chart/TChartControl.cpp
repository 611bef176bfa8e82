#include "core/chart/TChartControl.h"

namespace voltaro {

TChartControl::TChartControl(ChartSurface& chart, int windowSize) : Chart(chart) {
    SetWindowSize(windowSize > 0 ? windowSize : 1);
    Chart.setHorizontalManual();
    Chart.setHorizontalMin(1);
    Chart.setHorizontalMax(WindowSize);
    PageCount = 1;
    CurrentPage = 1;
}

void TChartControl::pageArithmetic() {
    const long long n = Chart.seriesCount() > 0 ? Chart.pointCount(0) : 0;
    PageCount = static_cast<int>(n / WindowSize + (n % WindowSize > 0 ? 1 : 0));
}

void TChartControl::scroll(int times, double offset) {
    for (int i = 0; i < times; ++i)
        Chart.scrollHorizontal(offset);
}

void TChartControl::AddPoint(double value) {
    Chart.appendToAllSeries(value);
    pageArithmetic();
    if (!Browsing) {
        Chart.scrollHorizontal(WindowSize);
        CurrentPage = PageCount;
    }
}

void TChartControl::FirstPage() {
    if (PageCount < 2 || CurrentPage == 1)
        return;
    scroll(CurrentPage - 1, -WindowSize);
    CurrentPage = 1;
    Browsing = true;
}

void TChartControl::PreviousPage() {
    if (CurrentPage < 2)
        return;
    Chart.scrollHorizontal(-WindowSize);
    CurrentPage -= 1;
    Browsing = true;
}

void TChartControl::NextPage() {
    if (PageCount < 2 || PageCount == CurrentPage)
        return;
    Chart.scrollHorizontal(WindowSize);
    CurrentPage += 1;
    Browsing = CurrentPage != PageCount;
}

void TChartControl::LastPage() {
    if (PageCount < 2 || PageCount == CurrentPage)
        return;
    scroll(PageCount - CurrentPage, WindowSize);
    CurrentPage = PageCount;
    Browsing = false;
}

bool TChartControl::SetWindowSize(int n) {
    if (n < 1)
        return false;
    if (n == WindowSize)
        return true;
    WindowSize = n;
    Chart.setHorizontalMin(1);
    Chart.setHorizontalMax(n);
    pageArithmetic();
    // Page by page up to the newest page; with many pages this is one
    // range change per page, each a pair of stores on the axis.
    scroll(PageCount - 1, n);
    CurrentPage = PageCount;
    Browsing = false;
    return true;
}

void TChartControl::SetYMax(double x) {
    if (x == YMax)
        return;
    YMax = x;
    Chart.setVerticalMax(x);
}

void TChartControl::SetYMin(double x) {
    if (x == YMin)
        return;
    YMin = x;
    Chart.setVerticalMin(x);
}

void TChartControl::ClearChart() {
    FirstPage();
    for (int i = 0; i < Chart.seriesCount(); ++i)
        Chart.emptySeries(i);
    Browsing = false;
}

} // namespace voltaro
