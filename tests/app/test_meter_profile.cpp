#include "core/decode/MeterProfile.h"

#include <gtest/gtest.h>

using voltaro::MeterProfile;
using voltaro::ModelSwitches;

TEST(MeterProfile, RowsOfTheCountProfiles) {
    struct Row {
        const char* code;
        int fullScale, barOverload, barMax;
        float alarmHigh;
        const char *setmax, *setmin;
    };
    const Row rows[] = {
        {"6", 6000, 60, 0, 6002, "6000", "-6000"},
        {"34", 3400, 34, 0, 3402, "3400", "-3400"},
        {"2", 20000, 20, 20, 20002, "20000", "-20000"},
        {"22", 22000, 22, 22, 22002, "22000", "-22000"},
    };
    for (const auto& r : rows) {
        const auto p = MeterProfile::forCode(r.code);
        EXPECT_EQ(p.CountProfile, r.code);
        EXPECT_EQ(p.FullScaleCount, r.fullScale) << r.code;
        EXPECT_EQ(p.BarOverloadPos, r.barOverload) << r.code;
        EXPECT_EQ(p.barMaximum, r.barMax) << r.code;
        EXPECT_EQ(p.AlarmHigh, r.alarmHigh) << r.code;
        EXPECT_EQ(p.AlarmLow, -r.alarmHigh) << r.code;
        EXPECT_EQ(p.SetmaxText, r.setmax) << r.code;
        EXPECT_EQ(p.SetMinText, r.setmin) << r.code;
    }
    EXPECT_EQ(MeterProfile::forCode("nonsense").FullScaleCount, 22000);
}

TEST(MeterProfile, CaptionFollowsTheSwitchesAndTheSystem) {
    ModelSwitches s;
    EXPECT_EQ(voltaro::windowCaption(s, true), "Voltaro Interface Program Ver 4.01(x64)");
    EXPECT_EQ(voltaro::windowCaption(s, false), "Voltaro Interface Program Ver 4.01(x86)");
    s.IFRQ350 = true; // the later switch wins
    EXPECT_EQ(voltaro::windowCaption(s, true), "Ampello Interface Program _Ver: 1.00(x64)");
    s.IFDX22K = s.IFRQ350 = false;
    EXPECT_EQ(voltaro::windowCaption(s, false), "(x86)");
#if defined(__x86_64__) || defined(__aarch64__)
    EXPECT_TRUE(voltaro::is64BitSystem());
#endif
}
