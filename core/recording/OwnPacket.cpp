#include "core/recording/OwnPacket.h"

#include "core/recording/ChangeWatch.h"
#include "core/recording/DataFiles.h"

#include <QVarLengthArray>

#include <array>
#include <charconv>
#include <cstring>

namespace voltaro::datafiles::ownpacket {

namespace {

constexpr int kFields = ReadingTable::FieldCount;

// A character XML 1.0 cannot hold in any form: a control character other
// than tab, line feed and carriage return, or U+FFFE, U+FFFF.
bool unwritable(char16_t c) {
    return (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0xFFFE || c == 0xFFFF;
}

// The escape of an ASCII character in an attribute value, or nothing.
QByteArrayView asciiEscape(char16_t c) {
    switch (c) {
    case u'<': return "&lt;";
    case u'>': return "&gt;";
    case u'&': return "&amp;";
    case u'"': return "&quot;";
    case u'\t': return "&#9;";
    case u'\n': return "&#10;";
    case u'\r': return "&#13;";
    default: return {};
    }
}

// Writes `text` escaped as an attribute value, in UTF-8, at `to` and returns
// the end; at most kMostBytesPerUnit bytes for each UTF-16 unit. What is not
// ASCII goes through the toolkit's own UTF-8 conversion, as the whole packet
// did when the toolkit's writer made it.
constexpr qsizetype kMostBytesPerUnit = 6; // "&quot;"

char* putValue(QStringView text, char* to) {
    qsizetype i = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x80)
            break;
        if (const QByteArrayView escape = asciiEscape(c); !escape.isEmpty()) {
            std::memcpy(to, escape.data(), static_cast<std::size_t>(escape.size()));
            to += escape.size();
        } else {
            *to++ = static_cast<char>(c);
        }
    }
    if (i == text.size())
        return to;
    QString rest;
    rest.reserve(text.size() - i + 16);
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (const QByteArrayView escape = c < 0x80 ? asciiEscape(c) : QByteArrayView(); !escape.isEmpty())
            rest.append(QLatin1String(escape.data(), escape.size()));
        else
            rest.append(text[i]);
    }
    const QByteArray utf8 = rest.toUtf8();
    std::memcpy(to, utf8.constData(), static_cast<std::size_t>(utf8.size()));
    return to + utf8.size();
}

void appendValue(QStringView text, QByteArray& out) {
    const qsizetype at = out.size();
    out.resize(at + text.size() * kMostBytesPerUnit);
    out.truncate(putValue(text, out.data() + at) - out.constData());
}

struct Layout {
    QByteArray head;
    std::array<QByteArray, kFields> names; // each field's attribute, as " name=\""
};

const Layout& layout() {
    static const Layout l = [] {
        Layout made;
        QByteArray& h = made.head;
        h = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DATAPACKET Version=\"2.0\">\n    <METADATA>\n"
            "        <FIELDS>";
        const auto& fields = ReadingTable::standardFields();
        for (int f = 0; f < kFields; ++f) {
            h += "\n            <FIELD attrname=\"";
            appendValue(fields[f].name, h);
            if (fields[f].type == FieldType::Integer)
                h += "\" fieldtype=\"i4\"/>";
            else
                h += "\" fieldtype=\"string\" WIDTH=\"" + QByteArray::number(fields[f].size) + "\"/>";
            made.names[f] = " " + xmlAttributeName(fields[f].name).toLatin1() + "=\"";
        }
        h += "\n        </FIELDS>\n        <PARAMS/>\n    </METADATA>\n    <ROWDATA";
        return made;
    }();
    return l;
}

constexpr QByteArrayView kRowStart = "\n        <ROW RowState=\"4\"";

} // namespace

QByteArrayView head() {
    return layout().head;
}

QByteArrayView rowsStart() {
    return ">";
}

QByteArrayView endAfterRows() {
    return "\n    </ROWDATA>\n</DATAPACKET>\n";
}

QByteArrayView endWithoutRows() {
    return "/>\n</DATAPACKET>\n";
}

namespace {

// The first character of `text` XML cannot hold, or -1.
qsizetype firstUnwritable(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (unwritable(text[i].unicode()))
            return i;
    return -1;
}

char* put(char* to, QByteArrayView bytes) {
    std::memcpy(to, bytes.data(), static_cast<std::size_t>(bytes.size()));
    return to + bytes.size();
}

} // namespace

bool appendRow(const ReadingTable& table, qsizetype row, QByteArray& out, QString* why) {
    const auto& fields = table.fields();
    const auto& names = layout().names;
    // Room for the longest the row can be, written through a pointer and cut
    // to what was written: far faster than appending piece by piece.
    qsizetype most = kRowStart.size() + 2;
    std::array<QStringView, kFields> texts;
    for (int f = 0; f < kFields; ++f) {
        if (table.isNull(row, f))
            continue;
        most += names[f].size() + 1 + 11;
        if (fields[f].type == FieldType::Text) {
            texts[f] = table.textView(row, f);
            most += texts[f].size() * kMostBytesPerUnit;
        }
    }
    const qsizetype start = out.size();
    out.resize(start + most);
    char* to = put(out.data() + start, kRowStart);
    for (int f = 0; f < kFields; ++f) {
        if (table.isNull(row, f))
            continue;
        to = put(to, names[f]);
        if (fields[f].type == FieldType::Integer) {
            to = std::to_chars(to, to + 11, *table.intValue(row, f)).ptr;
        } else if (const qsizetype at = firstUnwritable(texts[f]); at >= 0) {
            // XML has no way to carry such a character: the file would read back different.
            if (why)
                *why =
                    QStringLiteral("row %1, column \"%2\" holds the control character 0x%3, which an "
                                   "XML file cannot hold; save the table as a text file instead")
                        .arg(row + 1)
                        .arg(fields[f].name)
                        .arg(QString::number(texts[f][at].unicode(), 16).rightJustified(2, u'0').toUpper());
            out.truncate(start);
            return false;
        } else {
            to = putValue(texts[f], to);
        }
        *to++ = '"';
    }
    to = put(to, "/>");
    out.truncate(to - out.constData());
    return true;
}

// --- Reading ----------------------------------------------------------------

bool readInteger(QByteArrayView v, std::int32_t* out) {
    const bool negative = v.startsWith('-');
    const QByteArrayView digits = negative ? v.sliced(1) : v;
    if (digits.isEmpty() || digits.size() > 10 || (digits[0] == '0' && (digits.size() > 1 || negative)))
        return false;
    std::int64_t n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    n = negative ? -n : n;
    if (n < INT32_MIN || n > INT32_MAX)
        return false;
    *out = static_cast<std::int32_t>(n);
    return true;
}

namespace {

// No row this program writes is near this long; a longer one is left to the
// general reader, so the buffer stays small.
constexpr qsizetype kLongestRow = 1 << 16;
constexpr qsizetype kBuffer = 1 << 20;

// One UTF-8 sequence from `v` at `i`, well formed and shortest, of a
// character XML holds; 0 when it is not one.
char32_t readUtf8(QByteArrayView v, qsizetype& i) {
    const auto byte = [&](qsizetype k) {
        return i + k < v.size() ? static_cast<unsigned char>(v[i + k]) : 0u;
    };
    const auto more = [&](qsizetype k) { return (byte(k) & 0xC0) == 0x80; };
    const unsigned b0 = byte(0);
    char32_t c = 0;
    if (b0 >= 0xC2 && b0 < 0xE0 && more(1)) {
        c = ((b0 & 0x1F) << 6) | (byte(1) & 0x3F);
        i += 2;
    } else if (b0 >= 0xE0 && b0 < 0xF0 && more(1) && more(2)) {
        c = ((b0 & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
        i += 3;
        if (c < 0x800)
            return 0;
    } else if (b0 >= 0xF0 && b0 < 0xF5 && more(1) && more(2) && more(3)) {
        c = ((b0 & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
        i += 4;
        if (c < 0x10000 || c > 0x10FFFF)
            return 0;
    } else {
        return 0;
    }
    // Surrogates are no characters, and XML holds neither U+FFFE nor U+FFFF.
    if ((c >= 0xD800 && c < 0xE000) || c == 0xFFFE || c == 0xFFFF)
        return 0;
    return c;
}

// An entity the writer writes, from the '&' at `i`; 0 for any other.
char16_t readEntity(QByteArrayView v, qsizetype& i) {
    static constexpr std::pair<QByteArrayView, char16_t> kEntities[] = {
        {"&lt;", u'<'},  {"&gt;", u'>'},   {"&amp;", u'&'},  {"&quot;", u'"'},
        {"&#9;", u'\t'}, {"&#10;", u'\n'}, {"&#13;", u'\r'},
    };
    const QByteArrayView rest = v.sliced(i);
    for (const auto& [entity, c] : kEntities) {
        if (rest.startsWith(entity)) {
            i += entity.size();
            return c;
        }
    }
    return 0;
}

using Text = QVarLengthArray<char16_t, 64>;

// An attribute value as the writer escapes it, decoded into `out`; false for
// anything the writer would not have written.
bool readText(QByteArrayView v, Text& out) {
    out.clear();
    qsizetype i = 0;
    while (i < v.size()) {
        const auto b = static_cast<unsigned char>(v[i]);
        if (b >= 0x20 && b < 0x80 && b != '<' && b != '>' && b != '&' && b != '"') {
            out.append(b);
            ++i;
        } else if (b == '&') {
            const char16_t c = readEntity(v, i);
            if (c == 0)
                return false;
            out.append(c);
        } else if (b >= 0x80) {
            const char32_t c = readUtf8(v, i);
            if (c == 0)
                return false;
            if (c >= 0x10000) {
                out.append(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
                out.append(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
            } else {
                out.append(static_cast<char16_t>(c));
            }
        } else {
            return false;
        }
    }
    return true;
}

class Reader {
public:
    Reader(QIODevice& device, const ChangeWatch& watch, Progress* progress)
        : device_(device), watch_(watch), progress_(progress) {
        buffer_.resize(kBuffer);
    }
    Outcome run(ReadingTable& into);

private:
    // Makes at least `n` bytes after the read position available, unless the
    // file ends first; false when it ended or reading failed (failed_).
    bool want(qsizetype n);
    QByteArrayView available() const { return QByteArrayView(buffer_).sliced(at_, end_ - at_); }
    // True when exactly `bytes` are left, and the file ends there.
    bool endsWith(QByteArrayView bytes);
    bool readRow(QByteArrayView element, ReadingTable& into);
    Outcome rows(ReadingTable& into);

    QIODevice& device_;
    const ChangeWatch& watch_;
    Progress* progress_;
    QByteArray buffer_;
    qsizetype at_ = 0;
    qsizetype end_ = 0;
    qint64 read_ = 0;
    bool ended_ = false;
    bool failed_ = false;
    Text text_;
};

bool Reader::want(qsizetype n) {
    while (end_ - at_ < n) {
        if (ended_ || failed_)
            return false;
        if (at_ > 0) {
            std::memmove(buffer_.data(), buffer_.constData() + at_, static_cast<std::size_t>(end_ - at_));
            end_ -= at_;
            at_ = 0;
        }
        const qint64 got = device_.read(buffer_.data() + end_, kBuffer - end_);
        // A piece read after the file changed may be part of another file.
        if (got < 0 || watch_.changed()) {
            failed_ = true;
            return false;
        }
        ended_ = got == 0;
        end_ += got;
        read_ += got;
        if (progress_)
            progress_->done.store(read_, std::memory_order_relaxed);
    }
    return true;
}

bool Reader::endsWith(QByteArrayView bytes) {
    return !want(bytes.size() + 1) && !failed_ && available() == bytes;
}

bool Reader::readRow(QByteArrayView element, ReadingTable& into) {
    const auto& names = layout().names;
    const auto& fields = into.fields();
    const qsizetype row = into.appendRow();
    qsizetype i = 0;
    int next = 0;
    for (;;) {
        const QByteArrayView rest = element.sliced(i);
        if (rest == "/>")
            return true;
        int f = next;
        while (f < kFields && !rest.startsWith(names[f]))
            ++f;
        if (f == kFields)
            return false;
        i += names[f].size();
        const qsizetype close = element.indexOf('"', i);
        if (close < 0)
            return false;
        const QByteArrayView value = element.sliced(i, close - i);
        if (fields[f].type == FieldType::Integer) {
            std::int32_t n = 0;
            if (!readInteger(value, &n))
                return false;
            into.setInt(row, f, n);
        } else {
            if (!readText(value, text_))
                return false;
            into.setText(row, f, QStringView(text_.constData(), text_.size()));
        }
        i = close + 1;
        next = f + 1;
    }
}

Outcome Reader::rows(ReadingTable& into) {
    for (;;) {
        const char* gt = nullptr;
        for (qsizetype looked = 0;;) {
            const QByteArrayView bytes = available();
            gt = static_cast<const char*>(
                std::memchr(bytes.data() + looked, '>', static_cast<std::size_t>(bytes.size() - looked)));
            if (gt || bytes.size() > kLongestRow)
                break;
            looked = bytes.size();
            if (!want(bytes.size() + 1))
                break;
        }
        if (failed_)
            return Outcome::Failed;
        if (!gt)
            return Outcome::NotOwnLayout;
        const QByteArrayView element = available().first(gt + 1 - available().data());
        if (!element.startsWith(kRowStart))
            return endsWith(endAfterRows()) ? Outcome::Loaded
                                            : (failed_ ? Outcome::Failed : Outcome::NotOwnLayout);
        if (!readRow(element.sliced(kRowStart.size()), into))
            return Outcome::NotOwnLayout;
        at_ += element.size();
    }
}

Outcome Reader::run(ReadingTable& into) {
    const QByteArrayView expected = head();
    if (!want(expected.size() + 2) || !available().startsWith(expected))
        return failed_ ? Outcome::Failed : Outcome::NotOwnLayout;
    at_ += expected.size();
    if (available().startsWith(rowsStart())) {
        at_ += rowsStart().size();
        return rows(into);
    }
    if (endsWith(endWithoutRows()))
        return Outcome::Loaded;
    return failed_ ? Outcome::Failed : Outcome::NotOwnLayout;
}

} // namespace

Outcome read(QIODevice& device, const ChangeWatch& watch, ReadingTable& into, Progress* progress) {
    Reader reader(device, watch, progress);
    const Outcome outcome = reader.run(into);
    // The whole file is read by now; a change after the last read still counts.
    if (outcome == Outcome::Loaded && watch.changed())
        return Outcome::Failed;
    return outcome;
}

} // namespace voltaro::datafiles::ownpacket
