#include "core/chart/ChartPictureName.h"

#include <QFileInfo>

namespace voltaro {

QString chartPictureFileName(const QString& chosen) {
    const QString suffix = QFileInfo(chosen).suffix();
    if (suffix == QLatin1String("bmp"))
        return chosen;
    const QString base = suffix.isEmpty() ? chosen : chosen.left(chosen.size() - suffix.size() - 1);
    return base + QStringLiteral(".bmp");
}

} // namespace voltaro
