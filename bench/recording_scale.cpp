// The whole program with a long recording: fills the real window's table and
// chart through INDataToTable with ROWS readings (the "limitless" setting),
// then reports the process's peak memory, the grid's jump to the newest row
// and a page scroll, each with its repaint, and the CPU the window spends
// recording on at the line's rate (137 readings a second) with that table.
//   recording_scale [ROWS] [SECONDS]   (default 10,000,000 rows, 20 s)
#include "bench/BenchSupport.h"
#include "core/recording/ReadingTableModel.h"
#include "widgets/app/TFCOMM.h"
#include "widgets/chart/ChartRegion.h"
#include "widgets/chart/PlotSurface.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    // The journal of what is recorded here goes to a folder of its own, not the user's.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    const long long rows = argc > 1 ? std::atoll(argv[1]) : 10'000'000LL;
    const double lineSeconds = argc > 2 ? std::atof(argv[2]) : 20.0;
    voltaro::TFCOMM w;
    w.show();
    w.findChild<QAction*>(QStringLiteral("limitess"))->trigger();
    QApplication::processEvents();

    QElapsedTimer t;
    t.start();
    voltaro::Reading r;
    r.FuncText = "DC";
    r.UnitText = "V";
    r.RangeText = "AUTO";
    r.JudgeText = "Pass";
    long long recorded = 0;
    const auto recordOne = [&] {
        r.ValueText = std::to_string(recorded % 22000);
        r.Count = static_cast<double>(recorded % 22000);
        r.ScaledValue = r.Count / 1000.0;
        w.recordAndPlot(r);
        ++recorded;
    };
    while (recorded < rows) {
        recordOne();
        if (recorded % 100000 == 0)
            QApplication::processEvents();
    }
    const double fillSeconds = t.nsecsElapsed() / 1e9;
    QApplication::processEvents();
    w.recording().model().flush();

    t.restart();
    QTableView* grid = w.findChild<QTableView*>(QStringLiteral("DBGrid1"));
    grid->selectRow(static_cast<int>(rows - 1));
    grid->scrollToBottom();
    grid->viewport()->repaint();
    const double jumpMs = t.nsecsElapsed() / 1e6;
    t.restart();
    QScrollBar* bar = grid->verticalScrollBar();
    for (int i = 0; i < 20; ++i) {
        bar->setValue(bar->value() - bar->pageStep());
        grid->viewport()->repaint();
    }
    const double scrollMs = t.nsecsElapsed() / 1e6 / 20;

    // The line's rate, in the 50 ms bites the serial driver hands over.
    constexpr double kLineRate = 137.0;
    QTimer feed;
    feed.setInterval(50);
    QElapsedTimer line;
    const long long atStart = recorded;
    QObject::connect(&feed, &QTimer::timeout, [&] {
        while (recorded - atStart < static_cast<long long>(line.nsecsElapsed() / 1e9 * kLineRate))
            recordOne();
    });
    const double cpu0 = voltaro::bench::processCpuSeconds();
    line.start();
    feed.start();
    // exit(), not quit(): quitting closes the window, which asks about the unsaved rows.
    QTimer::singleShot(static_cast<int>(lineSeconds * 1000), &app, [] { QApplication::exit(0); });
    app.exec();
    const double lineWall = line.nsecsElapsed() / 1e9;
    const double lineCpu = voltaro::bench::processCpuSeconds() - cpu0;

    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const double peakMiB = u.ru_maxrss / 1024.0;
    std::printf("rows %lld (table %lld, chart points %lld) filled in %.1f s\n", rows,
                static_cast<long long>(w.recording().table().rowCount()),
                static_cast<long long>(w.chart().plot().points().size()), fillSeconds);
    std::printf("peak memory of the whole program %.0f MiB = %.1f bytes a row\n", peakMiB,
                peakMiB * 1024 * 1024 / static_cast<double>(rows));
    std::printf("jump to the newest row with repaint %.2f ms; one page scroll with repaint %.2f ms\n", jumpMs,
                scrollMs);
    std::printf("recording on at the line's rate: %lld readings in %.1f s, CPU %.2f %% of one core\n",
                recorded - atStart, lineWall, 100.0 * lineCpu / lineWall);
    return 0;
}
