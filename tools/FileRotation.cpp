#include "tools/FileRotation.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace voltaro {

namespace {

constexpr std::int64_t kDay = 24 * 3600;

// The name's stem and its extension with the dot ("bench", ".txt"); a name
// starting with its only dot has no extension.
std::pair<QString, QString> splitName(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot <= 0)
        return {fileName, QString()};
    return {fileName.left(dot), fileName.mid(dot)};
}

} // namespace

std::optional<FileRotation> FileRotation::parse(const std::string& text) {
    if (text.size() < 2 || text.size() > 12)
        return std::nullopt;
    const std::string digits = text.substr(0, text.size() - 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const std::uint64_t n = std::stoull(digits);
    // The unit in seconds or bytes; up to ten years or a terabyte, far beyond
    // any part and within a timer's and a file offset's reach.
    std::uint64_t unit = 0;
    bool time = true;
    switch (text.back()) {
    case 'm': unit = 60; break;
    case 'h': unit = 3600; break;
    case 'd': unit = kDay; break;
    case 'k': unit = 1ull << 10, time = false; break;
    case 'M': unit = 1ull << 20, time = false; break;
    case 'G': unit = 1ull << 30, time = false; break;
    default: return std::nullopt;
    }
    if (n == 0 || n > (time ? 3660ull * kDay : 1ull << 40) / unit)
        return std::nullopt;
    FileRotation r;
    if (time)
        r.every = std::chrono::seconds(static_cast<std::int64_t>(n * unit));
    else
        r.bytes = static_cast<std::int64_t>(n * unit);
    return r;
}

QDateTime FileRotation::partEnd(const QDateTime& from, std::chrono::seconds every) {
    const std::int64_t period = every.count();
    if (period <= 0 || kDay % period != 0)
        return from.addSecs(period);
    const std::int64_t intoDay = from.time().msecsSinceStartOfDay() / 1000;
    const std::int64_t next = (intoDay / period + 1) * period;
    if (next >= kDay)
        return QDateTime(from.date().addDays(1), QTime(0, 0));
    return QDateTime(from.date(), QTime::fromMSecsSinceStartOfDay(static_cast<int>(next * 1000)));
}

QString FileRotation::partName(const QString& path, const QDate& date, int number) {
    const QFileInfo info(path);
    const auto [stem, extension] = splitName(info.fileName());
    return info.dir().filePath(QStringLiteral("%1-%2-%3%4")
                                   .arg(stem, date.toString(QStringLiteral("yyyyMMdd")))
                                   .arg(number, 4, 10, QLatin1Char('0'))
                                   .arg(extension));
}

int FileRotation::nextNumber(const QString& path, const QDate& date) {
    const QFileInfo info(path);
    const auto [stem, extension] = splitName(info.fileName());
    const QRegularExpression part(QStringLiteral("^%1-%2-(\\d{4,9})%3$")
                                      .arg(QRegularExpression::escape(stem),
                                           date.toString(QStringLiteral("yyyyMMdd")),
                                           QRegularExpression::escape(extension)));
    int highest = 0;
    for (const QString& name : info.dir().entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (const auto m = part.match(name); m.hasMatch())
            highest = std::max(highest, m.captured(1).toInt());
    }
    return highest + 1;
}

} // namespace voltaro
