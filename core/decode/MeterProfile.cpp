#include "core/decode/MeterProfile.h"

#include <QLocale>
#include <QSysInfo>

namespace voltaro {

MeterProfile MeterProfile::forCode(std::string_view code) {
    MeterProfile p;
    auto row = [&](int fullScale, int barOverload, int barMax) {
        p.CountProfile = std::string(code);
        p.FullScaleCount = fullScale;
        p.BarOverloadPos = barOverload;
        p.AlarmHigh = static_cast<float>(fullScale + 2);
        p.AlarmLow = static_cast<float>(-(fullScale + 2));
        p.SetmaxText = std::to_string(fullScale);
        p.SetMinText = std::to_string(-fullScale);
        p.barMaximum = barMax;
    };
    if (code == "6")
        row(6000, 60, 0);
    else if (code == "34")
        row(3400, 34, 0);
    else if (code == "2")
        row(20000, 20, 20);
    else {
        row(22000, 22, 22);
        p.CountProfile = "22";
    }
    return p;
}

std::string windowCaption(const ModelSwitches& switches, bool is64Bit) {
    std::string caption;
    if (switches.IFDX22K)
        caption = kProgramCaption;
    if (switches.IFRQ350)
        caption = "Ampello Interface Program _Ver: 1.00";
    caption += is64Bit ? "(x64)" : "(x86)";
    return caption;
}

bool is64BitSystem() {
    return QSysInfo::currentCpuArchitecture().contains(QLatin1String("64"));
}

std::string readDecimalSep() {
    return QLocale::system().decimalPoint().toStdString();
}

} // namespace voltaro
