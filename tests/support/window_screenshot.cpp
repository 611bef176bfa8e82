// Shows the real main window, feeds it a few simulated frames through its
// serial data handler, and saves a picture of it. Used for the README and to
// look at the window as a user sees it (run under Xvfb for a real window).
//   window_screenshot OUT.png [SCENARIO] [FRAMES]
#include "app/TFCOMM.h"
#include "tools/MeterSimulator.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_screenshot OUT.png [SCENARIO] [FRAMES]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const std::string scenario = argc > 2 ? argv[2] : "dcv";
    const int frames = argc > 3 ? std::atoi(argv[3]) : 12;

    voltaro::TFCOMM window;
    window.show();
    voltaro::sim::MeterSimulator sim(scenario, 5);
    std::vector<std::uint8_t> bytes = {0x0A};
    for (int i = 0; i < frames; ++i) {
        const auto b = sim.nextSerialBytes();
        bytes.insert(bytes.end(), b.begin(), b.end());
    }
    QTimer::singleShot(300, [&] { window.DX22KDATA(bytes.data(), static_cast<int>(bytes.size())); });
    QTimer::singleShot(1200, [&] {
        const bool ok = window.grab().save(out);
        std::fprintf(stderr, "%s %s\n", ok ? "saved" : "could not save", qPrintable(out));
        QApplication::exit(ok ? 0 : 1);
    });
    return QApplication::exec();
}
