#include "core/recording/JournalFormat.h"

#include <QString>

#include <array>
#include <charconv>
#include <cmath>
#include <utility>

namespace voltaro::journalformat {

namespace {

constexpr char kNull[] = "\\N";
constexpr int kRowColumns = 1 + ReadingTable::FieldCount + 1; // kind, fields, plotted

void appendInt(std::int64_t v, QByteArray& out) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    out.append(digits, end - digits);
}

void appendDouble(double v, QByteArray& out) {
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    out.append(digits, end - digits);
}

void appendText(const QString& text, QByteArray& out) {
    // A recorded row's texts are plain ASCII, and take no conversion.
    bool plain = true;
    for (const QChar c : text)
        plain = plain && c.unicode() >= 0x20 && c.unicode() < 0x80 && c != QLatin1Char('\\');
    if (plain) {
        for (const QChar c : text)
            out.append(static_cast<char>(c.unicode()));
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '\\': out.append("\\\\", 2); break;
        case '\t': out.append("\\t", 2); break;
        case '\r': out.append("\\r", 2); break;
        case '\n': out.append("\\n", 2); break;
        default: out.append(c);
        }
    }
}

// A text column back to its characters; false for an escape this format
// never writes.
bool readText(QByteArrayView column, QString* text) {
    if (!column.contains('\\')) {
        *text = QString::fromUtf8(column);
        return true;
    }
    QByteArray bytes;
    bytes.reserve(column.size());
    for (qsizetype i = 0; i < column.size(); ++i) {
        const char c = column[i];
        if (c != '\\') {
            bytes.append(c);
            continue;
        }
        if (++i == column.size())
            return false;
        switch (column[i]) {
        case '\\': bytes.append('\\'); break;
        case 't': bytes.append('\t'); break;
        case 'r': bytes.append('\r'); break;
        case 'n': bytes.append('\n'); break;
        default: return false;
        }
    }
    *text = QString::fromUtf8(bytes);
    return true;
}

template <typename Number> bool readNumber(QByteArrayView column, Number* v) {
    const char* begin = column.data();
    const char* end = begin + column.size();
    if (begin == end)
        return false;
    const auto [ptr, ec] = std::from_chars(begin, end, *v);
    return ec == std::errc() && ptr == end;
}

bool readPlotted(QByteArrayView column, std::optional<double>* plotted) {
    if (column == kNull) {
        plotted->reset();
        return true;
    }
    double v = 0;
    if (!readNumber(column, &v))
        return false;
    *plotted = v;
    return true;
}

// The columns of one line without its LF; false for more than a row has.
bool split(QByteArrayView line, std::array<QByteArrayView, kRowColumns>& columns, int* count) {
    *count = 0;
    qsizetype start = 0;
    for (;;) {
        const qsizetype tab = line.indexOf('\t', start);
        if (*count == kRowColumns)
            return false;
        columns[static_cast<std::size_t>((*count)++)] =
            line.sliced(start, (tab < 0 ? line.size() : tab) - start);
        if (tab < 0)
            return true;
        start = tab + 1;
    }
}

// A row line's fields, converted before the row is appended, so a line that
// fails leaves no half-filled row behind.
bool readRow(const std::array<QByteArrayView, kRowColumns>& columns, ReadingTable& table, Entry* entry) {
    const auto& fields = table.fields();
    std::array<std::optional<std::int32_t>, ReadingTable::FieldCount> ints;
    std::array<std::optional<QString>, ReadingTable::FieldCount> texts;
    for (int f = 0; f < ReadingTable::FieldCount; ++f) {
        const QByteArrayView column = columns[static_cast<std::size_t>(f + 1)];
        if (column == kNull)
            continue;
        if (fields[f].type == FieldType::Integer) {
            std::int32_t v = 0;
            if (!readNumber(column, &v))
                return false;
            ints[static_cast<std::size_t>(f)] = v;
        } else {
            QString text;
            if (!readText(column, &text))
                return false;
            texts[static_cast<std::size_t>(f)] = std::move(text);
        }
    }
    if (!readPlotted(columns[kRowColumns - 1], &entry->plotted))
        return false;
    const qsizetype row = table.appendRow();
    for (int f = 0; f < ReadingTable::FieldCount; ++f) {
        if (const auto& v = ints[static_cast<std::size_t>(f)])
            table.setInt(row, f, *v);
        else if (const auto& t = texts[static_cast<std::size_t>(f)])
            table.setText(row, f, *t);
    }
    entry->kind = Entry::Kind::Row;
    entry->row = row;
    return true;
}

bool readLine(QByteArrayView line, ReadingTable& table, Entry* entry) {
    std::array<QByteArrayView, kRowColumns> columns;
    int count = 0;
    if (!split(line, columns, &count) || columns[0].size() != 1)
        return false;
    switch (columns[0][0]) {
    case 'R': return count == kRowColumns && readRow(columns, table, entry);
    case 'P':
        entry->kind = Entry::Kind::Point;
        return count == 2 && readPlotted(columns[1], &entry->plotted) && entry->plotted;
    case 'N': entry->kind = Entry::Kind::ChartNew; return count == 1;
    case 'S':
        entry->kind = Entry::Kind::Scale;
        return count == 3 && readNumber(columns[1], &entry->maximum) &&
               readNumber(columns[2], &entry->minimum);
    default: return false;
    }
}

} // namespace

QByteArray header() {
    return QByteArrayLiteral("Voltaro Interface journal 2\n");
}

bool isJournal(QByteArrayView bytes) {
    return bytes.startsWith(header());
}

void appendRow(const ReadingTable& table, qsizetype row, std::optional<double> plotted, QByteArray& out) {
    out.append('R');
    const auto& fields = table.fields();
    for (int f = 0; f < ReadingTable::FieldCount; ++f) {
        out.append('\t');
        if (table.isNull(row, f))
            out.append(kNull, 2);
        else if (fields[f].type == FieldType::Integer)
            appendInt(*table.intValue(row, f), out);
        else
            appendText(table.text(row, f), out);
    }
    out.append('\t');
    if (plotted)
        appendDouble(*plotted, out);
    else
        out.append(kNull, 2);
    out.append('\n');
}

void appendPoint(double plotted, QByteArray& out) {
    out.append("P\t", 2);
    appendDouble(plotted, out);
    out.append('\n');
}

void appendChartNew(QByteArray& out) {
    out.append("N\n", 2);
}

void appendScale(double maximum, double minimum, QByteArray& out) {
    out.append("S\t", 2);
    appendDouble(maximum, out);
    out.append('\t');
    appendDouble(minimum, out);
    out.append('\n');
}

void Lines::scale(double maximum, double minimum) {
    const std::pair range(maximum, minimum);
    if (std::exchange(scale_, range) != range)
        appendScale(maximum, minimum, waiting_);
}

QByteArray Lines::row(const ReadingTable& table, qsizetype row, std::optional<double> plotted) {
    appendRow(table, row, plotted, waiting_);
    return std::exchange(waiting_, {});
}

QByteArray Lines::point(double plotted) {
    appendPoint(plotted, waiting_);
    return std::exchange(waiting_, {});
}

qsizetype read(QByteArrayView bytes, ReadingTable& table, std::vector<Entry>& entries) {
    if (!isJournal(bytes))
        return 0;
    qsizetype at = header().size();
    for (;;) {
        const qsizetype end = bytes.indexOf('\n', at);
        if (end < 0)
            return at;
        Entry entry;
        if (!readLine(bytes.sliced(at, end - at), table, &entry))
            return at;
        entries.push_back(entry);
        at = end + 1;
    }
}

} // namespace voltaro::journalformat
