#pragma once

// The rows voltaro-log writes of named meters, as a test reads them: cells by
// their column's name, values in SI units, and the derived power checked
// against them.

#include "support/LogProcess.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <optional>

namespace voltaro::testing {

using Row = std::map<QString, QString>;

inline Row rowOf(const QStringList& header, const QString& line) {
    const QStringList cells = line.split('\t');
    EXPECT_EQ(cells.size(), header.size()) << line.toStdString();
    Row row;
    for (qsizetype i = 0; i < header.size() && i < cells.size(); ++i)
        row[header[i]] = cells[i];
    return row;
}

// A meter's value in SI units as the row shows it: the value with the
// prefix of its unit; none when the row holds no usable value.
inline std::optional<double> siOf(const Row& row, const QString& meter) {
    const QString value = row.at(meter + ".value");
    const QString unit = row.at(meter + ".unit");
    if (value.isEmpty() || value.contains('L'))
        return std::nullopt;
    bool ok = false;
    const double v = value.toDouble(&ok);
    EXPECT_TRUE(ok) << value.toStdString();
    const std::map<QChar, double> prefixes{
        {u'n', 1e-9}, {QChar(0xB5), 1e-6}, {u'm', 1e-3}, {u'k', 1e3}, {u'M', 1e6}};
    const auto prefix = prefixes.find(unit.size() > 1 ? unit.front() : QChar());
    return v * (prefix == prefixes.end() ? 1.0 : prefix->second);
}

// The derived column holds the product exactly where both readings are
// usable (to the 15 digits it is written with), and nothing elsewhere.
inline void expectPower(const Row& row, const QString& column = QStringLiteral("P[W]")) {
    const auto v = siOf(row, "V");
    const auto i = siOf(row, "I");
    const QString p = row.at(column);
    if (!v || !i) {
        EXPECT_TRUE(p.isEmpty()) << "a power without both readings: " << p.toStdString();
        return;
    }
    ASSERT_FALSE(p.isEmpty()) << "no power of " << *v << " and " << *i;
    EXPECT_NEAR(p.toDouble(), *v * *i, std::abs(*v * *i) * 1e-14 + 1e-300) << p.toStdString();
}

// The rows voltaro-log prints of named meters, looked through in order as
// they come: the header first, then each row once.
class RowReader {
public:
    explicit RowReader(LogProcess& log) : log_(log) {}

    bool readHeader() {
        if (!log_.waitForLines(1))
            return false;
        header_ = log_.lines[0].split('\t');
        return true;
    }
    // The first row not looked at yet that `holds` (the rows before it are
    // passed over); none when no such row comes within `timeoutMs`.
    std::optional<Row> next(const std::function<bool(const Row&)>& holds, int timeoutMs = 15000) {
        QElapsedTimer waited;
        waited.start();
        for (;; ++next_) {
            const qint64 left = timeoutMs - waited.elapsed();
            if (left <= 0 || !log_.waitForLines(next_ + 1, static_cast<int>(left)))
                return std::nullopt;
            if (Row row = at(next_); holds(row)) {
                ++next_;
                return row;
            }
        }
    }
    // Row `n` (1 is the first after the header), and the next to be looked at.
    Row at(qsizetype n) const { return rowOf(header_, log_.lines[n]); }
    qsizetype position() const { return next_; }
    qsizetype rows() const { return log_.lines.size() - 1; }

private:
    LogProcess& log_;
    QStringList header_;
    qsizetype next_ = 1;
};

} // namespace voltaro::testing
