// The file name a chart picture is saved under.
#include "core/chart/ChartPictureName.h"

#include <gtest/gtest.h>

using namespace voltaro;

TEST(ChartPictureName, KeepsBmpAndReplacesOrAddsOtherwise) {
    const struct {
        const char* chosen;
        const char* saved;
    } cases[] = {
        {"/tmp/chart.bmp", "/tmp/chart.bmp"},
        {"/tmp/chart", "/tmp/chart.bmp"},
        {"/tmp/chart.png", "/tmp/chart.bmp"},
        {"/tmp/chart.BMP", "/tmp/chart.bmp"},        // the suffix is compared case-sensitively
        {"/tmp/chart.tar.gz", "/tmp/chart.tar.bmp"}, // only the last suffix goes
        {"/tmp/chart.bmp.png", "/tmp/chart.bmp.bmp"},
        {"/tmp/v1.2/chart", "/tmp/v1.2/chart.bmp"}, // a dot in a folder is no suffix
        {"/tmp/chart.", "/tmp/chart..bmp"},         // a trailing dot leaves the suffix empty
        {"/tmp/.png", "/tmp/.bmp"},
        {"chart.txt", "chart.bmp"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(chartPictureFileName(QString::fromUtf8(c.chosen)), QString::fromUtf8(c.saved)) << c.chosen;
}
