// Recording at scale: the cost of recording one reading (recording rules and
// the row) with 10 rows and with 10 million rows in the table, and the
// table's bytes per row; and the same with the row's line queued for the
// journal, as the window records it.
#include "core/recording/Journal.h"
#include "core/recording/JournalFormat.h"
#include "core/recording/ReadingTable.h"
#include "core/recording/Recorder.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <string>

namespace {

voltaro::Reading reading(int i) {
    voltaro::Reading r;
    r.ValueText = std::to_string(i % 22000) + ".5";
    r.FuncText = "DC";
    r.UnitText = "V";
    r.RangeText = "AUTO";
    r.JudgeText = "Pass";
    r.Count = i % 22000;
    return r;
}

void BM_RecordReading(benchmark::State& state) {
    voltaro::ReadingTable table;
    voltaro::Recorder recorder(table);
    recorder.RecordLimit = 100'000'000;
    const QString time = QStringLiteral("12:34:56");
    for (long long i = 0; i < state.range(0); ++i)
        recorder.INDataToTable(reading(static_cast<int>(i)), {false, true, 10}, time);
    const voltaro::Reading r = reading(1234);
    for (auto _ : state)
        recorder.INDataToTable(r, {false, true, 10}, time);
    state.counters["rows"] = static_cast<double>(table.rowCount());
    state.counters["bytes/row"] =
        static_cast<double>(table.memoryBytes()) / static_cast<double>(table.rowCount());
}
BENCHMARK(BM_RecordReading)->Arg(10)->Arg(10'000'000)->Unit(benchmark::kNanosecond);

void BM_RecordReadingJournalled(benchmark::State& state) {
    QTemporaryDir folder;
    voltaro::Journal journal(folder.path());
    voltaro::ReadingTable table;
    voltaro::Recorder recorder(table);
    recorder.RecordLimit = 100'000'000;
    const QString time = QStringLiteral("12:34:56");
    for (long long i = 0; i < state.range(0); ++i)
        recorder.INDataToTable(reading(static_cast<int>(i)), {false, true, 10}, time);
    const voltaro::Reading r = reading(1234);
    for (auto _ : state)
        if (recorder.INDataToTable(r, {false, true, 10}, time) == voltaro::Recorder::Outcome::Recorded) {
            QByteArray line;
            voltaro::journalformat::appendRow(table, table.rowCount() - 1, r.ScaledValue, line);
            journal.append(line);
        }
    state.counters["rows"] = static_cast<double>(table.rowCount());
    state.counters["journal writes"] = static_cast<double>(journal.writes());
    journal.empty();
}
BENCHMARK(BM_RecordReadingJournalled)->Arg(10)->Arg(10'000'000)->Unit(benchmark::kNanosecond);

} // namespace

BENCHMARK_MAIN();
