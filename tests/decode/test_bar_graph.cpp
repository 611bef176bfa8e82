// The bar graph's arithmetic: segments, lit segments, lit width and ticks.
#include "core/decode/BarGraph.h"

#include <gtest/gtest.h>

using namespace voltaro;

namespace {

// Maxima the meter's ranges use, and the edges of the whole-segments-per-step rule.
constexpr int kMaxima[] = {1, 2, 4, 6, 22, 40, 64, 65, 128, 129, 220, 1000, 22000};

} // namespace

TEST(BarGraph, MaximumBelowOneIsOneAndPositionsStayOnTheScale) {
    EXPECT_EQ(BarGraph(0).maximum(), 1);
    EXPECT_EQ(BarGraph(-7).maximum(), 1);
    const BarGraph bar(40);
    EXPECT_EQ(bar.clampPosition(-3), 0);
    EXPECT_EQ(bar.clampPosition(0), 0);
    EXPECT_EQ(bar.clampPosition(40), 40);
    EXPECT_EQ(bar.clampPosition(41), 40);
    EXPECT_EQ(bar.litSegments(-3), 0);
    EXPECT_EQ(bar.litSegments(1'000'000), bar.segmentCount());
}

TEST(BarGraph, WideStepsGetWholeSegmentsSoEveryPositionEndsOnATick) {
    for (const int max : kMaxima) {
        const BarGraph bar(max);
        ASSERT_GT(bar.segmentCount(), 0) << max;
        if (bar.segmentsPerStep() == 0)
            continue;
        EXPECT_EQ(bar.segmentCount(), max * bar.segmentsPerStep()) << max;
        for (int pos = 0; pos <= max; ++pos)
            EXPECT_EQ(bar.litSegments(pos), pos * bar.segmentsPerStep()) << max << " at " << pos;
    }
    // The default scale of 40 has two segments a step, a scale of 22000 none.
    EXPECT_EQ(BarGraph(40).segmentsPerStep(), 2);
    EXPECT_EQ(BarGraph(22000).segmentsPerStep(), 0);
}

TEST(BarGraph, SegmentsFillTheBarBetweenItsMargins) {
    for (const int max : kMaxima) {
        const BarGraph bar(max);
        const int last = bar.segmentCount() - 1;
        EXPECT_GE(bar.segmentLeft(0), BarGraph::kMargin) << max;
        EXPECT_LE(bar.segmentLeft(last) + bar.segmentWidth(), BarGraph::kWidth - BarGraph::kMargin) << max;
        // Narrow steps still get segments about the preferred pitch apart.
        if (bar.segmentsPerStep() == 0) {
            EXPECT_NEAR(bar.pitch(), BarGraph::kPreferredPitch, 0.1) << max;
        }
        EXPECT_DOUBLE_EQ(bar.tickX(0), BarGraph::kMargin);
        EXPECT_DOUBLE_EQ(bar.tickX(max), BarGraph::kWidth - BarGraph::kMargin);
    }
}

TEST(BarGraph, LitWidthCoversTheLitSegmentsAndNotTheNext) {
    for (const int max : kMaxima) {
        const BarGraph bar(max);
        EXPECT_EQ(bar.litWidth(0), 0) << max;
        int previous = 0;
        for (int pos = 0; pos <= max; pos += max > 400 ? max / 200 : 1) {
            const int lit = bar.litSegments(pos);
            const int width = bar.litWidth(pos);
            EXPECT_GE(width, previous) << max << " at " << pos;
            previous = width;
            if (lit == 0) {
                EXPECT_EQ(width, 0) << max << " at " << pos;
                continue;
            }
            EXPECT_GE(width, bar.segmentLeft(lit - 1) + bar.segmentWidth()) << max << " at " << pos;
            if (lit < bar.segmentCount()) {
                EXPECT_LE(width, bar.segmentLeft(lit)) << max << " at " << pos;
            }
        }
        EXPECT_LE(bar.litWidth(max), BarGraph::kWidth) << max;
    }
}

TEST(BarGraph, TicksAreAsDenseAsCanBeToldApart) {
    for (const int max : kMaxima) {
        const BarGraph bar(max);
        const BarGraph::Ticks t = bar.ticks();
        EXPECT_EQ(t.majorEvery % t.every, 0) << max;
        const double apart = bar.tickX(t.every) - bar.tickX(0);
        EXPECT_GE(apart, 4.0) << max;
        // Neighbouring scales differ by at most five times, so a scale that was
        // not the densest one readable would leave 20 px or more between ticks.
        if (t.every > 1) {
            EXPECT_LT(apart, 20.0) << max;
        }
    }
    EXPECT_EQ(BarGraph(40).ticks().every, 1);
    EXPECT_EQ(BarGraph(40).ticks().majorEvery, 5);
    EXPECT_EQ(BarGraph(1000).ticks().every, 50);
}
