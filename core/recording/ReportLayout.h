#pragma once

#include <QtGlobal>

namespace voltaro::report {

// Where the report's lines fall on its pages. Positions are millimetres from
// the top of the printable area, within a 190 mm band on A4 with 10 mm
// margins; every page has a title and column headings at the top, detail lines
// below them and a footer at its foot.

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

// The rows [first, end) of a report of `rows` rows that page `page` (from 0)
// holds; empty (first == end) for a page past the last.
struct PageRows {
    qsizetype first;
    qsizetype end;
};
PageRows pageRows(int page, qsizetype rows, qreal printableHeightMm);

// Top of the band of the detail line `line` (from 0) of its page.
qreal detailBandTop(int line);
// Top of the column headings' band.
constexpr qreal kColumnHeadingTop = kPageHeadingHeight;
// Top of the footer's band on a page that high.
qreal footerBandTop(qreal printableHeightMm);

} // namespace voltaro::report
