// Program entry: the main window and the second, never-shown window, then the
// event loop until the application is told to quit.
#include "core/recording/FileWrites.h"
#include "widgets/app/EndingSignals.h"
#include "widgets/app/TFCOMM.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "usage: voltaro-interface [--help] [--version] [Qt options]\n"
    "Shows a handheld 22000-count multimeter's readings in a window: the meter's LCD, the\n"
    "Pass/Fail judgement against your limits, the table of recorded readings and a trend chart.\n"
    "The meter is read over a serial port (the choices COM 1 to COM 4) or through its USB cable.\n"
    "\n"
    "  --help       print this help and exit\n"
    "  --version    print the version and exit\n"
    "Any other argument goes to Qt (for example -platform offscreen).\n"
    "\n"
    "Environment:\n"
    "  VOLTARO_COM1 .. VOLTARO_COM4  the device file a port choice opens, for example the\n"
    "                                pseudo-terminal of meter-sim --pty; a choice not named takes\n"
    "                                the next USB-serial adapter, then the next built-in port\n"
    "  XDG_STATE_HOME                the journal of unsaved readings is kept in its folder\n"
    "                                voltaro-interface (default ~/.local/state/voltaro-interface)\n"
    "  XDG_RUNTIME_DIR               the claims on the ports and cables being read are kept in its\n"
    "                                folder voltaro-interface, so two instances never share one\n";

} // namespace

int main(int argc, char** argv) {
    // Answered before any QApplication exists, so they need no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("voltaro-interface %s\n", VOLTARO_VERSION);
            return 0;
        }
    }
    voltaro::filewrites::withholdWritesFromOthers();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString());
    voltaro::TFCOMM FCOMM;
    voltaro::endOnSignals(FCOMM);
    QWidget TForm1;
    TForm1.setObjectName(QStringLiteral("TForm1"));
    TForm1.setWindowTitle(QStringLiteral("Form1"));
    TForm1.resize(696, 480);
    FCOMM.show();
    return QApplication::exec();
}
