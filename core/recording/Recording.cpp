#include "core/recording/Recording.h"

#include "core/recording/Journal.h"

#include <QDateTime>

#include <algorithm>

namespace voltaro {

void JournalSink::rowRecorded(const ReadingTable& table, qsizetype row, std::optional<double> plotted) {
    journal_.append(lines_.row(table, row, plotted));
}

void JournalSink::pointPlotted(double plotted) {
    journal_.append(lines_.point(plotted), 0);
}

void Recording::removeSink(RecordSink* sink) {
    sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
}

Recorder::Outcome Recording::record(const Reading& r, const Recorder::Rules& rules) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const auto outcome = recorder_.INDataToTable(r, rules, timeOfDay_.at(now));
    // The chart plots what is recorded, and a repeated reading it does not record.
    if (outcome == Recorder::Outcome::Recorded) {
        table_.setLastRowAt(now);
        const qsizetype row = table_.rowCount() - 1;
        for (RecordSink* s : sinks_)
            s->rowRecorded(table_, row, r.ScaledValue);
    } else if (outcome == Recorder::Outcome::ChartOnly) {
        for (RecordSink* s : sinks_)
            s->pointPlotted(r.ScaledValue);
    }
    return outcome;
}

void Recording::restoreRow(const ReadingTable& rows, qsizetype r, std::optional<double> plotted) {
    const qsizetype row = table_.appendRow();
    for (int f = 0; f < ReadingTable::FieldCount; ++f) {
        if (rows.isNull(r, f))
            continue;
        if (table_.fields()[f].type == FieldType::Integer)
            table_.setInt(row, f, *rows.intValue(r, f));
        else
            table_.setText(row, f, rows.text(r, f));
    }
    table_.setLastRowAt(rows.lastRowAt());
    for (RecordSink* s : sinks_)
        s->rowRecorded(table_, row, plotted);
    if (const auto no = table_.intValue(row, ReadingTable::No))
        recorder_.NextRecordNo = std::max(recorder_.NextRecordNo, *no + 1);
    ++recorder_.RecordedCount;
}

void Recording::restorePoint(double plotted) {
    for (RecordSink* s : sinks_)
        s->pointPlotted(plotted);
}

void Recording::chartRestarted() {
    for (RecordSink* s : sinks_)
        s->chartRestarted();
}

void Recording::chartScaled(double maximum, double minimum) {
    for (RecordSink* s : sinks_)
        s->chartScaled(maximum, minimum);
}

} // namespace voltaro
