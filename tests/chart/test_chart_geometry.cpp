// The chart region's places when enlarged and restored.
#include "core/chart/ChartGeometry.h"

#include <gtest/gtest.h>

using namespace voltaro;

TEST(ChartGeometry, EnlargedChartFollowsTheFrameBelowTheBar) {
    EXPECT_EQ(enlargedChartGeometry(QSize(1200, 800)), QRect(2, 28, 1188, 715));
    // Each pixel the frame grows or shrinks, the chart does too.
    EXPECT_EQ(enlargedChartGeometry(QSize(1201, 799)), QRect(2, 28, 1189, 714));
    // The bar sits above the enlarged chart, not over it.
    EXPECT_LT(kChartBarEnlargedPos.y(), enlargedChartGeometry(QSize(1200, 800)).top());
}

TEST(ChartGeometry, TooSmallAFrameGivesNoChartRatherThanAShiftedOne) {
    const QRect r = enlargedChartGeometry(QSize(12, 85));
    EXPECT_EQ(r.topLeft(), QPoint(2, 28));
    EXPECT_TRUE(r.isEmpty());
    EXPECT_TRUE(enlargedChartGeometry(QSize()).isEmpty());
}
