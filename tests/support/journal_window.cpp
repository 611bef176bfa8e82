// The window as the program runs it, recording a meter on "COM 1"
// (VOLTARO_COM1) with no record limit, for the tests that end it from outside
// (a kill, a signal) and recover its journal. It is built as widgets/app/main.cpp
// builds it; then the record limit is set to "limitless", "Repeat" is left on
// (every frame becomes a row) and "COM Connect" is pressed.
//
// What the table and the chart gain is written to standard output at once
// after each byte of serial data (so after each frame on its own) and before
// anything else runs, so the test knows what they held, and when; what comes
// after the event loop ended follows at the end. The lines, each ending in LF:
//   R <field>...    a row: each field "~" when null, else "=" and its text
//                   percent-encoded (UTF-8)
//   N               the chart no longer holds what was reported: it starts again
//   P <value>       the chart gained this point (printed with 17 digits)
// Exits 3 when the window is not set up to record every frame, 4 when the
// port does not open.
#include "core/link/serial/TComPortDriver.h"
#include "widgets/app/EndingSignals.h"
#include "widgets/app/TFCOMM.h"
#include "widgets/chart/ChartRegion.h"
#include "widgets/chart/PlotSurface.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

// Writes what `window` gained since the last report to standard output,
// unbuffered: what is written is in the pipe even if the process is killed
// right after.
class Reporter {
public:
    explicit Reporter(voltaro::TFCOMM& window) : window_(window) {}

    void report() {
        QByteArray lines;
        const voltaro::RecordPoints& points = window_.chart().plot().points();
        bool extends = points.size() >= static_cast<int>(chart_.size());
        for (std::size_t i = 0; extends && i < chart_.size(); ++i)
            extends = (points.constBegin() + static_cast<int>(i))->value == chart_[i];
        if (!extends) {
            lines += "N\n";
            chart_.clear();
        }
        for (auto p = points.constBegin() + static_cast<int>(chart_.size()); p != points.constEnd(); ++p) {
            chart_.push_back(p->value);
            lines += "P\t" + QByteArray::number(p->value, 'g', 17) + '\n';
        }
        const voltaro::ReadingTable& table = window_.recording().table();
        for (; reported_ < table.rowCount(); ++reported_) {
            lines += 'R';
            for (int f = 0; f < voltaro::ReadingTable::FieldCount; ++f)
                lines += table.isNull(reported_, f)
                             ? QByteArray("\t~")
                             : "\t=" + table.text(reported_, f).toUtf8().toPercentEncoding();
            lines += '\n';
        }
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
    voltaro::TFCOMM& window_;
    qsizetype reported_ = 0;
    std::vector<double> chart_;
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

    Reporter reporter(FCOMM);
    // The window's own handler a byte at a time, each followed by the report.
    FCOMM.linkBar().driver().setOnReceiveData(
        [&](voltaro::TComPortDriver*, const void* data, std::int32_t size) {
            for (std::int32_t i = 0; i < size; ++i) {
                FCOMM.DX22KDATA(static_cast<const std::uint8_t*>(data) + i, 1);
                reporter.report();
            }
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
