#pragma once

#include <QtGlobal>

#include <functional>

class QPagedPaintDevice;

namespace voltaro {

class ReadingTable;

// The printed report of the reading table: a title and column headings at the
// top of every page, one line per row, and a footer at the foot of every page.
// Positions are millimetres within a 190 mm band on A4 with 10 mm margins.
namespace report {

constexpr qreal kBandWidth = 190.0;
constexpr qreal kPageHeadingHeight = 13.2;
constexpr qreal kColumnHeadingHeight = 13.2;
constexpr qreal kDetailHeight = 6.6;
constexpr qreal kFooterHeight = 13.2;

// Detail lines that fit on a page whose printable area is that many
// millimetres high; at least 1, so a page always makes progress.
int rowsPerPage(qreal printableHeightMm);
// Pages the report of `rows` rows takes; 0 for none.
int pageCount(qsizetype rows, qreal printableHeightMm);

// Told after each page how many of how many pages are done; returning false
// stops the report there.
using Progress = std::function<bool(int pagesDone, int pages)>;

// Paints the whole table onto `device`, one page after the other, using the
// device's own page layout. An empty table paints nothing at all (the device
// is not even begun) and gives false, as does a report `progress` stopped.
bool paint(const ReadingTable& table, QPagedPaintDevice& device, const Progress& progress = {});

} // namespace report
} // namespace voltaro
