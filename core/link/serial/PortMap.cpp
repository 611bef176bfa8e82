#include "core/link/serial/PortMap.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>

namespace voltaro {

namespace {

// Device files of one family ("ttyUSB0", "ttyUSB1", ...) sorted by their
// number, not as text. Unreadable ones are listed too, so that opening one
// tells the user about the permission instead of silently picking another.
QStringList numbered(const QDir& dir, const QString& stem) {
    const QRegularExpression pattern(QStringLiteral("^%1(\\d+)$").arg(stem));
    QList<std::pair<int, QString>> found;
    for (const QString& n : dir.entryList({stem + QStringLiteral("*")}, QDir::System | QDir::Files))
        if (const auto m = pattern.match(n); m.hasMatch())
            found.append({m.captured(1).toInt(), dir.filePath(n)});
    std::sort(found.begin(), found.end());
    QStringList paths;
    for (const auto& f : found)
        paths << f.second;
    return paths;
}

} // namespace

QStringList PortMap::candidates(const QString& devDir) {
    const QDir dir(devDir);
    QStringList list = numbered(dir, QStringLiteral("ttyUSB")) + numbered(dir, QStringLiteral("ttyACM"));
    // The built-in ports exist as device files whether or not a UART is
    // fitted; the first four are all the choices can reach.
    for (int i = 0; i < kChoices; ++i)
        list << dir.filePath(QStringLiteral("ttyS%1").arg(i));
    return list;
}

QString PortMap::resolve(int number, const QStringList& candidates) {
    if (number < 1 || number > kChoices)
        return {};
    const QString overridden = qEnvironmentVariable(qPrintable(QStringLiteral("VOLTARO_COM%1").arg(number)));
    if (!overridden.isEmpty())
        return overridden;
    // Choices that are overridden take no device from the list, and a device
    // that one of them names is not handed to another choice as well.
    QStringList overrides;
    for (int n = 1; n <= kChoices; ++n)
        overrides << qEnvironmentVariable(qPrintable(QStringLiteral("VOLTARO_COM%1").arg(n)));
    QStringList free;
    for (const QString& c : candidates)
        if (!overrides.contains(c))
            free << c;
    int index = 0;
    for (int n = 1; n < number; ++n)
        if (overrides[n - 1].isEmpty())
            ++index;
    return index < free.size() ? free[index] : QString();
}

QString PortMap::devicePath(int number) {
    return resolve(number, candidates());
}

} // namespace voltaro
