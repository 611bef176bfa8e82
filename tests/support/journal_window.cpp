// The window as the program runs it, recording a meter on "COM 1"
// (VOLTARO_COM1) with no record limit, for the tests that end it from outside
// (a kill, a signal) and recover its journal. It is built as app/main.cpp
// builds it; then the record limit is set to "limitless", "Repeat" is left on
// (every frame becomes a row) and "COM Connect" is pressed.
//
// Every row the table gains is written to standard output as its text line,
// at once after the serial data that made it and before anything else runs,
// so the test knows which rows the table held, and when; the rows recorded
// after the event loop ended follow at the end. Exits 3 when the window is
// not set up to record every frame, 4 when the port does not open.
#include "app/EndingSignals.h"
#include "app/TFCOMM.h"
#include "link/serial/TComPortDriver.h"
#include "recording/DataFiles.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

// Writes the rows of `table` not written yet to standard output, unbuffered:
// what is written is in the pipe even if the process is killed right after.
class RowReporter {
public:
    explicit RowReporter(const voltaro::ReadingTable& table) : table_(table) {}

    void report() {
        QByteArray lines;
        for (; reported_ < table_.rowCount(); ++reported_)
            lines += voltaro::datafiles::textLine(table_, reported_);
        const char* data = lines.constData();
        qsizetype left = lines.size();
        while (left > 0) {
            const ssize_t n = ::write(STDOUT_FILENO, data, static_cast<std::size_t>(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            data += n;
            left -= n;
        }
    }

private:
    const voltaro::ReadingTable& table_;
    qsizetype reported_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString());
    voltaro::TFCOMM FCOMM;
    voltaro::endOnSignals(FCOMM);
    QWidget TForm1;
    TForm1.setObjectName(QStringLiteral("TForm1"));
    TForm1.setWindowTitle(QStringLiteral("Form1"));
    TForm1.resize(696, 480);
    FCOMM.show();

    RowReporter reporter(FCOMM.recording().table());
    // The window's own handler, followed by the report.
    FCOMM.linkBar().driver().setOnReceiveData(
        [&](voltaro::TComPortDriver*, const void* data, std::int32_t size) {
            FCOMM.DX22KDATA(static_cast<const std::uint8_t*>(data), size);
            reporter.report();
        });
    // Rows that come another way are reported within a tenth of a second.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] { reporter.report(); });
    poll.start(100);

    auto* limitless = FCOMM.findChild<QAction*>(QStringLiteral("limitess"));
    auto* repeat = FCOMM.findChild<QCheckBox*>(QStringLiteral("RepeatSet"));
    auto* connect = FCOMM.findChild<QPushButton*>(QStringLiteral("COMCon"));
    if (!limitless || !repeat || !connect) {
        std::fprintf(stderr, "journal_window: a control is missing\n");
        return 3;
    }
    limitless->trigger();
    if (!limitless->isChecked() || !repeat->isChecked()) {
        std::fprintf(stderr, "journal_window: the window does not record every frame\n");
        return 3;
    }
    connect->click();
    if (!FCOMM.linkBar().driver().Connected()) {
        std::fprintf(stderr, "journal_window: COM 1 (%s) did not open\n",
                     qgetenv("VOLTARO_COM1").constData());
        return 4;
    }
    const int status = QApplication::exec();
    reporter.report();
    return status;
}
