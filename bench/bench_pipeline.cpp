// Throughput of the core path: assembly, decode and evaluation of captured
// frames, serial and USB, plus the decoder alone.
#include "core/decode/MeasurementDecoder.h"
#include "core/decode/MeterPipeline.h"
#include "tools/MeterSimulator.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

std::vector<std::uint8_t> serialCapture(const char* scenario, int frames) {
    voltaro::sim::MeterSimulator sim(scenario, 1);
    std::vector<std::uint8_t> bytes;
    bytes.push_back(0x0A);
    for (int i = 0; i < frames; ++i) {
        const auto b = sim.nextSerialBytes();
        bytes.insert(bytes.end(), b.begin(), b.end());
    }
    return bytes;
}

void BM_SerialPipeline(benchmark::State& state, const char* scenario) {
    const int frames = 10000;
    const auto bytes = serialCapture(scenario, frames);
    voltaro::MeterPipeline pipeline;
    for (auto _ : state)
        pipeline.DX22KDATA(bytes.data(), static_cast<int>(bytes.size()));
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * frames), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_SerialPipeline, tour, "tour");
BENCHMARK_CAPTURE(BM_SerialPipeline, dcv, "dcv");

void BM_HidPipeline(benchmark::State& state) {
    voltaro::sim::MeterSimulator sim("tour", 1);
    std::vector<std::vector<std::uint8_t>> reports;
    const int frames = 10000;
    for (int i = 0; i < frames; ++i)
        for (auto& r : sim.nextHidReports())
            reports.push_back(std::move(r));
    voltaro::MeterPipeline pipeline;
    for (auto _ : state)
        for (const auto& r : reports)
            pipeline.HidDataDX22K(r[0], r.data() + 1, static_cast<std::uint16_t>(r.size() - 1));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HidPipeline);

void BM_DecodeOnly(benchmark::State& state) {
    voltaro::sim::MeterSimulator sim("tour", 1);
    std::vector<std::string> texts;
    for (int i = 0; i < 64; ++i)
        texts.push_back(sim.nextFrame().frameText());
    voltaro::DecodedFrame out;
    const voltaro::MeasurementDecoder::Context ctx;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(voltaro::MeasurementDecoder::decode(texts[i++ % texts.size()], ctx, out));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeOnly);

} // namespace

BENCHMARK_MAIN();
