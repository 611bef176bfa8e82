#include "core/chart/ChartGeometry.h"

namespace voltaro {

QRect enlargedChartGeometry(QSize windowFrameSize) {
    return QRect(2, 28, windowFrameSize.width() - 12, windowFrameSize.height() - 85);
}

} // namespace voltaro
