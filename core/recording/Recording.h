#pragma once

#include "core/recording/JournalFormat.h"
#include "core/recording/ReadingTable.h"
#include "core/recording/Recorder.h"

#include <optional>
#include <vector>

namespace voltaro {

class Journal;

// Where a recorded reading goes besides the table it is recorded into: the
// journal, voltaro-log's streamed file, the grid.
class RecordSink {
public:
    virtual ~RecordSink() = default;
    // Row `row` of `table` was recorded; `plotted` is what the chart drew for
    // it (none: nothing, as for a row recovered without a point).
    virtual void rowRecorded(const ReadingTable& table, qsizetype row, std::optional<double> plotted) = 0;
    // A repeated reading: the chart drew `plotted`, and no row was recorded.
    virtual void pointPlotted(double /*plotted*/) {}
    // What the chart did before the next row or point: it started again, or
    // its vertical range is this.
    virtual void chartRestarted() {}
    virtual void chartScaled(double /*maximum*/, double /*minimum*/) {}
};

// The journal as a sink. A reading's chart lines go into the same append as
// its row or point, so a journal always ends after a whole reading.
class JournalSink : public RecordSink {
public:
    explicit JournalSink(Journal& journal) : journal_(journal) {}

    void rowRecorded(const ReadingTable& table, qsizetype row, std::optional<double> plotted) override;
    void pointPlotted(double plotted) override;
    void chartRestarted() override { lines_.chartNew(); }
    void chartScaled(double maximum, double minimum) override { lines_.scale(maximum, minimum); }
    // The journal was emptied: the next range is said again, so that the
    // lines after it recover on their own.
    void journalEmptied() { lines_.forgetScale(); }

private:
    Journal& journal_;
    journalformat::Lines lines_;
};

// One meter's recording: the table, the recording rules that fill it, the
// clock that stamps its rows and the sinks each recorded reading goes to.
class Recording {
public:
    Recording() = default;
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    ReadingTable& table() { return table_; }
    const ReadingTable& table() const { return table_; }
    Recorder& recorder() { return recorder_; }
    const Recorder& recorder() const { return recorder_; }

    // Sinks are told in the order they were added; each outlives its place here.
    void addSink(RecordSink* sink) { sinks_.push_back(sink); }
    void removeSink(RecordSink* sink);

    // Records `r` under `rules`, stamped with the time of day now (the
    // table's lastRowAt()), and tells the sinks.
    Recorder::Outcome record(const Reading& r, const Recorder::Rules& rules);
    // Appends row `r` of `rows` (a recovered recording) as a recorded row;
    // numbering goes on after it, and the table's last row is as late as
    // the rows' last.
    void restoreRow(const ReadingTable& rows, qsizetype r, std::optional<double> plotted);
    void restorePoint(double plotted);
    // What the chart did, for the sinks.
    void chartRestarted();
    void chartScaled(double maximum, double minimum);

private:
    ReadingTable table_;
    Recorder recorder_{table_};
    TimeOfDayClock timeOfDay_;
    std::vector<RecordSink*> sinks_;
};

} // namespace voltaro
