// The chart's paging against a chart in memory: which record positions the
// window shows, the page button's number, and when new points move the window.
#include "core/chart/TChartControl.h"
#include "support/FakeChartSurface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using voltaro::kDefaultPageWidth;
using voltaro::TChartControl;
using voltaro::testing::FakeChartSurface;
using voltaro::testing::Paging;
using voltaro::testing::pagingOf;

namespace {

class ChartControl : public ::testing::Test {
protected:
    void add(int n) {
        for (int i = 0; i < n; ++i)
            control.AddPoint(1.5);
    }
    Paging paging() const { return pagingOf(control); }
    bool allScrollsBy(double step) const {
        return std::all_of(chart.scrollOffsets.begin(), chart.scrollOffsets.end(),
                           [step](double o) { return o == step || o == -step; });
    }

    FakeChartSurface chart;
    TChartControl control{chart, kDefaultPageWidth};
};

} // namespace

TEST_F(ChartControl, StartsOnPageOneOfTheFirstHundredPositions) {
    EXPECT_EQ(paging(), (Paging{1, 100, 1, 1, false}));
    EXPECT_EQ(control.WindowSize, 100);
    EXPECT_TRUE(chart.manual);
    EXPECT_EQ(chart.pointCount(0), 0);
    // The vertical range is left to the window's start-up.
    EXPECT_EQ(control.YMax, 0);
    EXPECT_EQ(control.YMin, 0);
    EXPECT_EQ(chart.yMaxWrites + chart.yMinWrites, 0);
}

TEST_F(ChartControl, FollowsTheNewestPageWhileRecording) {
    // X counts from 0, so the first point lies left of [1, 100] and the 101st
    // (X = 100) still inside it: the page count runs one point ahead of the range.
    const struct {
        int points;
        Paging expected;
    } cases[] = {
        {1, {1, 100, 1, 1, false}},     {100, {1, 100, 1, 1, false}},   {101, {1, 100, 2, 2, false}},
        {102, {101, 200, 2, 2, false}}, {200, {101, 200, 2, 2, false}}, {201, {101, 200, 3, 3, false}},
        {202, {201, 300, 3, 3, false}}, {250, {201, 300, 3, 3, false}},
    };
    int added = 0;
    for (const auto& c : cases) {
        for (; added < c.points; ++added)
            control.AddPoint(added * 0.5 - 7);
        EXPECT_EQ(paging(), c.expected) << "after " << c.points << " points";
    }
    for (int s = 0; s < chart.seriesCount(); ++s) {
        ASSERT_EQ(chart.pointCount(s), 250);
        for (int i = 0; i < 250; ++i)
            ASSERT_EQ(chart.points(s)[i], (FakeChartSurface::Point{double(i), i * 0.5 - 7}))
                << s << ", " << i;
    }
    EXPECT_EQ(chart.scrollOffsets, std::vector<double>(250, 100.0));
}

TEST_F(ChartControl, FirstPageReachesThePointLeftOfPageOneAndNextPageReturns) {
    add(101);
    control.FirstPage();
    EXPECT_EQ(paging(), (Paging{-99, 0, 1, 2, true}));
    control.NextPage();
    EXPECT_EQ(paging(), (Paging{1, 100, 2, 2, false}));
    add(1);
    EXPECT_EQ(paging(), (Paging{101, 200, 2, 2, false}));
}

TEST_F(ChartControl, NewPointsLeaveTheWindowWhereTheUserPagedTo) {
    add(250);
    control.PreviousPage();
    EXPECT_EQ(paging(), (Paging{101, 200, 2, 3, true}));
    add(1);
    EXPECT_EQ(paging(), (Paging{101, 200, 2, 3, true}));
    control.LastPage();
    EXPECT_EQ(paging(), (Paging{201, 300, 3, 3, false}));

    // A page added while browsing: LastPage takes as many steps as the pages
    // differ, each limit-checked, and following picks up from there.
    control.FirstPage();
    add(50);
    EXPECT_EQ(paging(), (Paging{1, 100, 1, 4, true}));
    control.LastPage();
    EXPECT_EQ(paging(), (Paging{201, 300, 4, 4, false}));
    add(1);
    EXPECT_EQ(paging(), (Paging{301, 400, 4, 4, false}));
    EXPECT_TRUE(allScrollsBy(100));
}

TEST_F(ChartControl, PagesStepOneAtATimeAndFollowOnTheLastPage) {
    add(250);
    const auto scrolls = [&] { return chart.scrollOffsets.size(); };
    size_t before = scrolls();
    control.FirstPage();
    EXPECT_EQ(paging(), (Paging{1, 100, 1, 3, true}));
    EXPECT_EQ(scrolls() - before, 2u);

    before = scrolls();
    control.FirstPage();
    control.PreviousPage();
    EXPECT_EQ(paging(), (Paging{1, 100, 1, 3, true}));
    EXPECT_EQ(scrolls(), before) << "nothing to do on page 1";

    control.NextPage();
    EXPECT_EQ(paging(), (Paging{101, 200, 2, 3, true}));
    control.NextPage();
    EXPECT_EQ(paging(), (Paging{201, 300, 3, 3, false}));

    before = scrolls();
    control.NextPage();
    control.LastPage();
    EXPECT_EQ(paging(), (Paging{201, 300, 3, 3, false}));
    EXPECT_EQ(scrolls(), before) << "nothing to do on the last page";

    control.PreviousPage();
    control.PreviousPage();
    EXPECT_EQ(paging(), (Paging{1, 100, 1, 3, true}));
    before = scrolls();
    control.LastPage();
    EXPECT_EQ(paging(), (Paging{201, 300, 3, 3, false}));
    EXPECT_EQ(scrolls() - before, 2u);
    EXPECT_TRUE(allScrollsBy(100));
}

TEST_F(ChartControl, PagingDoesNothingWithFewerThanTwoPages) {
    for (int points : {0, 1, 100}) {
        FakeChartSurface fake;
        TChartControl c(fake, kDefaultPageWidth);
        for (int i = 0; i < points; ++i)
            c.AddPoint(2);
        const Paging start = pagingOf(c);
        const size_t scrolls = fake.scrollOffsets.size();
        c.NextPage();
        c.LastPage();
        c.PreviousPage();
        c.FirstPage();
        EXPECT_EQ(pagingOf(c), start) << points << " points";
        EXPECT_FALSE(c.Browsing) << points << " points";
        EXPECT_EQ(fake.scrollOffsets.size(), scrolls) << points << " points";
    }
}

TEST_F(ChartControl, TheSameWindowSizeChangesNothingEvenWhilePagedAway) {
    add(250);
    control.PreviousPage();
    const Paging browsing = paging();
    const int writes = chart.rangeWrites;
    const size_t scrolls = chart.scrollOffsets.size();
    EXPECT_TRUE(control.SetWindowSize(100));
    EXPECT_EQ(paging(), browsing);
    EXPECT_EQ(chart.rangeWrites, writes);
    EXPECT_EQ(chart.scrollOffsets.size(), scrolls);
}

TEST_F(ChartControl, AnotherWindowSizeRestartsAndEndsOnTheNewestPage) {
    enum Before { Following, OnFirstPage };
    const struct {
        int points;
        Before before;
        int size;
        Paging expected;
    } cases[] = {
        {250, Following, 50, {201, 250, 5, 5, false}},
        {250, OnFirstPage, 50, {201, 250, 5, 5, false}},
        {250, OnFirstPage, 1000, {1, 1000, 1, 1, false}},
        {250, Following, 3, {247, 249, 84, 84, false}},
        // From [-99, 0]: the range restarts at [1, 50] and the newest point,
        // X = 100, lies on its third page, just inside [51, 100].
        {101, OnFirstPage, 50, {51, 100, 3, 3, false}},
        // No points: no pages, and page 0 until the first point.
        {0, Following, 10, {1, 10, 0, 0, false}},
    };
    for (const auto& c : cases) {
        FakeChartSurface fake;
        TChartControl ctl(fake, kDefaultPageWidth);
        for (int i = 0; i < c.points; ++i)
            ctl.AddPoint(0);
        if (c.before == OnFirstPage)
            ctl.FirstPage();
        fake.scrollOffsets.clear();
        EXPECT_TRUE(ctl.SetWindowSize(c.size));
        EXPECT_EQ(ctl.WindowSize, c.size);
        EXPECT_EQ(pagingOf(ctl), c.expected) << c.points << " points, size " << c.size;
        EXPECT_EQ(fake.scrollOffsets, std::vector<double>(std::max(c.expected.pageCount - 1, 0), c.size));
    }
    // It follows from there: the page count first, then the range.
    add(250);
    control.SetWindowSize(50);
    add(1);
    EXPECT_EQ(paging(), (Paging{201, 250, 6, 6, false}));
    add(1);
    EXPECT_EQ(paging(), (Paging{251, 300, 6, 6, false}));
}

TEST_F(ChartControl, RefusesAWindowSizeBelowOne) {
    add(250);
    control.PreviousPage();
    const Paging browsing = paging();
    const int writes = chart.rangeWrites;
    const size_t scrolls = chart.scrollOffsets.size();
    for (int size : {0, -1, -100}) {
        EXPECT_FALSE(control.SetWindowSize(size)) << size;
        EXPECT_EQ(control.WindowSize, 100);
        EXPECT_EQ(paging(), browsing) << size;
    }
    EXPECT_EQ(chart.rangeWrites, writes);
    EXPECT_EQ(chart.scrollOffsets.size(), scrolls);
    add(50);
    EXPECT_EQ(paging(), (Paging{101, 200, 2, 3, true}));
}

TEST_F(ChartControl, VerticalRangeIsWrittenOnlyWhenTheStoredValueChanges) {
    struct Bound {
        const char* name;
        void (TChartControl::*set)(double);
        double TChartControl::*stored;
        double FakeChartSurface::*axis;
        int FakeChartSurface::*writes;
        double sign;
    };
    for (const Bound b : {Bound{"max", &TChartControl::SetYMax, &TChartControl::YMax, &FakeChartSurface::yMax,
                                &FakeChartSurface::yMaxWrites, 1},
                          Bound{"min", &TChartControl::SetYMin, &TChartControl::YMin, &FakeChartSurface::yMin,
                                &FakeChartSurface::yMinWrites, -1}}) {
        SCOPED_TRACE(b.name);
        const double laidOut = chart.*b.axis;
        (control.*b.set)(0); // the stored value after construction
        EXPECT_EQ(chart.*b.axis, laidOut);
        EXPECT_EQ(chart.*b.writes, 0);

        (control.*b.set)(b.sign * 22000);
        EXPECT_EQ(control.*b.stored, b.sign * 22000);
        EXPECT_EQ(chart.*b.axis, b.sign * 22000);
        EXPECT_EQ(chart.*b.writes, 1);

        // Something else moves the axis; the stored value still decides.
        chart.*b.axis = b.sign * 5;
        (control.*b.set)(b.sign * 22000);
        EXPECT_EQ(chart.*b.axis, b.sign * 5);
        EXPECT_EQ(chart.*b.writes, 1);

        (control.*b.set)(b.sign * 2200);
        EXPECT_EQ(chart.*b.axis, b.sign * 2200);
        EXPECT_EQ(chart.*b.writes, 2);
    }
}

TEST_F(ChartControl, ClearChartEmptiesEverySeriesAndFollowsTheNextPoint) {
    add(250);
    control.PreviousPage();
    control.ClearChart();
    EXPECT_EQ(chart.pointCount(0), 0);
    EXPECT_EQ(chart.pointCount(1), 0);
    // Back on page 1; the page count waits for the next point.
    EXPECT_EQ(paging(), (Paging{1, 100, 1, 3, false}));

    control.AddPoint(4);
    EXPECT_EQ(paging(), (Paging{1, 100, 1, 1, false}));
    EXPECT_EQ(chart.points(0), (std::vector<FakeChartSurface::Point>{{0, 4}}));
    EXPECT_EQ(chart.points(1), chart.points(0));
    add(101);
    EXPECT_EQ(paging(), (Paging{101, 200, 2, 2, false}));
}
