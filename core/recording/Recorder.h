#pragma once

#include "core/decode/Reading.h"
#include "core/recording/ReadingTable.h"

#include <QString>
#include <QTime>

#include <limits>
#include <utility>

namespace voltaro {

// Rows recorded between two clearings until the user picks another limit.
constexpr int kDefaultRecordLimit = 10000;

// The recording rules: record limit, sampling gate and repeat filter, the
// row a reading becomes, and the counters they keep.
class Recorder {
public:
    enum class Outcome {
        Stopped,   // neither a row nor a chart point
        ChartOnly, // a repeated reading: no row, but a chart point
        Recorded,  // a row and a chart point
    };

    // What decides which readings become rows, besides the record limit.
    struct Rules {
        bool sampling = false;   // one row per sampling interval ("Sampling Interval")
        bool repeat = true;      // a reading like the last recorded one is recorded too ("Repeat")
        int intervalSeconds = 0; // the sampling interval; each recorded row starts it again
    };

    explicit Recorder(ReadingTable& table) : table_(table) {}

    // One decoded reading, with `time` the time of day to store.
    Outcome INDataToTable(const Reading& r, const Rules& rules, const QString& time);

    // One tick of the one-second sampling timer.
    void tick(bool recordSI);
    // "Close Data": the table is emptied and numbering starts again at 1.
    void clear();

    int NextRecordNo = 1;
    int RecordedCount = 0;
    int RecordLimit = kDefaultRecordLimit;
    int SampleCountdown = 0;
    QString LastRecordKey;

private:
    ReadingTable& table_;
};

// The seconds the sampling interval's edit box stands for: its whole number,
// 0 for an empty box, a lone sign or anything that is not a number.
int samplingIntervalSeconds(const QString& editText);

// The time of day as "hh:mm:ss" with `separator` between the parts.
QString timeOfDayText(const QTime& t, const QString& separator);

// The time separator of the user's locale (":" when it has none).
QString localeTimeSeparator();

// The time of day for recorded rows. Looking up the local time makes the C
// library stat the zone file on every call, which at the line's rate is more
// than the rest of recording a row; the text is therefore kept for the rest
// of its second and looked up again when the clock leaves it (either way).
class TimeOfDayClock {
public:
    explicit TimeOfDayClock(QString separator = localeTimeSeparator()) : separator_(std::move(separator)) {}
    QString now();
    QString at(qint64 msecsSinceEpoch);

private:
    QString separator_;
    qint64 second_ = std::numeric_limits<qint64>::min();
    QString text_;
};

} // namespace voltaro
