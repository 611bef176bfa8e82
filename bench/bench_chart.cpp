// The trend chart at scale: the cost of appending a point with few and with
// ten million points, a page change with its redraw, and memory per point.
// Runs offscreen unless a platform is chosen.
#include "core/chart/TChartControl.h"
#include "widgets/chart/PlotSurface.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

struct Chart {
    explicit Chart(long long points, int window) {
        plot.resize(376, 269);
        plot.show();
        surface = std::make_unique<voltaro::PlotSurface>(&plot);
        control = std::make_unique<voltaro::TChartControl>(*surface, window);
        for (long long i = 0; i < points; ++i)
            control->AddPoint(static_cast<double>(i % 2000) - 1000);
    }
    QCustomPlot plot;
    std::unique_ptr<voltaro::PlotSurface> surface;
    std::unique_ptr<voltaro::TChartControl> control;
};

void BM_AddPoint(benchmark::State& state) {
    Chart chart(state.range(0), 100);
    double v = 0;
    for (auto _ : state)
        chart.control->AddPoint(v += 0.5);
    state.counters["bytes/point"] = static_cast<double>(chart.surface->points().capacity()) *
                                    sizeof(QCPGraphData) /
                                    static_cast<double>(chart.surface->points().size());
}
BENCHMARK(BM_AddPoint)->Arg(100)->Arg(10'000'000)->Unit(benchmark::kMicrosecond);

// One page back and forth, each step redrawn at once.
void BM_PageChangeRedraw(benchmark::State& state) {
    Chart chart(10'000'000, static_cast<int>(state.range(0)));
    bool back = true;
    for (auto _ : state) {
        if (back)
            chart.control->PreviousPage();
        else
            chart.control->NextPage();
        back = !back;
        chart.plot.replot(QCustomPlot::rpImmediateRefresh);
    }
    state.counters["points"] = static_cast<double>(chart.surface->points().size());
}
BENCHMARK(BM_PageChangeRedraw)->Arg(100)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
