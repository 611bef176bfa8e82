#pragma once

// What the data-file tests do with files and tables: read and write a file
// whole, and show a table's every field for whole-table comparisons.

#include "core/recording/ReadingTable.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace voltaro::testing {

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

inline void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Every field of every row, nulls shown as "<null>".
inline QStringList dump(const ReadingTable& t) {
    QStringList out;
    for (qsizetype r = 0; r < t.rowCount(); ++r) {
        QStringList cells;
        for (int f = 0; f < ReadingTable::FieldCount; ++f)
            cells << (t.isNull(r, f) ? QStringLiteral("<null>") : t.text(r, f));
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

} // namespace voltaro::testing
