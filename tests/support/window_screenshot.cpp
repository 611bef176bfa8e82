// Shows the real main window, feeds it a few simulated frames through its
// serial data handler, and saves a picture of it. Used for the README and to
// look at the window as a user sees it (run under Xvfb for a real window).
//   window_screenshot OUT.png [SCENARIO] [FRAMES] [CHART_POINTS PAGE_WIDTH]
// A scenario written usb:NAME sends the frames through a simulated USB cable
// instead, with "USB Connect" pressed.
#include "core/chart/TChartControl.h"
#include "support/SimulatedHidPlatform.h"
#include "tools/MeterSimulator.h"
#include "widgets/app/TFCOMM.h"
#include "widgets/chart/ChartRegion.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <QApplication>
#include <QScreen>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The journal of what is recorded here goes to a folder of its own, not the user's.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_screenshot OUT.png [SCENARIO] [FRAMES]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    std::string scenario = argc > 2 ? argv[2] : "dcv";
    const bool usb = scenario.rfind("usb:", 0) == 0;
    if (usb)
        scenario = scenario.substr(4);
    auto platform = std::make_shared<voltaro::testing::SimulatedHidPlatform>();
    auto cable = voltaro::testing::SimulatedHidDevice::cable();
    platform->plug(cable);
    const int frames = argc > 3 ? std::atoi(argv[3]) : 12;

    voltaro::TFCOMM window(nullptr, platform);
    window.show();
    // Optionally a long recording's worth of chart points (a random walk) on
    // pages of the given width, to look at a dense page.
    if (argc > 5) {
        const long long points = std::atoll(argv[4]);
        window.chart().control().SetWindowSize(std::atoi(argv[5]));
        double v = 0;
        std::uint32_t x = 1;
        for (long long i = 0; i < points; ++i) {
            x = x * 1664525u + 1013904223u;
            v += (static_cast<int>(x >> 24) - 128) / 8.0;
            window.chart().control().AddPoint(v);
        }
        window.chart().control().SetYMax(2000);
        window.chart().control().SetYMin(-2000);
    }
    voltaro::sim::MeterSimulator sim(scenario, 5);
    std::vector<std::uint8_t> bytes = {0x0A};
    for (int i = 0; i < frames; ++i) {
        const auto b = sim.nextSerialBytes();
        bytes.insert(bytes.end(), b.begin(), b.end());
    }
    if (usb) {
        window.findChild<QPushButton*>(QStringLiteral("USBCon"))->click();
        QTimer::singleShot(300, [&] {
            for (int i = 0; i < frames; ++i)
                for (const auto& r : sim.nextHidReports())
                    while (!cable->send({r.begin() + 1, r.end()}))
                        QApplication::processEvents();
        });
    } else {
        QTimer::singleShot(300, [&] { window.DX22KDATA(bytes.data(), static_cast<int>(bytes.size())); });
    }
    QTimer::singleShot(1200, [&] {
        const bool ok = window.grab().save(out);
        std::fprintf(stderr, "%s %s\n", ok ? "saved" : "could not save", qPrintable(out));
        QApplication::exit(ok ? 0 : 1);
    });
    return QApplication::exec();
}
