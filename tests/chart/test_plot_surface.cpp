// The trend chart's adapter onto the plot: the controller pages it exactly as
// it pages a chart in memory, both series draw one store of points, and that
// store stays small for long recordings.
#include "core/chart/TChartControl.h"
#include "support/FakeChartSurface.h"
#include "widgets/chart/PlotSurface.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

using voltaro::PlotSurface;
using voltaro::TChartControl;
using voltaro::testing::FakeChartSurface;
using voltaro::testing::pagingOf;

namespace {

// A script is a list of steps: "A250" adds 250 points one by one ("A" one),
// F, P, N and L page to the first, previous, next and last page, "W50" sets
// the window size and C clears the chart.
const struct {
    const char* name;
    const char* steps;
} kScripts[] = {
    {"recording", "A350"},
    {"paging around the first pages", "A101 F N A P P L F L A99 P N N"},
    {"browsing while recording", "A250 P A A60 L F N N N N L"},
    {"window sizes", "A250 W50 W50 P W7 A20 F W1000 W0 W-3 P W100 A3 W1 P A2 W2 P A5 L"},
    {"window size from [-99, 0]", "A101 F W50 A F W100 F W30 A40"},
    {"clearing", "A250 P C A A150 C C A2 N L A101 C A2"},
    {"paging an emptied chart", "A250 C N L P A F A"},
};

// Runs one step; an addition of several points calls `after` after each.
template <typename After> bool run(char op, int arg, TChartControl& a, TChartControl& b, After after) {
    const auto both = [&](auto f) {
        f(a);
        f(b);
        return after();
    };
    switch (op) {
    case 'A':
        for (int i = 0; i < arg; ++i)
            if (!both([i](TChartControl& c) { c.AddPoint(i * 0.25); }))
                return false;
        return true;
    case 'F': return both([](TChartControl& c) { c.FirstPage(); });
    case 'P': return both([](TChartControl& c) { c.PreviousPage(); });
    case 'N': return both([](TChartControl& c) { c.NextPage(); });
    case 'L': return both([](TChartControl& c) { c.LastPage(); });
    case 'W': return both([arg](TChartControl& c) { c.SetWindowSize(arg); });
    case 'C': return both([](TChartControl& c) { c.ClearChart(); });
    }
    ADD_FAILURE() << "no such step: " << op;
    return false;
}

class PlotSurfaceTest : public ::testing::Test {
protected:
    QCustomPlot plot;
    PlotSurface* surface = new PlotSurface(&plot); // owned by the plot
};

} // namespace

TEST_F(PlotSurfaceTest, PagesLikeTheChartInMemoryAfterEveryStep) {
    for (const auto& script : kScripts) {
        SCOPED_TRACE(script.name);
        FakeChartSurface fake;
        QCustomPlot realPlot;
        auto* real = new PlotSurface(&realPlot);
        TChartControl expected(fake, 100), actual(*real, 100);
        std::string step = "start";
        const auto compare = [&] {
            SCOPED_TRACE("after " + step);
            EXPECT_EQ(pagingOf(actual), pagingOf(expected));
            EXPECT_EQ(actual.WindowSize, expected.WindowSize);
            EXPECT_EQ(real->pointCount(0), fake.pointCount(0));
            EXPECT_EQ(real->series(1)->data()->size(), fake.pointCount(1));
            // What the plot shows, wherever the range is a range.
            if (real->horizontalMin() < real->horizontalMax()) {
                EXPECT_EQ(realPlot.xAxis->range().lower, real->horizontalMin());
                EXPECT_EQ(realPlot.xAxis->range().upper, real->horizontalMax());
            }
            return !HasFailure();
        };
        ASSERT_TRUE(compare());
        std::istringstream steps(script.steps);
        while (steps >> step) {
            const int arg = step.size() > 1 ? std::stoi(step.substr(1)) : 1;
            ASSERT_TRUE(run(step[0], arg, expected, actual, compare));
        }
    }
}

TEST_F(PlotSurfaceTest, BothSeriesDrawOneStoreOfPoints) {
    ASSERT_EQ(surface->seriesCount(), 2);
    ASSERT_EQ(plot.graphCount(), 2);
    const QCPGraphDataContainer* store = &surface->points();
    EXPECT_EQ(surface->series(0)->data().data(), store);
    EXPECT_EQ(surface->series(1)->data().data(), store);

    surface->appendToAllSeries(3.5);
    surface->appendToAllSeries(-1);
    for (int s : {0, 1}) {
        const auto data = surface->series(s)->data();
        ASSERT_EQ(data->size(), 2) << "series " << s;
        EXPECT_EQ(data->at(0)->key, 0);
        EXPECT_EQ(data->at(0)->value, 3.5);
        EXPECT_EQ(data->at(1)->key, 1);
        EXPECT_EQ(data->at(1)->value, -1);
    }
    EXPECT_EQ(surface->pointCount(0), 2);
    EXPECT_EQ(surface->pointCount(1), 2);

    // Emptying one empties both, and X counts from 0 again.
    surface->emptySeries(0);
    EXPECT_TRUE(surface->series(1)->data()->isEmpty());
    surface->appendToAllSeries(7);
    EXPECT_EQ(surface->series(1)->data()->at(0)->key, 0);
    EXPECT_EQ(surface->series(0)->data()->size(), 1);
}

TEST_F(PlotSurfaceTest, VerticalRangeReachesTheAxis) {
    TChartControl control(*surface, 100);
    // Start-up, then the decoder's ranges in the order the window sets them.
    for (double full : {22000.0, 2200.0, 22.0, 220.0, 22000.0}) {
        control.SetYMax(full);
        control.SetYMin(-full);
        EXPECT_EQ(plot.yAxis->range().upper, full);
        EXPECT_EQ(plot.yAxis->range().lower, -full);
    }
}

TEST_F(PlotSurfaceTest, EachVerticalBoundIsSetAsGiven) {
    // A bound set past the other one cannot show on the axis until the other
    // one follows (the axis holds no inverted range); once both are set the
    // axis shows exactly the bounds given, whatever it showed before.
    const struct {
        double max, min;
        bool minFirst;
    } ranges[] = {{10, -10, false}, {50, 20, false},  {-5, -30, false}, {-1, -2, false},
                  {100, 90, true},  {-50, -60, true}, {30, 20, true}};
    for (const auto& r : ranges) {
        SCOPED_TRACE(::testing::Message() << "[" << r.min << ", " << r.max << "]");
        if (r.minFirst) {
            surface->setVerticalMin(r.min);
            surface->setVerticalMax(r.max);
        } else {
            surface->setVerticalMax(r.max);
            surface->setVerticalMin(r.min);
        }
        EXPECT_EQ(plot.yAxis->range().lower, r.min);
        EXPECT_EQ(plot.yAxis->range().upper, r.max);
    }
}

TEST_F(PlotSurfaceTest, AOnePositionWindowShowsThatPosition) {
    TChartControl control(*surface, 100);
    for (int i = 0; i < 5; ++i)
        control.AddPoint(i);
    control.SetWindowSize(1);
    // Page 5 stops at X = 4, the newest point; each page back is one earlier.
    for (const double shown : {4.0, 3.0, 2.0}) {
        ASSERT_EQ(surface->horizontalMin(), shown);
        ASSERT_EQ(surface->horizontalMax(), shown);
        const QCPRange axis = plot.xAxis->range();
        EXPECT_TRUE(axis.lower <= shown && shown <= axis.upper && axis.lower > shown - 1 &&
                    axis.upper < shown + 1)
            << "position " << shown << " shows [" << axis.lower << ", " << axis.upper << "]";
        control.PreviousPage();
    }
}

TEST_F(PlotSurfaceTest, LongRecordingsCostAtMostTwentyBytesAPoint) {
    ASSERT_EQ(sizeof(QCPGraphData), 16u);
    qsizetype worstSize = -1, worstCapacity = 0;
    for (int i = 0; i < 200000; ++i) {
        surface->appendToAllSeries(i % 97);
        const qsizetype size = surface->points().size(), capacity = surface->points().capacity();
        if (worstSize < 0 && 4 * capacity > 5 * size + 4 * 1024) {
            worstSize = size;
            worstCapacity = capacity;
        }
    }
    EXPECT_EQ(worstSize, -1) << "capacity " << worstCapacity << " at " << worstSize << " points";
    EXPECT_EQ(surface->points().size(), 200000);
    EXPECT_LE(surface->points().capacity() * qsizetype(sizeof(QCPGraphData)), 20 * 200000);
    // Still one store, in order.
    EXPECT_EQ(surface->series(1)->data()->size(), 200000);
    EXPECT_EQ((surface->points().constEnd() - 1)->key, 199999);
}

TEST_F(PlotSurfaceTest, GrowingKeepsEveryPointAndLeavesACopyAlone) {
    // Past 2 million points the store grows in blocks the system maps on their
    // own, whose copied pages are handed back while they move; a copy of the
    // store taken meanwhile shares the block and must keep its points.
    const auto valueAt = [](int i) { return (i % 2 ? -1.0 : 1.0) * (i % 100003) / 7.0; };
    std::unique_ptr<voltaro::RecordPoints> copy;
    for (int i = 0; i < 2'500'000; ++i) {
        surface->appendToAllSeries(valueAt(i));
        if (i == 1'500'000)
            copy = std::make_unique<voltaro::RecordPoints>(surface->points());
    }
    const voltaro::RecordPoints& points = surface->points();
    ASSERT_EQ(points.size(), 2'500'000);
    for (int i = 0; i < points.size(); ++i) {
        const auto p = points.at(i);
        ASSERT_EQ(p->key, i);
        ASSERT_EQ(p->value, valueAt(i)) << "point " << i;
    }
    ASSERT_EQ(copy->size(), 1'500'001);
    for (int i = 0; i < copy->size(); ++i)
        ASSERT_EQ(copy->at(i)->value, valueAt(i)) << "point " << i << " of the copy";
}
