// Data files at scale: saving and loading a table of 1,000,000 rows as a
// text table and as an XML data packet. Goals on the two-core build machine:
// an XML packet loaded in under 1.0 s and saved in under 0.8 s, a text table
// loaded in under 0.4 s and saved in at most 0.4 s, and no more memory than
// the rows themselves take.
//
// Memory is the process's peak resident size during the timed runs, less
// what it held before them: "table_MiB" is what the loaded rows take,
// "peak_extra_MiB" how far the peak rose (for a load, that includes the
// rows; for a save, only what saving needed).
#include "core/recording/DataFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
double statusMiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

// Starts a fresh peak: the kernel sets the peak back to the current size.
double resetPeak() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
    return statusMiB("VmRSS");
}

constexpr int kRows = 1'000'000;

void fill(voltaro::ReadingTable& t) {
    const QString units[] = {QStringLiteral("V"), QStringLiteral("mV"), QStringLiteral("&  *"),
                             QStringLiteral("K*")};
    for (int i = 0; i < kRows; ++i) {
        const auto row = t.appendRow();
        t.setInt(row, voltaro::ReadingTable::No, i + 1);
        t.setText(row, voltaro::ReadingTable::Time,
                  QStringLiteral("12:%1:%2")
                      .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                      .arg(i % 60, 2, 10, QLatin1Char('0')));
        t.setText(row, voltaro::ReadingTable::Function, i % 2 ? QStringLiteral("DC") : QStringLiteral("AC"));
        t.setText(row, voltaro::ReadingTable::Value, QString::number(i % 22000) + QStringLiteral(".5"));
        t.setText(row, voltaro::ReadingTable::Unit, units[i % 4]);
        t.setText(row, voltaro::ReadingTable::Judge, i % 3 ? QStringLiteral("Pass") : QStringLiteral("Fail"));
        t.setInt(row, voltaro::ReadingTable::NVal, i % 22000);
    }
}

const voltaro::ReadingTable& table() {
    static const voltaro::ReadingTable t = [] {
        voltaro::ReadingTable filled;
        fill(filled);
        return filled;
    }();
    return t;
}

void BM_Save(benchmark::State& state, const char* name) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QString::fromLatin1(name));
    const auto& t = table();
    const double before = resetPeak();
    for (auto _ : state) {
        const auto r = voltaro::datafiles::isXmlFileName(file) ? voltaro::datafiles::saveXml(t, file)
                                                               : voltaro::datafiles::saveText(t, file);
        if (!r.ok)
            state.SkipWithError("save failed");
    }
    state.counters["rows"] = kRows;
    state.counters["peak_extra_MiB"] = statusMiB("VmHWM") - before;
    state.counters["file_MiB"] = static_cast<double>(QFile(file).size()) / (1024.0 * 1024.0);
}

void BM_Load(benchmark::State& state, const char* name) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QString::fromLatin1(name));
    const auto& t = table();
    const bool xml = voltaro::datafiles::isXmlFileName(file);
    if (!(xml ? voltaro::datafiles::saveXml(t, file) : voltaro::datafiles::saveText(t, file)).ok) {
        state.SkipWithError("save failed");
        return;
    }
    const double before = resetPeak();
    double tableMiB = 0;
    for (auto _ : state) {
        voltaro::ReadingTable into;
        const auto r = voltaro::datafiles::loadTableFile(file, into, false);
        if (!r.ok || into.rowCount() != kRows)
            state.SkipWithError("load failed");
        tableMiB = static_cast<double>(into.memoryBytes()) / (1024.0 * 1024.0);
    }
    state.counters["rows"] = kRows;
    state.counters["table_MiB"] = tableMiB;
    state.counters["peak_extra_MiB"] = statusMiB("VmHWM") - before;
}

// The wrong file picked by mistake: 16 MiB without a line break, which no
// table has. It is refused as soon as the line is longer than a table's.
void BM_LoadWithoutLineBreaks(benchmark::State& state) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("one-line.txt"));
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(QByteArray(16 << 20, 'x')) != (16 << 20)) {
            state.SkipWithError("could not write the file");
            return;
        }
    }
    for (auto _ : state) {
        voltaro::ReadingTable into;
        if (voltaro::datafiles::loadTableFile(file, into, false).ok)
            state.SkipWithError("a file without line breaks loaded");
    }
}
BENCHMARK(BM_LoadWithoutLineBreaks)->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(BM_Save, text, "rows.txt")->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
BENCHMARK_CAPTURE(BM_Save, xml, "rows.xml")->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
BENCHMARK_CAPTURE(BM_Load, text, "rows.txt")->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
BENCHMARK_CAPTURE(BM_Load, xml, "rows.xml")->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
