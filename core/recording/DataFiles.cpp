#include "core/recording/DataFiles.h"

#include "core/recording/ChangeWatch.h"
#include "core/recording/OwnPacket.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <optional>
#include <type_traits>
#include <utility>

namespace voltaro::datafiles {

namespace {

bool isBlankOrControl(QChar c) {
    return c.unicode() <= 32;
}

// A text column: blanks and control characters trimmed, "NULL" for nothing.
QString cleanText(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlankOrControl(text[begin]))
        ++begin;
    while (end > begin && isBlankOrControl(text[end - 1]))
        --end;
    if (begin == end)
        return QStringLiteral("NULL");
    QString out = text.mid(begin, end - begin).toString();
    // A line break inside would split the row into two lines, quoted or not.
    out.replace(QLatin1Char('\r'), QLatin1Char(' '));
    out.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return out;
}

// Quotes a cleaned column that would not read back as it is: one holding a
// tab or starting with a double quote. Plain columns stay unquoted so
// spreadsheets show them as they are.
QString columnText(const QString& text) {
    if (!text.contains(QLatin1Char('\t')) && !text.startsWith(QLatin1Char('"')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// A double-quoted token from `i` (at the opening quote): "" stands for one
// quote; an unclosed token runs to the end of the line.
qsizetype readQuoted(QStringView s, qsizetype i, QString* out) {
    out->clear();
    ++i;
    while (i < s.size()) {
        if (s[i] == QLatin1Char('"')) {
            if (i + 1 < s.size() && s[i + 1] == QLatin1Char('"')) {
                out->append(QLatin1Char('"'));
                i += 2;
                continue;
            }
            return i + 1;
        }
        out->append(s[i]);
        ++i;
    }
    return i;
}

QStringList splitBlankSeparated(QStringView s) {
    QStringList tokens;
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < s.size() && isBlankOrControl(s[i]))
            ++i;
    };
    skipBlanks();
    while (i < s.size()) {
        if (s[i] == QLatin1Char('"')) {
            QString token;
            i = readQuoted(s, i, &token);
            tokens.append(token);
        } else {
            const qsizetype start = i;
            while (i < s.size() && !isBlankOrControl(s[i]))
                ++i;
            tokens.append(s.mid(start, i - start).toString());
        }
        skipBlanks();
    }
    return tokens;
}

QStringList splitTabbed(QStringView s, bool* ok) {
    QStringList columns;
    qsizetype i = 0;
    const auto skipBlanksInColumn = [&] {
        while (i < s.size() && s[i] != QLatin1Char('\t') && isBlankOrControl(s[i]))
            ++i;
    };
    for (;;) {
        skipBlanksInColumn();
        if (i < s.size() && s[i] == QLatin1Char('"')) {
            QString token;
            i = readQuoted(s, i, &token);
            skipBlanksInColumn();
            if (i < s.size() && s[i] != QLatin1Char('\t')) {
                *ok = false;
                return columns;
            }
            columns.append(token);
        } else {
            const qsizetype start = i;
            while (i < s.size() && s[i] != QLatin1Char('\t'))
                ++i;
            qsizetype end = i;
            while (end > start && isBlankOrControl(s[end - 1]))
                --end;
            columns.append(s.mid(start, end - start).toString());
        }
        if (i >= s.size())
            return columns;
        ++i; // the tab; a tab at the very end leaves one more, empty column
    }
}

LoadResult failed(qsizetype rowsAdded = 0) {
    LoadResult r;
    r.ok = false;
    r.rowsAdded = rowsAdded;
    return r;
}

// Converts the tokens of one line before the row is appended, so a line that
// fails leaves no half-filled row behind.
bool appendLine(ReadingTable& table, const QStringList& tokens, bool tabbed) {
    const auto& fields = table.fields();
    if (tokens.size() > fields.size())
        return false;
    std::array<std::optional<std::int32_t>, ReadingTable::FieldCount> ints;
    for (qsizetype k = 0; k < tokens.size(); ++k) {
        if (fields[k].type != FieldType::Integer || (tabbed && tokens[k].isEmpty()))
            continue;
        bool ok = false;
        const int v = tokens[k].toInt(&ok, 10);
        if (!ok)
            return false;
        ints[k] = v;
    }
    const qsizetype row = table.appendRow();
    for (qsizetype k = 0; k < tokens.size(); ++k) {
        const int field = static_cast<int>(k);
        if (ints[k])
            table.setInt(row, field, *ints[k]);
        else if (fields[k].type == FieldType::Text && !(tabbed && tokens[k].isEmpty()))
            table.setText(row, field, tokens[k]);
    }
    return true;
}

// The first character of `text` that XML 1.0 cannot hold in any form (a
// control character other than tab, line feed and carriage return), or -1.
qsizetype firstUnwritableInXml(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if ((c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0xFFFE || c == 0xFFFF)
            return i;
    }
    return -1;
}

// Writes the packet with the toolkit's general XML writer through `write` in
// UTF-8 pieces; stops at the first piece `write` refuses. The writer fills a
// string that is handed on and emptied every few rows, which is much faster
// than letting it write each small part to the file itself.
template <typename Write>
bool writeGeneralPacket(const ReadingTable& table, Write&& write, QString* why = nullptr) {
    constexpr qsizetype kPiece = 1 << 15;
    QString piece;
    piece.reserve(kPiece + 1024);
    QXmlStreamWriter w(&piece);
    const auto& fields = table.fields();
    QStringList attrs;
    for (const auto& f : fields)
        attrs.append(xmlAttributeName(f.name));
    w.setAutoFormatting(true);
    w.writeStartDocument();
    piece.replace(QLatin1String("?>"), QLatin1String(" encoding=\"UTF-8\"?>"));
    w.writeStartElement(QStringLiteral("DATAPACKET"));
    w.writeAttribute(QStringLiteral("Version"), QStringLiteral("2.0"));
    w.writeStartElement(QStringLiteral("METADATA"));
    w.writeStartElement(QStringLiteral("FIELDS"));
    for (const auto& f : fields) {
        w.writeEmptyElement(QStringLiteral("FIELD"));
        w.writeAttribute(QStringLiteral("attrname"), f.name);
        if (f.type == FieldType::Integer) {
            w.writeAttribute(QStringLiteral("fieldtype"), QStringLiteral("i4"));
        } else {
            w.writeAttribute(QStringLiteral("fieldtype"), QStringLiteral("string"));
            w.writeAttribute(QStringLiteral("WIDTH"), QString::number(f.size));
        }
    }
    w.writeEndElement(); // FIELDS
    w.writeEmptyElement(QStringLiteral("PARAMS"));
    w.writeEndElement(); // METADATA
    w.writeStartElement(QStringLiteral("ROWDATA"));
    const QString rowState = QStringLiteral("4");
    for (qsizetype row = 0; row < table.rowCount(); ++row) {
        w.writeEmptyElement(QStringLiteral("ROW"));
        w.writeAttribute(QStringLiteral("RowState"), rowState);
        for (int f = 0; f < fields.size(); ++f) {
            if (table.isNull(row, f))
                continue;
            const QString text = table.text(row, f);
            // The writer would leave such a character out and carry on: a
            // file that reads back different is refused instead.
            if (const qsizetype at = firstUnwritableInXml(text); at >= 0) {
                if (why)
                    *why =
                        QStringLiteral("row %1, column \"%2\" holds the control character 0x%3, which an "
                                       "XML file cannot hold; save the table as a text file instead")
                            .arg(row + 1)
                            .arg(fields[f].name)
                            .arg(QString::number(text[at].unicode(), 16).rightJustified(2, u'0').toUpper());
                return false;
            }
            w.writeAttribute(attrs[f], text);
        }
        if (piece.size() >= kPiece) {
            if (!write(piece.toUtf8()))
                return false;
            piece.resize(0); // keeps its room for the next piece
        }
    }
    w.writeEndElement(); // ROWDATA
    w.writeEndElement(); // DATAPACKET
    w.writeEndDocument();
    return !w.hasError() && write(piece.toUtf8());
}

// Writes the same packet through the program's own writer, a piece of a
// quarter MiB at a time; stops at the first piece `write` refuses.
template <typename Write>
bool writePacket(const ReadingTable& table, Write&& write, QString* why = nullptr,
                 Progress* progress = nullptr) {
    constexpr qsizetype kPiece = 1 << 18;
    QByteArray piece;
    piece.reserve(kPiece + 4096);
    piece.append(ownpacket::head());
    if (table.rowCount() == 0) {
        piece.append(ownpacket::endWithoutRows());
        return write(piece);
    }
    piece.append(ownpacket::rowsStart());
    for (qsizetype row = 0; row < table.rowCount(); ++row) {
        if (!ownpacket::appendRow(table, row, piece, why))
            return false;
        if (piece.size() >= kPiece) {
            if (!write(piece))
                return false;
            piece.resize(0); // keeps its room for the next piece
            if (progress)
                progress->done.store(row + 1, std::memory_order_relaxed);
        }
    }
    piece.append(ownpacket::endAfterRows());
    return write(piece);
}

struct PacketField {
    QString attribute;
    int field;
};

// FIELDS must name exactly the table's fields, each once, with their types.
bool readFields(QXmlStreamReader& r, const ReadingTable& table, QVector<PacketField>* out) {
    const auto& fields = table.fields();
    QVector<bool> seen(fields.size(), false);
    while (r.readNextStartElement()) {
        if (r.name() != QLatin1String("FIELD"))
            return false;
        const auto a = r.attributes();
        const QString name = a.value(QLatin1String("attrname")).toString();
        const auto type = a.value(QLatin1String("fieldtype"));
        const int f = table.fieldIndex(name);
        if (f < 0 || seen[f])
            return false;
        const bool isInt = fields[f].type == FieldType::Integer;
        if (type != (isInt ? QLatin1String("i4") : QLatin1String("string")))
            return false;
        seen[f] = true;
        out->append({xmlAttributeName(name), f});
        r.skipCurrentElement();
    }
    return !r.hasError() && out->size() == fields.size();
}

bool readRows(QXmlStreamReader& r, const QVector<PacketField>& map, ReadingTable& into, Progress* progress) {
    const auto& fields = into.fields();
    while (r.readNextStartElement()) {
        if (r.name() != QLatin1String("ROW"))
            return false;
        if (progress && into.rowCount() % 4096 == 0)
            progress->done.store(r.device()->pos(), std::memory_order_relaxed);
        const qsizetype row = into.appendRow();
        for (const auto& a : r.attributes()) {
            const QStringView name = a.name();
            if (name == QLatin1String("RowState"))
                continue;
            const auto known = std::find_if(map.cbegin(), map.cend(),
                                            [name](const PacketField& p) { return name == p.attribute; });
            if (known == map.cend())
                return false;
            const int f = known->field;
            if (fields[f].type == FieldType::Integer) {
                bool ok = false;
                const int v = a.value().toInt(&ok, 10);
                if (!ok)
                    return false;
                into.setInt(row, f, v);
            } else {
                into.setText(row, f, a.value());
            }
        }
        r.skipCurrentElement();
    }
    return !r.hasError();
}

// --- Reading a packet with the general XML reader ----------------------------

// The packet's rows replace the table's.
LoadResult replacedBy(ReadingTable& table, ReadingTable&& loaded) {
    table = std::move(loaded);
    LoadResult result;
    result.ok = true;
    result.replaced = true;
    result.rowsAdded = table.rowCount();
    return result;
}

// The packet from wherever `file` stands, through the toolkit's XML reader:
// any layout of the elements, entities and white space XML allows.
LoadResult readGeneralPacket(ReadingTable& table, QIODevice& file, const ChangeWatch& watch,
                             Progress* progress) {
    QXmlStreamReader r(&file);
    if (!r.readNextStartElement() || r.name() != QLatin1String("DATAPACKET"))
        return failed();
    // The whole packet is read into a table of its own first, so a file that
    // fails half way leaves the table as it was.
    ReadingTable loaded;
    QVector<PacketField> map;
    bool haveFields = false;
    while (r.readNextStartElement()) {
        if (r.name() == QLatin1String("METADATA")) {
            while (r.readNextStartElement()) {
                if (r.name() == QLatin1String("FIELDS")) {
                    if (haveFields || !readFields(r, loaded, &map))
                        return failed();
                    haveFields = true;
                } else {
                    r.skipCurrentElement();
                }
            }
        } else if (r.name() == QLatin1String("ROWDATA")) {
            if (!haveFields || !readRows(r, map, loaded, progress))
                return failed();
        } else {
            r.skipCurrentElement();
        }
    }
    while (!r.atEnd() && !r.hasError())
        r.readNext();
    if (r.hasError() || !haveFields || watch.changed())
        return failed();
    return replacedBy(table, std::move(loaded));
}

constexpr int kTextLineFields[] = {ReadingTable::Time, ReadingTable::Function, ReadingTable::Value,
                                   ReadingTable::Unit, ReadingTable::Judge};

// A column that is written as it stands: no blanks or control characters at
// its ends, no line break or tab inside, not starting with a quote.
bool isPlainColumn(QStringView text) {
    if (text.isEmpty() || isBlankOrControl(text.front()) || isBlankOrControl(text.back()) ||
        text.front() == QLatin1Char('"'))
        return false;
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        return c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n');
    });
}

// The 8-bit code page of a Linux desktop is taken to be Latin-1; characters
// beyond it are written as '?'.
void appendLatin1(QStringView text, QByteArray& out) {
    const qsizetype at = out.size();
    out.resize(at + text.size());
    char* to = out.data() + at;
    for (QChar c : text)
        *to++ = c.unicode() < 256 ? static_cast<char>(c.unicode()) : '?';
}

// Appends row `row` as one text line with its CR LF. A recorded row's
// columns are plain, and take no conversion on the way.
void appendTextLine(const ReadingTable& table, qsizetype row, QByteArray& out) {
    if (const auto no = table.intValue(row, ReadingTable::No)) {
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, *no).ptr;
        out.append(digits, end - digits);
    }
    for (int f : kTextLineFields) {
        out.append('\t');
        const QStringView text = table.textView(row, f);
        if (isPlainColumn(text))
            appendLatin1(text, out);
        else
            appendLatin1(columnText(cleanText(text)), out);
    }
    out.append("\r\n", 2);
}

// Writes `header` and each row's line, as `appendLine(row, piece)` appends
// it, through `write`, a piece at a time; stops at the first piece `write`
// refuses.
template <typename AppendLine, typename Write>
bool writeInPieces(const ReadingTable& table, QByteArray header, AppendLine&& appendLine, Write&& write,
                   Progress* progress) {
    constexpr qsizetype kPiece = 1 << 16;
    QByteArray piece = std::move(header);
    piece.reserve(kPiece + 512);
    for (qsizetype row = 0; row < table.rowCount(); ++row) {
        appendLine(row, piece);
        if (piece.size() >= kPiece) {
            if (!write(piece))
                return false;
            piece.resize(0); // keeps its room for the next piece
            if (progress)
                progress->done.store(row + 1, std::memory_order_relaxed);
        }
    }
    return write(piece);
}

// The text table, header and rows, through `write`.
template <typename Write>
bool writeTextTable(const ReadingTable& table, Write&& write, Progress* progress = nullptr) {
    return writeInPieces(
        table, textHeader(), [&](qsizetype row, QByteArray& piece) { appendTextLine(table, row, piece); },
        write, progress);
}

// Collects what `writer` writes into one byte array.
template <typename Writer> QByteArray collect(const ReadingTable& table, Writer&& writer) {
    QByteArray out;
    writer(table, [&out](const QByteArray& bytes) {
        out.append(bytes);
        return true;
    });
    return out;
}

// Saves what `writer` writes to `fileName`. It is written beside the old
// file and renamed over it, so a failed save never leaves a damaged or
// empty file where a good one was.
template <typename Writer>
SaveResult saveThrough(const ReadingTable& table, const QString& fileName, Writer&& writer,
                       Progress* progress) {
    if (progress)
        progress->total.store(table.rowCount(), std::memory_order_relaxed);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return {false, file.errorString()};
    // What is still in the file's buffer is written here, where a failure is
    // seen: commit() would write it too, but does not tell when it cannot
    // (a full disk then left a cut file in place of the old one, "saved").
    const bool written =
        writer(table, [&file](const QByteArray& bytes) { return file.write(bytes) == bytes.size(); }) &&
        file.flush();
    if (!written || !file.commit()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return {false, error};
    }
    return {true, QString()};
}

// --- Loading a text table ---------------------------------------------------

enum class PlainLine {
    Taken,    // the line is a row of the table now
    Empty,    // a line without columns, which is passed over
    NotPlain, // anything else: the general splitting decides
};

// A column of a tabbed line without the blanks and control characters at
// its ends, as splitTabbed() takes an unquoted column.
QByteArrayView trimmedColumn(QByteArrayView c) {
    while (!c.isEmpty() && static_cast<unsigned char>(c.front()) <= 32)
        c = c.sliced(1);
    while (!c.isEmpty() && static_cast<unsigned char>(c.back()) <= 32)
        c.chop(1);
    return c;
}

// Where the first tab or double quote at or after `i` is in `bytes[0, n)`,
// or `n`: eight bytes at a time, then one at a time. In each word a byte
// equal to c turns up as the lowest bit set in the mask (bits above it may
// be false, and are never looked at).
qsizetype nextTabOrQuote(const char* bytes, qsizetype i, qsizetype n) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    const auto equalTo = [](std::uint64_t w, unsigned char c) {
        const std::uint64_t x = w ^ (kOnes * c);
        return (x - kOnes) & ~x & kHigh;
    };
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w = 0;
        std::memcpy(&w, bytes + i, sizeof w);
        if (const std::uint64_t m = equalTo(w, '\t') | equalTo(w, '"'))
            return i + std::countr_zero(m) / 8;
    }
    while (i < n && bytes[i] != '\t' && bytes[i] != '"')
        ++i;
    return i;
}

// Lines as the program writes them, columns between tabs and no quote
// anywhere, go into the table straight from their bytes: the same rows the
// general splitting makes of them, without a string for every column.
//
// Two things spare the text lookup most of its work. Each column remembers
// the texts it had last (the functions, units and judgements of a recording
// are a handful, and a second holds many rows): a text among them is neither
// converted nor looked up, its row gets the text's number in the pool
// straight away. And each row goes in a few lines after it was read, the
// places in the pool of its other texts fetched from memory meanwhile
// (ReadingTable::prefetchText, prefetchChars).
class PlainRows {
public:
    explicit PlainRows(ReadingTable& table) : table_(table) {}
    // Queues the row of a plain line. A line of any other kind is NotPlain,
    // and nothing is queued.
    PlainLine add(QByteArrayView line);
    // Puts the queued rows into the table; returns how many.
    qsizetype flush();

private:
    static constexpr int kFields = ReadingTable::FieldCount;
    static constexpr int kAhead = 16;
    static constexpr int kRecent = 4;
    using Text = std::array<char16_t, ReadingTable::kTextSize>;
    // The table's fields, fixed: the integers first and last, the texts between.
    static constexpr bool isText(int field) {
        return field != ReadingTable::No && field != ReadingTable::NVal;
    }
    struct Row {
        int count = 0;
        std::array<std::int32_t, kFields> ints{};
        std::array<std::int8_t, kFields> length{}; // of a text; -1: the column is null
        std::array<std::uint32_t, kFields> hash{}; // from prefetchText()
        std::array<bool, kFields> known{};         // a recent text: its number is in `number`
        std::array<std::uint32_t, kFields> number{};
        std::array<Text, kFields> texts; // the others
    };
    struct Recent {
        std::int8_t length = -1; // -1: nothing yet
        Text text;
        std::uint32_t number = 0;
    };
    bool parse(QByteArrayView line, Row& row, bool* empty);
    // The number of `column`'s text if the field had it lately.
    bool recentNumber(int field, QByteArrayView column, std::uint32_t* number);
    void rememberNumber(int field, const Text& text, int length, std::uint32_t number);
    void put(const Row& row);

    ReadingTable& table_;
    std::array<Row, kAhead> queue_;
    int first_ = 0;
    int queued_ = 0;
    std::array<std::array<Recent, kRecent>, kFields> recent_;
    std::array<int, kFields> nextRecent_{};
    // A column of ever new texts (the values, the times of a fast meter)
    // gains nothing from remembering: it is asked again only every
    // kRetry rows after it has missed kGiveUp times in a row.
    static constexpr int kGiveUp = 64;
    static constexpr int kRetry = 4096;
    std::array<int, kFields> misses_{};
};

bool PlainRows::recentNumber(int field, QByteArrayView column, std::uint32_t* number) {
    if (misses_[field] >= kGiveUp && ++misses_[field] < kGiveUp + kRetry)
        return false;
    const qsizetype n = column.size();
    for (const Recent& r : recent_[field]) {
        // Texts that differ mostly differ at their end (the second, the last digit).
        if (r.length != n || r.text[n - 1] != static_cast<unsigned char>(column[n - 1]))
            continue;
        qsizetype i = 0;
        while (i < n - 1 && r.text[i] == static_cast<unsigned char>(column[i]))
            ++i;
        if (i == n - 1) {
            *number = r.number;
            misses_[field] = 0;
            return true;
        }
    }
    // After a pause, one more miss gives up again.
    misses_[field] = misses_[field] >= kGiveUp ? kGiveUp - 1 : misses_[field];
    ++misses_[field];
    return false;
}

void PlainRows::rememberNumber(int field, const Text& text, int length, std::uint32_t number) {
    // While the column is not asked, only the rows just before it is asked again are remembered.
    if (misses_[field] >= kGiveUp && misses_[field] < kGiveUp + kRetry - 2 * kAhead)
        return;
    for (const Recent& r : recent_[field])
        if (r.number == number && r.length == length)
            return;
    Recent& r = recent_[field][nextRecent_[field]];
    nextRecent_[field] = (nextRecent_[field] + 1) % kRecent;
    r.length = static_cast<std::int8_t>(length);
    std::copy_n(text.data(), length, r.text.data());
    r.number = number;
}

bool PlainRows::parse(QByteArrayView line, Row& row, bool* empty) {
    // Where each column starts and how long it is; nothing is set before it is needed.
    const char* begin[kFields];
    qsizetype size[kFields];
    int count = 0;
    bool tabbed = false;
    const char* const bytes = line.data();
    // One pass over the line: a tab ends a column (the line's end the last),
    // a quote anywhere leaves the line to the general splitting.
    for (qsizetype start = 0;;) {
        const qsizetype i = nextTabOrQuote(bytes, start, line.size());
        if (i < line.size() && bytes[i] == '"')
            return false;
        const bool end = i == line.size();
        tabbed = tabbed || !end;
        const QByteArrayView column = trimmedColumn(QByteArrayView(bytes + start, i - start));
        if (count < kFields) {
            begin[count] = column.data();
            size[count++] = column.size();
        } else if (!column.isEmpty()) {
            return false; // more columns than fields: refused there
        }
        if (end)
            break;
        start = i + 1;
    }
    if (!tabbed)
        return false;
    while (count > 0 && size[count - 1] == 0)
        --count;
    *empty = count == 0;
    for (int k = 0; k < count; ++k) {
        // The table keeps the first kTextSize characters; Latin-1 has one unit each.
        const QByteArrayView column(
            begin[k], isText(k) ? std::min<qsizetype>(size[k], ReadingTable::kTextSize) : size[k]);
        row.length[k] = -1;
        row.known[k] = false;
        if (column.isEmpty())
            continue;
        if (!isText(k)) {
            if (!ownpacket::readInteger(column, &row.ints[k]))
                return false;
            row.length[k] = 0;
            continue;
        }
        row.length[k] = static_cast<std::int8_t>(column.size());
        row.known[k] = recentNumber(k, column, &row.number[k]);
        if (!row.known[k])
            for (qsizetype i = 0; i < column.size(); ++i)
                row.texts[k][i] = static_cast<unsigned char>(column[i]);
    }
    row.count = count;
    return true;
}

PlainLine PlainRows::add(QByteArrayView line) {
    if (queued_ == kAhead) {
        put(queue_[first_]);
        first_ = (first_ + 1) % kAhead;
        --queued_;
    }
    Row& row = queue_[(first_ + queued_) % kAhead];
    bool empty = false;
    if (!parse(line, row, &empty))
        return PlainLine::NotPlain;
    if (empty)
        return PlainLine::Empty;
    for (int k = 0; k < row.count; ++k)
        row.hash[k] = isText(k) && row.length[k] > 0 && !row.known[k]
                          ? table_.prefetchText(k, QStringView(row.texts[k].data(), row.length[k]))
                          : 0;
    ++queued_;
    // Half way through the queue, a row's slots have come: now its characters.
    if (queued_ > kAhead / 2) {
        const Row& half = queue_[(first_ + queued_ - 1 - kAhead / 2) % kAhead];
        for (int k = 0; k < half.count; ++k)
            table_.prefetchChars(k, half.hash[k]);
    }
    return PlainLine::Taken;
}

void PlainRows::put(const Row& r) {
    const qsizetype row = table_.appendRow();
    for (int k = 0; k < r.count; ++k) {
        if (r.length[k] < 0)
            continue;
        if (!isText(k)) {
            table_.setInt(row, k, r.ints[k]);
        } else if (r.known[k]) {
            table_.setTextNumber(row, k, r.number[k]);
        } else {
            table_.setText(row, k, QStringView(r.texts[k].data(), r.length[k]), r.hash[k]);
            rememberNumber(k, r.texts[k], r.length[k], table_.textNumber(row, k));
        }
    }
}

qsizetype PlainRows::flush() {
    const qsizetype n = queued_;
    for (; queued_ > 0; --queued_, first_ = (first_ + 1) % kAhead)
        put(queue_[first_]);
    return n;
}

// Any line through the general splitting; `taken` tells whether it became a
// row. False when the line is refused.
bool appendGeneralLine(ReadingTable& table, QByteArrayView bytes, bool* taken) {
    const QString line = QString::fromLatin1(bytes);
    bool ok = true;
    QStringList tokens = splitTextLine(line, &ok);
    if (!ok)
        return false;
    const bool tabbed = line.contains(QLatin1Char('\t'));
    if (tabbed)
        while (!tokens.isEmpty() && tokens.constLast().isEmpty())
            tokens.removeLast();
    if (tokens.isEmpty())
        return true;
    *taken = appendLine(table, tokens, tabbed);
    return *taken;
}

// Hands `line` to `take`, with its line break (empty for a last line
// without one) when `take` asks for it.
template <typename Take> bool takeLine(Take& take, QByteArrayView line, QByteArrayView lineEnd) {
    if constexpr (std::is_invocable_v<Take&, QByteArrayView, QByteArrayView>)
        return take(line, lineEnd);
    else
        return take(line);
}

// Hands each line of `file`, without its line break, to `take`, the last
// one too when it has none; lines end with CR LF, LF or CR. The file is read
// a piece at a time, so a long file never sits in memory beside the rows it
// becomes. Returns the bytes read, or -1 when `take` refused a line, a line
// was longer than any table's, reading failed or the file changed.
template <typename Take> qint64 forEachLine(QIODevice& file, Progress* progress, Take&& take) {
    // A line the program writes is at most about 230 bytes; older versions
    // padded columns with blanks. Anything longer is not a table.
    constexpr qsizetype kLongestLine = 4096;
    constexpr qint64 kPiece = 1 << 16;
    QByteArray pending;
    qint64 total = 0;
    bool atEnd = false;
    // Where the search for the next line end goes on: what has been looked
    // through is not looked through again when the next piece comes.
    qsizetype scanned = 0;
    const ChangeWatch watch(file);
    while (!atEnd) {
        const QByteArray piece = file.read(kPiece);
        // A piece read after the file changed may be part of another file;
        // the rows of the whole lines before it stay, as with a failing line.
        if (watch.changed())
            return -1;
        if (piece.isEmpty()) {
            const auto* f = qobject_cast<QFileDevice*>(&file);
            if (f && f->error() != QFileDevice::NoError)
                return -1;
            atEnd = true;
        }
        total += piece.size();
        if (progress)
            progress->done.store(total, std::memory_order_relaxed);
        pending.append(piece);
        const char* const data = pending.constData();
        const qsizetype size = pending.size();
        // The next CR and the next LF at or after `scanned`, each looked for
        // only once it has been passed: lines that end in CR LF, LF or CR.
        const auto next = [&](char c, qsizetype from) {
            const void* at = std::memchr(data + from, c, static_cast<std::size_t>(size - from));
            return at ? static_cast<const char*>(at) - data : size;
        };
        qsizetype nextCr = next('\r', scanned);
        qsizetype nextLf = next('\n', scanned);
        qsizetype pos = 0;
        for (;;) {
            const qsizetype from = std::max(pos, scanned);
            if (nextCr < from)
                nextCr = next('\r', from);
            if (nextLf < from)
                nextLf = next('\n', from);
            const qsizetype end = std::min(nextCr, nextLf);
            scanned = end;
            // No line of a table is anywhere near this long: the wrong file
            // was picked, and reading it through would only take long.
            if (end - pos > kLongestLine)
                return -1;
            if (end == size)
                break;
            // A CR at the end of the piece may be the first half of CR LF.
            if (data[end] == '\r' && end + 1 == size && !atEnd)
                break;
            const qsizetype next =
                end + (data[end] == '\r' && end + 1 < size && data[end + 1] == '\n' ? 2 : 1);
            if (!takeLine(take, QByteArrayView(data + pos, end - pos),
                          QByteArrayView(data + end, next - end)))
                return -1;
            pos = next;
        }
        pending.remove(0, pos);
        scanned -= pos;
    }
    if (total > 0 && !pending.isEmpty() && !takeLine(take, QByteArrayView(pending), QByteArrayView()))
        return -1;
    return total;
}

// --- CSV ---------------------------------------------------------------------

// The columns of a CSV line: the text table's with the date and time after the time.
constexpr int kCsvColumns = 7;
constexpr int kCsvDateTimeColumn = 2;
// A record whose quoted field runs over several lines is at most this long.
constexpr qsizetype kLongestCsvRecord = 1 << 16;

// The seconds since midnight of a time of day "hh:mm:ss", or "h:mm:ss", with
// any one character that is no digit between the parts; -1 for any other text.
int secondsOfDay(QStringView t) {
    const auto digit = [&](qsizetype i) {
        return i < t.size() && t[i] >= QLatin1Char('0') && t[i] <= QLatin1Char('9') ? t[i].unicode() - u'0'
                                                                                    : -1;
    };
    const qsizetype h = digit(1) >= 0 ? 2 : 1; // where the hours end
    if (t.size() != h + 6 || digit(0) < 0 || digit(h) >= 0 || digit(h + 3) >= 0)
        return -1;
    for (const qsizetype i : {h + 1, h + 2, h + 4, h + 5})
        if (digit(i) < 0)
            return -1;
    const int hours = h == 2 ? digit(0) * 10 + digit(1) : digit(0);
    const int minutes = digit(h + 1) * 10 + digit(h + 2);
    const int seconds = digit(h + 4) * 10 + digit(h + 5);
    if (hours > 23 || minutes > 59 || seconds > 59)
        return -1;
    return hours * 3600 + minutes * 60 + seconds;
}

// A time of day later by more than this than the next one's is of the day
// before; by this or less, the clocks went back.
constexpr int kClocksBack = 3600;

// The times of day of a table's rows, each distinct text read once.
class TimesOfDay {
public:
    explicit TimesOfDay(const ReadingTable& table) : table_(table) {}
    int at(qsizetype row) {
        if (table_.isNull(row, ReadingTable::Time))
            return -1;
        const std::uint32_t number = table_.textNumber(row, ReadingTable::Time);
        if (number >= seconds_.size())
            seconds_.resize(std::max<std::size_t>(number + 1, seconds_.size() * 2), kUnread);
        int& s = seconds_[number];
        if (s == kUnread)
            s = secondsOfDay(table_.textView(row, ReadingTable::Time));
        return s;
    }

private:
    static constexpr int kUnread = -2;
    const ReadingTable& table_;
    std::vector<int> seconds_;
};

void appendUtf8(QStringView text, QByteArray& out) {
    const bool ascii = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (!ascii) {
        out.append(text.toUtf8());
        return;
    }
    const qsizetype at = out.size();
    out.resize(at + text.size());
    char* to = out.data() + at;
    for (QChar c : text)
        *to++ = static_cast<char>(c.unicode());
}

// The decimal separator a value of a file for `decimalSep` must not hold:
// the other of "." and ","; none for any other separator.
QChar foreignSeparator(QStringView decimalSep) {
    if (decimalSep == QLatin1String(","))
        return QLatin1Char('.');
    if (decimalSep == QLatin1String("."))
        return QLatin1Char(',');
    return QChar();
}

// Whether `value` is a number (a sign, digits, one `point`, digits) whose
// decimal separator is `point`.
bool isNumberWith(QStringView value, QChar point) {
    qsizetype i = !value.isEmpty() && (value[0] == QLatin1Char('-') || value[0] == QLatin1Char('+')) ? 1 : 0;
    int points = 0;
    int digits = 0;
    for (; i < value.size(); ++i) {
        if (value[i] == point)
            ++points;
        else if (value[i] >= QLatin1Char('0') && value[i] <= QLatin1Char('9'))
            ++digits;
        else
            return false;
    }
    return points == 1 && digits > 0;
}

// A text field as CSV writes it; a value takes the user's decimal separator
// first. An empty text is quoted, so that it reads back apart from a null.
void appendCsvField(QStringView text, int field, QStringView decimalSep, QByteArray& out) {
    QString local;
    if (field == ReadingTable::Value) {
        const QChar foreign = foreignSeparator(decimalSep);
        if (!foreign.isNull() && isNumberWith(text, foreign)) {
            local = text.toString();
            local.replace(foreign, decimalSep.front());
            text = local;
        }
    }
    const bool quoted = text.isEmpty() || std::any_of(text.begin(), text.end(), [](QChar c) {
                            const char16_t u = c.unicode();
                            return u == u',' || u == u';' || u == u'"' || u == u'\r' || u == u'\n';
                        });
    if (!quoted) {
        appendUtf8(text, out);
        return;
    }
    QString doubled = text.toString();
    doubled.replace(QLatin1Char('"'), QLatin1String("\"\""));
    out.append('"');
    appendUtf8(doubled, out);
    out.append('"');
}

// A date as "yyyy-MM-dd", made again only when the date changes.
class DateText {
public:
    const QByteArray& of(QDate date) {
        if (date != date_) {
            date_ = date;
            text_ = date.toString(Qt::ISODate).toLatin1();
        }
        return text_;
    }

private:
    QDate date_;
    QByteArray text_;
};

void appendTwoDigits(int v, QByteArray& out) {
    out.append(static_cast<char>('0' + v / 10));
    out.append(static_cast<char>('0' + v % 10));
}

// The fields of one row as CSV, for a line written on its own.
class CsvFieldsOfRow {
public:
    CsvFieldsOfRow(const ReadingTable& table, QStringView decimalSep)
        : table_(table), decimalSep_(decimalSep) {}
    void append(qsizetype row, int field, QByteArray& out) {
        appendCsvField(table_.textView(row, field), field, decimalSep_, out);
    }
    int seconds(qsizetype row) {
        return table_.isNull(row, ReadingTable::Time)
                   ? -1
                   : secondsOfDay(table_.textView(row, ReadingTable::Time));
    }
    DateText dates;

private:
    const ReadingTable& table_;
    QStringView decimalSep_;
};

// The same for a whole table: each text a field holds becomes CSV once, the
// rows take it from there (a recording has few texts besides its times and
// values, and these repeat too).
class CsvFieldsOfTable {
public:
    CsvFieldsOfTable(const ReadingTable& table, QStringView decimalSep)
        : table_(table), decimalSep_(decimalSep), times_(table) {}
    void append(qsizetype row, int field, QByteArray& out) {
        std::vector<QByteArray>& made = made_[field];
        const std::uint32_t number = table_.textNumber(row, field);
        if (number >= made.size())
            made.resize(std::max<std::size_t>(number + 1, made.size() * 2));
        QByteArray& bytes = made[number];
        if (bytes.isEmpty()) // never for a text made: an empty one is ""
            appendCsvField(table_.textView(row, field), field, decimalSep_, bytes);
        out.append(bytes);
    }
    int seconds(qsizetype row) { return times_.at(row); }
    DateText dates;

private:
    const ReadingTable& table_;
    QStringView decimalSep_;
    TimesOfDay times_;
    std::array<std::vector<QByteArray>, ReadingTable::FieldCount> made_;
};

template <typename Fields>
void appendCsvLine(const ReadingTable& table, qsizetype row, char separator, QDate date, Fields& fields,
                   QByteArray& out) {
    if (const auto no = table.intValue(row, ReadingTable::No)) {
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, *no).ptr;
        out.append(digits, end - digits);
    }
    const auto field = [&](int f) {
        out.append(separator);
        if (!table.isNull(row, f))
            fields.append(row, f, out);
    };
    field(ReadingTable::Time);
    out.append(separator);
    if (const int s = fields.seconds(row); s >= 0 && date.isValid() && !fields.dates.of(date).isEmpty()) {
        out.append(fields.dates.of(date));
        out.append('T');
        appendTwoDigits(s / 3600, out);
        out.append(':');
        appendTwoDigits(s / 60 % 60, out);
        out.append(':');
        appendTwoDigits(s % 60, out);
    }
    field(ReadingTable::Function);
    field(ReadingTable::Value);
    field(ReadingTable::Unit);
    field(ReadingTable::Judge);
    out.append("\r\n", 2);
}

template <typename Write>
bool writeCsvTable(const ReadingTable& table, QStringView decimalSep, Write&& write,
                   Progress* progress = nullptr) {
    const RowDates dates(table, QDateTime::currentMSecsSinceEpoch());
    CsvFieldsOfTable fields(table, decimalSep);
    const char separator = csvSeparator(decimalSep);
    return writeInPieces(
        table, csvHeader(decimalSep),
        [&](qsizetype row, QByteArray& piece) {
            appendCsvLine(table, row, separator, dates.date(row), fields, piece);
        },
        write, progress);
}

// One CSV record's fields into a new row: No, time, DC/AC, value, unit,
// judgement, the date and time left out. Nothing is appended when it fails.
bool appendCsvRow(ReadingTable& table, const QStringList& fields) {
    std::optional<std::int32_t> no;
    if (!fields.isEmpty() && !fields[0].isEmpty()) {
        bool ok = false;
        no = fields[0].toInt(&ok, 10);
        if (!ok)
            return false;
    }
    const qsizetype row = table.appendRow();
    if (no)
        table.setInt(row, ReadingTable::No, *no);
    constexpr int kTexts[] = {ReadingTable::Time,     -1,
                              ReadingTable::Function, ReadingTable::Value,
                              ReadingTable::Unit,     ReadingTable::Judge};
    for (qsizetype k = 1; k < fields.size(); ++k)
        if (kTexts[k - 1] >= 0 && !fields[k].isNull())
            table.setText(row, kTexts[k - 1], fields[k]);
    return true;
}

// The field separator of a CSV: the first comma or semicolon of its header
// outside quotes; a comma when there is none.
char csvSeparatorOf(QByteArrayView header) {
    bool quoted = false;
    for (const char c : header) {
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && (c == ',' || c == ';'))
            return c;
    }
    return ',';
}

// A CSV line as the text table's plain line of the same row, for its fast
// way (PlainRows): the fields but the date and time between tabs. Only for a
// line whose fields are ASCII without control characters, none beginning or
// ending with a blank, unquoted or quoted whole without a quote inside and
// not empty, at most seven of them: any other goes the general way, as a
// text table's line with a quote does. `dateTime` gets the third field.
bool toPlainLine(QByteArrayView line, char separator, QByteArray& out, QByteArrayView* dateTime) {
    out.resize(0);
    *dateTime = {};
    const char* const bytes = line.data();
    const qsizetype n = line.size();
    qsizetype i = 0;
    for (int field = 0;; ++field) {
        if (field == kCsvColumns)
            return false;
        qsizetype begin = i;
        qsizetype end = i;
        if (i < n && bytes[i] == '"') {
            const void* close = std::memchr(bytes + i + 1, '"', static_cast<std::size_t>(n - i - 1));
            if (!close)
                return false;
            begin = i + 1;
            end = static_cast<const char*>(close) - bytes;
            i = end + 1;
            if (end == begin || (i < n && bytes[i] != separator))
                return false; // "", or "" for a quote inside
        } else {
            while (i < n && bytes[i] != separator)
                ++i;
            end = i;
        }
        for (qsizetype k = begin; k < end; ++k) {
            const auto c = static_cast<unsigned char>(bytes[k]);
            if (c < 0x20 || c >= 0x7F || c == '"')
                return false;
        }
        if (end > begin && (bytes[begin] == ' ' || bytes[end - 1] == ' '))
            return false;
        if (field == kCsvDateTimeColumn) {
            *dateTime = QByteArrayView(bytes + begin, end - begin);
        } else {
            if (field > 0)
                out.append('\t');
            out.append(bytes + begin, end - begin);
        }
        if (i >= n)
            return true;
        ++i; // the separator
    }
}

struct CsvRead {
    LoadResult result;
    std::optional<qint64> lastRowAt; // the last row's date and time, when it has one
};

// `fast`: lines as the program writes them go the text table's fast way.
CsvRead readCsv(ReadingTable& table, QIODevice& file, Progress* progress, bool fast) {
    CsvRead read;
    LoadResult& result = read.result;
    bool header = true;
    char separator = ',';
    QByteArray pending; // a record whose quoted field goes on in the next line
    bool open = false;  // a quote is open at the end of what is pending
    QString lastDateTime;
    QByteArray lastPlainDateTime; // of the last row taken the fast way, when it came after those
    bool lastWasPlain = false;
    PlainRows plain(table);
    QByteArray plainLine;
    // One whole record, without its last line end. A line of separators
    // alone is a row of nulls (a packet may hold one); an empty line, or one
    // of blanks, is passed over.
    const auto takeRecord = [&](QByteArrayView bytes) {
        if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == ' ' || c == '\t'; }))
            return true;
        bool ok = true;
        QStringList fields = splitCsvLine(QString::fromUtf8(bytes), QLatin1Char(separator), &ok);
        if (!ok)
            return false;
        while (fields.size() > kCsvColumns && fields.constLast().isNull())
            fields.removeLast();
        if (fields.size() > kCsvColumns)
            return false;
        const QString dateTime = fields.size() > kCsvDateTimeColumn ? fields[kCsvDateTimeColumn] : QString();
        if (!appendCsvRow(table, fields))
            return false;
        ++result.rowsAdded;
        lastDateTime = dateTime;
        return true;
    };
    const auto take = [&](QByteArrayView line, QByteArrayView lineEnd) {
        if (header) {
            header = false;
            separator = csvSeparatorOf(line);
            return true;
        }
        // Every line the program writes ends in CR LF: a last line without a
        // line end was cut short as it was written, and is left out.
        if (lineEnd.isEmpty())
            return true;
        const bool wasOpen = open;
        if (std::count(line.begin(), line.end(), '"') % 2 == 1)
            open = !open;
        if (wasOpen || open)
            pending.append(line);
        if (open) {
            // A quoted field goes on in the next line, after this line end.
            pending.append(lineEnd);
            return pending.size() <= kLongestCsvRecord;
        }
        if (fast && !wasOpen) {
            QByteArrayView dateTime;
            if (toPlainLine(line, separator, plainLine, &dateTime)) {
                switch (plain.add(plainLine)) {
                case PlainLine::Taken:
                    ++result.rowsAdded;
                    lastPlainDateTime.resize(0);
                    lastPlainDateTime.append(dateTime);
                    lastWasPlain = true;
                    return true;
                case PlainLine::Empty: // a row of nulls: the general way takes it
                case PlainLine::NotPlain: break;
                }
            }
        }
        // The rows before come first.
        plain.flush();
        const qsizetype before = result.rowsAdded;
        const bool taken = takeRecord(wasOpen ? QByteArrayView(pending) : line);
        if (result.rowsAdded != before)
            lastWasPlain = false;
        pending.clear();
        return taken;
    };
    if (progress)
        progress->total.store(file.isSequential() ? 0 : file.size() - file.pos(), std::memory_order_relaxed);
    const qint64 total = forEachLine(file, progress, take);
    // The rows of the lines taken stay, also when a later one failed.
    plain.flush();
    if (total == 0) {
        result = failed();
        return read;
    }
    if (lastWasPlain)
        lastDateTime = QString::fromLatin1(lastPlainDateTime);
    if (result.rowsAdded > 0) {
        const QDateTime at = QDateTime::fromString(lastDateTime, Qt::ISODate);
        if (at.isValid())
            read.lastRowAt = at.toMSecsSinceEpoch();
    }
    result.ok = total > 0;
    return read;
}

// A CSV, or a text table that was given a CSV's name (its header has a tab).
CsvRead readCsvOrText(ReadingTable& table, QIODevice& file, Progress* progress, bool fast = true) {
    const QByteArray start = file.peek(4096);
    qsizetype headerEnd = start.indexOf('\n');
    if (const qsizetype cr = start.indexOf('\r'); cr >= 0 && (headerEnd < 0 || cr < headerEnd))
        headerEnd = cr;
    if (start.left(headerEnd < 0 ? start.size() : headerEnd).contains('\t'))
        return {fast ? loadText(table, file, progress) : general::loadText(table, file), std::nullopt};
    return readCsv(table, file, progress, fast);
}

// When the file was last written, as the moment its rows end.
std::optional<qint64> modifiedAt(const QString& fileName) {
    const QDateTime at = QFileInfo(fileName).lastModified();
    return at.isValid() ? std::optional<qint64>(at.toMSecsSinceEpoch()) : std::nullopt;
}

} // namespace

bool xmlCanHold(const ReadingTable& table) {
    const auto& fields = table.fields();
    for (qsizetype row = 0; row < table.rowCount(); ++row)
        for (int f = 0; f < fields.size(); ++f)
            if (fields[f].type == FieldType::Text && firstUnwritableInXml(table.textView(row, f)) >= 0)
                return false;
    return true;
}

bool isXmlFileName(const QString& fileName) {
    return fileName.endsWith(QLatin1String(".xml"), Qt::CaseSensitive);
}

QByteArray textHeader() {
    return QByteArrayLiteral("No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n");
}

QByteArray textLine(const ReadingTable& table, qsizetype row) {
    QByteArray out;
    out.reserve(64);
    appendTextLine(table, row, out);
    return out;
}

QByteArray textTable(const ReadingTable& table) {
    return collect(table, [](const ReadingTable& t, auto&& write) { return writeTextTable(t, write); });
}

SaveResult saveText(const ReadingTable& table, const QString& fileName, Progress* progress) {
    return saveThrough(
        table, fileName,
        [progress](const ReadingTable& t, auto&& write) { return writeTextTable(t, write, progress); },
        progress);
}

QStringList splitTextLine(QStringView line, bool* ok) {
    bool dummy = true;
    bool& good = ok ? *ok : dummy;
    good = true;
    if (line.contains(QLatin1Char('\t')))
        return splitTabbed(line, &good);
    return splitBlankSeparated(line);
}

LoadResult loadText(ReadingTable& table, const QString& fileName, Progress* progress) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return failed();
    return loadText(table, file, progress);
}

LoadResult loadText(ReadingTable& table, QIODevice& file, Progress* progress) {
    LoadResult result;
    bool header = true;
    PlainRows plain(table);
    // One line, without its line break; false stops the load.
    const auto takeLine = [&](QByteArrayView bytes) {
        if (header) {
            header = false;
            return true;
        }
        switch (plain.add(bytes)) {
        case PlainLine::Taken: ++result.rowsAdded; return true;
        case PlainLine::Empty: return true;
        case PlainLine::NotPlain: break;
        }
        // The rows before come first.
        plain.flush();
        bool taken = false;
        if (!appendGeneralLine(table, bytes, &taken))
            return false;
        result.rowsAdded += taken ? 1 : 0;
        return true;
    };
    if (progress)
        progress->total.store(file.isSequential() ? 0 : file.size() - file.pos(), std::memory_order_relaxed);
    const qint64 total = forEachLine(file, progress, takeLine);
    // The rows of the lines taken stay, also when a later one failed.
    plain.flush();
    if (total == 0)
        return failed(); // not even the header line to skip
    if (total < 0)
        return failed(result.rowsAdded);
    result.ok = true;
    return result;
}

// Field names need not be XML names ("DC/AC"), so a row carries each value in
// an attribute derived from the name: every character other than an ASCII
// letter, digit, '_', '-' or '.' becomes '_', and a name that does not start
// with a letter or '_' gets a leading '_'. "DC/AC" is thus carried as
// "DC_AC"; FIELD's attrname keeps the real name, and the reader derives the
// attribute from it the same way.
QString xmlAttributeName(const QString& fieldName) {
    QString out;
    out.reserve(fieldName.size() + 1);
    for (QChar c : fieldName) {
        const char16_t u = c.unicode();
        const bool valid = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
                           u == u'_' || u == u'-' || u == u'.';
        out.append(valid ? c : QLatin1Char('_'));
    }
    if (out.isEmpty() || !(out.front().isLetter() || out.front() == QLatin1Char('_')))
        out.prepend(QLatin1Char('_'));
    return out;
}

QByteArray xmlPacket(const ReadingTable& table) {
    QByteArray out;
    const bool written = writePacket(table, [&out](const QByteArray& bytes) {
        out.append(bytes);
        return true;
    });
    return written ? out : QByteArray();
}

SaveResult saveXml(const ReadingTable& table, const QString& fileName, Progress* progress) {
    QString why;
    SaveResult result = saveThrough(
        table, fileName,
        [&why, progress](const ReadingTable& t, auto&& write) {
            return writePacket(t, write, &why, progress);
        },
        progress);
    if (!result.ok && !why.isEmpty())
        result.error = why;
    return result;
}

LoadResult loadXml(ReadingTable& table, const QString& fileName, Progress* progress) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return failed();
    return loadXml(table, file, progress);
}

LoadResult loadXml(ReadingTable& table, QIODevice& file, Progress* progress) {
    const ChangeWatch watch(file);
    if (progress)
        progress->total.store(file.isSequential() ? 0 : file.size() - file.pos(), std::memory_order_relaxed);
    if (!file.isSequential()) {
        const qint64 start = file.pos();
        ReadingTable loaded;
        switch (ownpacket::read(file, watch, loaded, progress)) {
        case ownpacket::Outcome::Loaded: return replacedBy(table, std::move(loaded));
        case ownpacket::Outcome::Failed: return failed();
        case ownpacket::Outcome::NotOwnLayout: break;
        }
        if (!file.seek(start))
            return failed();
    }
    return readGeneralPacket(table, file, watch, progress);
}

namespace general {

QByteArray xmlPacket(const ReadingTable& table) {
    QByteArray out;
    const bool written = writeGeneralPacket(table, [&out](const QByteArray& bytes) {
        out.append(bytes);
        return true;
    });
    return written ? out : QByteArray();
}

LoadResult loadXml(ReadingTable& table, QIODevice& device) {
    const ChangeWatch watch(device);
    return readGeneralPacket(table, device, watch, nullptr);
}

LoadResult loadCsv(ReadingTable& table, QIODevice& device) {
    return readCsvOrText(table, device, nullptr, false).result;
}

LoadResult loadText(ReadingTable& table, QIODevice& device) {
    LoadResult result;
    bool header = true;
    const qint64 total = forEachLine(device, nullptr, [&](QByteArrayView bytes) {
        if (std::exchange(header, false))
            return true;
        bool taken = false;
        if (!appendGeneralLine(table, bytes, &taken))
            return false;
        result.rowsAdded += taken ? 1 : 0;
        return true;
    });
    if (total <= 0)
        return failed(total == 0 ? 0 : result.rowsAdded);
    result.ok = true;
    return result;
}

} // namespace general

// --- CSV ---------------------------------------------------------------------

bool isCsvFileName(const QString& fileName) {
    return fileName.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
}

char csvSeparator(QStringView decimalSep) {
    return decimalSep == QLatin1String(",") ? ';' : ',';
}

QByteArray csvHeader(QStringView decimalSep) {
    QByteArray header = QByteArrayLiteral("No,Time,DateTime,DC/AC,Value,Unit,AUTO\r\n");
    header.replace(',', csvSeparator(decimalSep));
    return header;
}

RowDates::RowDates(const ReadingTable& table, qint64 fallback) {
    const QDateTime end = QDateTime::fromMSecsSinceEpoch(table.lastRowAt().value_or(fallback));
    QDate day = end.date();
    // The time of day of the row after the one looked at; the moment's for the last row.
    int after = end.time().msecsSinceStartOfDay() / 1000;
    TimesOfDay times(table);
    for (qsizetype row = table.rowCount() - 1; row >= 0; --row) {
        const int s = times.at(row);
        if (s < 0)
            continue;
        if (s > after + kClocksBack) {
            // A midnight between this row and the one after it.
            starts_.emplace_back(row + 1, day);
            day = day.addDays(-1);
        }
        after = s;
    }
    starts_.emplace_back(0, day);
    std::reverse(starts_.begin(), starts_.end());
}

QDate RowDates::date(qsizetype row) const {
    // The last start at or before the row.
    const auto next = std::upper_bound(starts_.begin(), starts_.end(), row,
                                       [](qsizetype r, const auto& start) { return r < start.first; });
    return std::prev(next)->second;
}

QDate RowDates::dateAt(QStringView text, qint64 atMs) {
    const int s = secondsOfDay(text);
    if (s < 0)
        return {};
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(atMs);
    return s > at.time().msecsSinceStartOfDay() / 1000 + kClocksBack ? at.date().addDays(-1) : at.date();
}

QByteArray csvLine(const ReadingTable& table, qsizetype row, QStringView decimalSep, QDate date) {
    QByteArray out;
    out.reserve(80);
    CsvFieldsOfRow fields(table, decimalSep);
    appendCsvLine(table, row, csvSeparator(decimalSep), date, fields, out);
    return out;
}

QByteArray csvTable(const ReadingTable& table, QStringView decimalSep) {
    return collect(table, [decimalSep](const ReadingTable& t, auto&& write) {
        return writeCsvTable(t, decimalSep, write);
    });
}

SaveResult saveCsv(const ReadingTable& table, const QString& fileName, QStringView decimalSep,
                   Progress* progress) {
    return saveThrough(
        table, fileName,
        [decimalSep, progress](const ReadingTable& t, auto&& write) {
            return writeCsvTable(t, decimalSep, write, progress);
        },
        progress);
}

QStringList splitCsvLine(QStringView line, QChar separator, bool* ok) {
    bool dummy = true;
    bool& good = ok ? *ok : dummy;
    good = true;
    QStringList fields;
    qsizetype i = 0;
    for (;;) {
        if (i < line.size() && line[i] == QLatin1Char('"')) {
            QString field = QStringLiteral(""); // empty, not null
            bool closed = false;
            for (++i; i < line.size(); ++i) {
                if (line[i] != QLatin1Char('"')) {
                    field.append(line[i]);
                } else if (i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                    field.append(QLatin1Char('"'));
                    ++i;
                } else {
                    closed = true;
                    ++i;
                    break;
                }
            }
            if (!closed || (i < line.size() && line[i] != separator)) {
                good = false;
                return fields;
            }
            fields.append(field);
        } else {
            const qsizetype start = i;
            while (i < line.size() && line[i] != separator)
                ++i;
            fields.append(i == start ? QString() : line.mid(start, i - start).toString());
        }
        if (i >= line.size())
            return fields;
        ++i; // the separator; one at the very end leaves one more, empty field
    }
}

LoadResult loadCsv(ReadingTable& table, QIODevice& device, Progress* progress) {
    CsvRead read = readCsvOrText(table, device, progress);
    if (read.lastRowAt)
        table.setLastRowAt(read.lastRowAt);
    return read.result;
}

LoadResult loadCsv(ReadingTable& table, const QString& fileName, Progress* progress) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return failed();
    CsvRead read = readCsvOrText(table, file, progress);
    if (read.result.rowsAdded > 0)
        table.setLastRowAt(read.lastRowAt ? read.lastRowAt : modifiedAt(fileName));
    return read.result;
}

LoadResult loadTableFile(const QString& fileName, ReadingTable& table, bool emptyFirst, Progress* progress) {
    if (emptyFirst)
        table.clear();
    if (isCsvFileName(fileName))
        return loadCsv(table, fileName, progress);
    const LoadResult result =
        isXmlFileName(fileName) ? loadXml(table, fileName, progress) : loadText(table, fileName, progress);
    if (result.rowsAdded > 0)
        table.setLastRowAt(modifiedAt(fileName));
    return result;
}

} // namespace voltaro::datafiles
