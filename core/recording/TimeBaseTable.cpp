#include "core/recording/TimeBaseTable.h"

#include "core/recording/UnitSymbols.h"

#include <QString>

#include <charconv>

namespace voltaro {

std::int64_t TimeBaseTable::ageTenths(const Meter& m, std::int64_t nowMs) {
    return (nowMs - m.atMs + 50) / 100;
}

namespace {

void append(QByteArray& line, std::string_view text) {
    line.append(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

TimeBaseTable::TimeBaseTable(std::vector<std::string> meters,
                             std::vector<std::unique_ptr<DerivedColumn>> derived, std::int64_t intervalMs,
                             std::string decimalSep)
    : derived_(std::move(derived)), staleAfterMs_(2 * intervalMs), decimalSep_(std::move(decimalSep)) {
    meters_.resize(meters.size());
    for (std::size_t i = 0; i < meters.size(); ++i)
        meters_[i].name = std::move(meters[i]);
    values_.resize(meters_.size());
    derivedValues_.resize(derived_.size());
}

std::optional<double> TimeBaseTable::siValue(const Reading& r) {
    // The overload pattern shows an "L" where the digits were.
    if (r.ValueText.find('L') != std::string::npos)
        return std::nullopt;
    return r.ScaledValue * unitPrefixScale(r.UnitText);
}

QByteArray TimeBaseTable::header() const {
    QByteArray line("Time");
    for (const Meter& m : meters_) {
        for (const char* column : {".value", ".unit", ".function", ".judgement", ".age"}) {
            line += '\t';
            append(line, m.name);
            line += column;
        }
    }
    for (const auto& d : derived_) {
        line += '\t';
        append(line, d->name());
    }
    line += "\r\n";
    return line;
}

void TimeBaseTable::reading(int meter, const Reading& r, std::int64_t atMs) {
    Meter& m = meters_[meter];
    m.have = true;
    m.atMs = atMs;
    m.value = r.ValueText;
    m.unit = r.UnitText;
    m.function = r.FuncText;
    m.judgement = r.JudgeText;
    m.si = siValue(r);
}

void TimeBaseTable::setWaiting(int meter, bool waiting) {
    Meter& m = meters_[meter];
    m.waiting = waiting;
    // Whatever it read before it went is no reading of the meter that is back.
    m.have = false;
}

QByteArray TimeBaseTable::row(std::string_view time, std::int64_t nowMs) {
    QByteArray line;
    append(line, time);
    for (std::size_t i = 0; i < meters_.size(); ++i) {
        Meter& m = meters_[i];
        // Judged by the age as the row shows it, in tenths of a second: a
        // reading shown 2.0 s old at a 1 s interval is fresh, 2.1 s stale.
        const bool fresh = m.have && !m.waiting && ageTenths(m, nowMs) * 100 <= staleAfterMs_;
        appendMeter(line, m, fresh, nowMs);
        m.inRow = fresh;
        values_[i] = fresh ? m.si : std::nullopt;
    }
    for (std::size_t c = 0; c < derived_.size(); ++c) {
        line += '\t';
        derivedValues_[c] = derived_[c]->evaluate(values_);
        if (derivedValues_[c])
            appendNumber(line, *derivedValues_[c], -1);
    }
    line += "\r\n";
    return line;
}

void TimeBaseTable::appendMeter(QByteArray& line, const Meter& m, bool fresh, std::int64_t nowMs) const {
    if (m.waiting) {
        line += "\t\t\t\twaiting\t";
        return;
    }
    if (!m.have) {
        line += "\t\t\t\t\t";
        return;
    }
    line += '\t';
    if (fresh) {
        append(line, m.value);
        line += '\t';
        line +=
            unitSymbols(QString::fromLatin1(m.unit.data(), static_cast<qsizetype>(m.unit.size()))).toUtf8();
        line += '\t';
        append(line, m.function);
        line += '\t';
        append(line, m.judgement);
    } else {
        line += "\t\t\tstale";
    }
    line += '\t';
    appendNumber(line, static_cast<double>(ageTenths(m, nowMs)) / 10.0, 1);
}

void TimeBaseTable::appendNumber(QByteArray& line, double value, int decimals) const {
    // Written with a point whatever the C library's locale (which Qt sets
    // from the environment, and which puts a comma there in German), then
    // given the separator in force.
    char buffer[64];
    // Without `decimals`, 15 significant digits: what a double holds for sure,
    // so a product of two readings shows as its digits and not as 1.5239902500000002.
    const auto [end, ec] =
        decimals >= 0
            ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals)
            : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    std::string text(buffer, ec == std::errc() ? end : buffer);
    if (decimalSep_ != ".") {
        if (const auto point = text.find('.'); point != std::string::npos)
            text.replace(point, 1, decimalSep_);
    }
    append(line, text);
}

} // namespace voltaro
