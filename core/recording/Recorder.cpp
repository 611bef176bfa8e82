#include "core/recording/Recorder.h"

#include "core/decode/IntegerText.h"

#include <QDateTime>
#include <QLocale>

namespace voltaro {

namespace {

QString fromView(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

Recorder::Outcome Recorder::INDataToTable(const Reading& r, const Rules& rules, const QString& time) {
    // A limit of N admits N rows between two clearings.
    if (RecordedCount >= RecordLimit)
        return Outcome::Stopped;
    if (rules.sampling && SampleCountdown != 0)
        return Outcome::Stopped;
    const QString func = fromView(r.FuncText);
    const QString unit = fromView(r.UnitText);
    const QString value = QString::fromStdString(r.ValueText);
    const QString key = value + func + unit + fromView(r.RangeText);
    if (!rules.repeat && key == LastRecordKey)
        return Outcome::ChartOnly;

    LastRecordKey = key;
    SampleCountdown = rules.intervalSeconds;
    ++RecordedCount;
    const qsizetype row = table_.appendRow();
    table_.setText(row, ReadingTable::Value, value);
    table_.setInt(row, ReadingTable::NVal, static_cast<std::int32_t>(r.Count));
    table_.setText(row, ReadingTable::Time, time);
    table_.setInt(row, ReadingTable::No, NextRecordNo);
    table_.setText(row, ReadingTable::Function, func);
    table_.setText(row, ReadingTable::Unit, unit);
    table_.setText(row, ReadingTable::Judge, fromView(r.JudgeText));
    ++NextRecordNo;
    return Outcome::Recorded;
}

void Recorder::tick(bool recordSI) {
    if (recordSI && SampleCountdown > 0)
        --SampleCountdown;
}

void Recorder::clear() {
    table_.clear();
    NextRecordNo = 1;
    RecordedCount = 0;
}

int samplingIntervalSeconds(const QString& editText) {
    if (editText.isEmpty() || editText == QLatin1String("-") || editText == QLatin1String("+"))
        return 0;
    return parseInteger(editText).value_or(0);
}

QString timeOfDayText(const QTime& t, const QString& separator) {
    auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    return two(t.hour()) + separator + two(t.minute()) + separator + two(t.second());
}

QString localeTimeSeparator() {
    // The character that follows the hours in the locale's time format.
    const QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    const qsizetype h = format.indexOf(QLatin1Char('h'), 0, Qt::CaseInsensitive);
    if (h >= 0) {
        qsizetype i = h;
        while (i < format.size() && format[i].toLower() == QLatin1Char('h'))
            ++i;
        if (i < format.size() && !format[i].isLetter())
            return QString(format[i]);
    }
    return QStringLiteral(":");
}

QString TimeOfDayClock::now() {
    return at(QDateTime::currentMSecsSinceEpoch());
}

QString TimeOfDayClock::at(qint64 msecsSinceEpoch) {
    // Zone offsets are whole seconds, so one second of the epoch is one local second.
    const qint64 second = msecsSinceEpoch / 1000 - (msecsSinceEpoch % 1000 < 0 ? 1 : 0);
    if (second != second_) {
        text_ = timeOfDayText(QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch).time(), separator_);
        second_ = second;
    }
    return text_;
}

} // namespace voltaro
