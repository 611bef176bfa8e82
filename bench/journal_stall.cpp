// The journal on a slow disk: a recording at the serial line's limit (a row
// every 7.3 ms) while each sync of the journal takes SYNC_MS (default 500 ms).
// Prints how long queueing a row took on the recording thread (median, 99th
// percentile, longest), how many writes were made and whether every row
// reached the file.
//   journal_stall [SECONDS] [SYNC_MS]
#include "core/recording/Journal.h"
#include "core/recording/JournalFormat.h"
#include "core/recording/Recorder.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int syncMs = argc > 2 ? std::atoi(argv[2]) : 500;
    QTemporaryDir folder;
    std::vector<double> us;
    voltaro::ReadingTable table;
    voltaro::Recorder recorder(table);
    recorder.RecordLimit = 100'000'000;
    voltaro::Reading r;
    r.FuncText = "DC";
    r.UnitText = "V";
    r.RangeText = "AUTO";
    r.JudgeText = "Pass";
    std::uint64_t writes = 0;
    QString path;
    {
        voltaro::Journal journal(folder.path(), [syncMs](int fd) {
            std::this_thread::sleep_for(std::chrono::milliseconds(syncMs));
            return ::fdatasync(fd);
        });
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        auto next = Clock::now();
        for (int i = 0; Clock::now() < end; ++i) {
            r.ValueText = std::to_string(i % 22000) + ".5";
            r.Count = i % 22000;
            const auto t0 = Clock::now();
            recorder.INDataToTable(r, {false, true, 10}, QStringLiteral("12:34:56"));
            {
                QByteArray line;
                voltaro::journalformat::appendRow(table, table.rowCount() - 1, r.ScaledValue, line);
                journal.append(line);
            }
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            next += std::chrono::microseconds(7300);
            std::this_thread::sleep_until(next);
        }
        writes = journal.writes();
        path = journal.path();
        // Ending writes what is left, as the window does when it closes.
    }
    voltaro::ReadingTable journalled;
    {
        QFile file(path);
        std::vector<voltaro::journalformat::Entry> entries;
        if (file.open(QIODevice::ReadOnly))
            voltaro::journalformat::read(file.readAll(), journalled, entries);
    }
    std::sort(us.begin(), us.end());
    std::printf("rows %zu, sync %d ms, writes %llu: queueing a row took median %.2f us, p99 %.2f us, "
                "longest %.2f us; rows in the journal %lld (%s)\n",
                us.size(), syncMs, static_cast<unsigned long long>(writes), us[us.size() / 2],
                us[us.size() * 99 / 100], us.back(), static_cast<long long>(journalled.rowCount()),
                journalled.rowCount() == static_cast<qsizetype>(us.size()) ? "all" : "MISSING");
    QFile::remove(path);
    return journalled.rowCount() == static_cast<qsizetype>(us.size()) ? 0 : 1;
}
