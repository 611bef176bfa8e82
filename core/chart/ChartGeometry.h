#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace voltaro {

// Where the chart region's parts go in the window when the chart is enlarged
// to fill it and when it is restored.

// The chart bar's top left corner while the chart is enlarged and after it
// is restored.
constexpr QPoint kChartBarEnlargedPos(2, 2);
constexpr QPoint kChartBarRestoredPos(341, 166);

// The enlarged chart's geometry for a window whose frame (title bar and
// borders included) is that big: below the chart bar, up to the frame's right
// and bottom less the borders. Not clamped: a frame too small for any chart
// gives an empty or negative size.
QRect enlargedChartGeometry(QSize windowFrameSize);

} // namespace voltaro
