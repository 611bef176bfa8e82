#pragma once

#include "core/recording/ReadingTable.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>
#include <utility>
#include <vector>

namespace voltaro {

// The journal's own line format. A journal must give back exactly what the
// window held, which a text table cannot (it has no NVal column and writes an
// empty text as "NULL"), so each line is one event, in the order it happened,
// with LF after it:
//
//   R <No> <time> <DC/AC> <Value> <Unit> <Auto> <NVal> <plotted>   a recorded row
//   P <plotted>                                                       a chart point without a row
//   N                                                                 the chart started again
//   S <maximum> <minimum>                                             the chart's vertical range from here on
//
// The columns are separated by tabs. "\N" stands for a null field; in texts
// (UTF-8) a backslash, tab, CR and LF are written "\\", "\t", "\r" and "\n",
// so every text reads back as it was and a line holds no line break. Numbers
// are decimal, the plotted values as short as reads back to the same double.
namespace journalformat {

QByteArray header();
// Whether `bytes` begin with this format's header; a journal that does not
// is a text table of an earlier version.
bool isJournal(QByteArrayView bytes);

// `plotted` is none for a row the chart drew nothing for (a row of an
// earlier version's journal that held no number).
void appendRow(const ReadingTable& table, qsizetype row, std::optional<double> plotted, QByteArray& out);
void appendPoint(double plotted, QByteArray& out);
void appendChartNew(QByteArray& out);
void appendScale(double maximum, double minimum, QByteArray& out);

// The lines one recording journals, in their order: the chart's lines wait
// for the next row or point and go in the same append, so a journal always
// ends after a whole reading, and a range is said only when it differs from
// the last one said.
class Lines {
public:
    void chartNew() { appendChartNew(waiting_); }
    void scale(double maximum, double minimum);
    // The waiting chart lines with the row's or the point's line, taken.
    QByteArray row(const ReadingTable& table, qsizetype row, std::optional<double> plotted);
    QByteArray point(double plotted);
    // The journal was emptied: the next range is said again.
    void forgetScale() { scale_.reset(); }

private:
    QByteArray waiting_;
    std::optional<std::pair<double, double>> scale_;
};

// One line read back.
struct Entry {
    enum class Kind : std::uint8_t { Row, Point, ChartNew, Scale };
    Kind kind = Kind::Row;
    qsizetype row = -1;            // Row: its index in the table read into
    std::optional<double> plotted; // Row, Point: what the chart drew (none: nothing)
    double maximum = 0;            // Scale
    double minimum = 0;            // Scale
};

// Reads the lines after the header into `table` (appended) and `entries`, up
// to the first line that does not read or does not end in LF; returns the
// bytes taken. Nothing of a line that does not read is taken.
qsizetype read(QByteArrayView bytes, ReadingTable& table, std::vector<Entry>& entries);

} // namespace journalformat
} // namespace voltaro
