#pragma once

#include <string>
#include <string_view>

namespace voltaro {

// The full-scale count of the meter and what follows from it.
struct MeterProfile {
    std::string CountProfile = "22";
    int FullScaleCount = 22000;
    int BarOverloadPos = 22;
    float AlarmHigh = 22002.0f;
    float AlarmLow = -22002.0f;
    std::string SetmaxText = "22000";
    std::string SetMinText = "-22000";
    // The bar graph's maximum; 0 leaves the stored one (40) in place.
    int barMaximum = 22;

    // The row for a profile code ("6", "34", "2", "22"); an unknown code keeps
    // the configured meter's values.
    static MeterProfile forCode(std::string_view code);
};

// The hidden check boxes that fix the protocol variant.
struct ModelSwitches {
    bool IFDX22K = true;
    bool IFRQ350 = false;
    bool IFDX46K = false;
    bool IFDX88M = false;
    bool IFDX46NT = false;
    bool IFDX46P = false;
    bool IFLAB450T = false;
    bool IF3824T = false;
    bool IF4470 = false;
    bool IFOtherT = false;
};

inline constexpr std::string_view kProgramCaption = "Voltaro Interface Program Ver 4.01";

// The window caption for the model switches, with "(x64)" or "(x86)" appended.
std::string windowCaption(const ModelSwitches& switches, bool is64Bit);

// Whether the program runs on a 64-bit system.
bool is64BitSystem();

// The user's decimal separator from the system locale.
std::string readDecimalSep();

} // namespace voltaro
