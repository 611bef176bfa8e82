#pragma once

#include <QDateTime>
#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace voltaro {

// When voltaro-log's output file is finished and the next part started
// (--rotate): after a time (a day, 12 hours, 30 minutes) or once a part would
// pass a size. Neither set: one file.
struct FileRotation {
    std::chrono::seconds every{0};
    std::int64_t bytes = 0;

    bool on() const { return every.count() > 0 || bytes > 0; }

    // --rotate's text: a whole number and a unit, m, h or d for a time (at
    // least a minute), k, M or G for a size (binary units, at least 1k).
    static std::optional<FileRotation> parse(const std::string& text);

    // When the part started at `from` ends. A period a day divides (1h, 6h,
    // 12h, 1d, 15m) ends on the local clock's multiples of it from midnight,
    // so daily parts run from midnight to midnight; any other runs its
    // length from `from`.
    static QDateTime partEnd(const QDateTime& from, std::chrono::seconds every);

    // The part of `path` started on `date` with the number `number`:
    // /data/bench.txt gives /data/bench-20261211-0001.txt. The date first,
    // then the number within that day, so names sort in the order the parts
    // were written.
    static QString partName(const QString& path, const QDate& date, int number);
    // The number the next part of `path` started on `date` takes: one above
    // the highest part of that day already in the folder, else 1.
    static int nextNumber(const QString& path, const QDate& date);
};

} // namespace voltaro
