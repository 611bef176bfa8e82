#include "core/recording/ReportLayout.h"

#include <algorithm>
#include <cmath>

namespace voltaro::report {

namespace {

// A hair of tolerance, so a band that fits exactly is not pushed to the next
// page by rounding in the millimetre arithmetic.
constexpr qreal kFitSlack = 1e-6;

} // namespace

int rowsPerPage(qreal printableHeightMm) {
    const qreal room = printableHeightMm - kPageHeadingHeight - kColumnHeadingHeight - kFooterHeight;
    const int rows = static_cast<int>(std::floor(room / kDetailHeight + kFitSlack));
    return rows < 1 ? 1 : rows;
}

int pageCount(qsizetype rows, qreal printableHeightMm) {
    if (rows <= 0)
        return 0;
    const qsizetype perPage = rowsPerPage(printableHeightMm);
    return static_cast<int>((rows + perPage - 1) / perPage);
}

PageRows pageRows(int page, qsizetype rows, qreal printableHeightMm) {
    if (page < 0 || rows <= 0)
        return {0, 0};
    const qsizetype perPage = rowsPerPage(printableHeightMm);
    const qsizetype end = rows;
    const qsizetype first = std::clamp<qsizetype>(page * perPage, 0, end);
    return {first, std::min(end, first + perPage)};
}

qreal detailBandTop(int line) {
    return kPageHeadingHeight + kColumnHeadingHeight + line * kDetailHeight;
}

qreal footerBandTop(qreal printableHeightMm) {
    return printableHeightMm - kFooterHeight;
}

} // namespace voltaro::report
