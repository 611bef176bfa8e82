// The report's page arithmetic: which rows each page holds and where its
// detail lines and footer fall.
#include "core/recording/ReportLayout.h"

#include <gtest/gtest.h>

using namespace voltaro::report;

namespace {

constexpr qreal kA4PrintableHeight = 297.0 - 20.0;
// Headings and footer take 39.6 mm; these fit exactly 1, 2 and 5 detail lines.
constexpr qreal kExactFits[] = {39.6 + 6.6, 39.6 + 13.2, 39.6 + 33.0};

} // namespace

TEST(ReportLayout, PagesSplitTheRowsInOrderWithoutGapOrOverlap) {
    for (const qreal height : {kA4PrintableHeight, kExactFits[0], kExactFits[1], 30.0}) {
        const int perPage = rowsPerPage(height);
        for (const qsizetype rows : {qsizetype{1}, qsizetype{perPage}, qsizetype{perPage + 1},
                                     qsizetype{2 * perPage}, qsizetype{2 * perPage + 1}, qsizetype{100}}) {
            const int pages = pageCount(rows, height);
            qsizetype next = 0;
            for (int page = 0; page < pages; ++page) {
                const PageRows span = pageRows(page, rows, height);
                EXPECT_EQ(span.first, next) << height << " mm, " << rows << " rows, page " << page;
                EXPECT_GT(span.end, span.first);
                EXPECT_LE(span.end - span.first, perPage);
                // Every page but the last is full.
                if (page + 1 < pages) {
                    EXPECT_EQ(span.end - span.first, perPage);
                }
                next = span.end;
            }
            EXPECT_EQ(next, rows) << height << " mm, " << rows << " rows";
            const PageRows past = pageRows(pages, rows, height);
            EXPECT_EQ(past.first, past.end) << "a page past the last holds rows";
        }
    }
}

TEST(ReportLayout, NoRowsOrANegativePageHoldNothing) {
    for (const PageRows span : {pageRows(0, 0, kA4PrintableHeight), pageRows(-1, 10, kA4PrintableHeight),
                                pageRows(0, -5, kA4PrintableHeight)})
        EXPECT_EQ(span.first, span.end);
    EXPECT_EQ(pageRows(0, 10, kA4PrintableHeight).first, 0);
    EXPECT_EQ(pageRows(2, 100, kA4PrintableHeight).first, 70);
    EXPECT_EQ(pageRows(2, 100, kA4PrintableHeight).end, 100);
}

TEST(ReportLayout, DetailLinesFillThePageDownToTheFooterAndNoFurther) {
    EXPECT_DOUBLE_EQ(detailBandTop(0), kPageHeadingHeight + kColumnHeadingHeight);
    EXPECT_DOUBLE_EQ(detailBandTop(3) - detailBandTop(2), kDetailHeight);
    for (const qreal height : {kA4PrintableHeight, kExactFits[0], kExactFits[1], kExactFits[2], 100.0}) {
        const int perPage = rowsPerPage(height);
        const qreal footer = footerBandTop(height);
        EXPECT_DOUBLE_EQ(footer + kFooterHeight, height);
        // The last line of a page ends at or above the footer; one more would run into it.
        EXPECT_LE(detailBandTop(perPage - 1) + kDetailHeight, footer + 1e-9) << height;
        EXPECT_GT(detailBandTop(perPage) + kDetailHeight, footer + 1e-9) << height;
    }
    EXPECT_EQ(rowsPerPage(kExactFits[2]), 5);
}
