// The data files' own fast ways held against the general ways they replace,
// on generated tables and files: the packet the program's own writer makes
// is the toolkit writer's byte for byte; whatever the packet's own reader
// takes, the general XML reader takes to the same rows; and the text table
// loads through its plain-line path exactly as through the general
// splitting of every line. What either refuses, the other refuses.
#include "core/recording/ChangeWatch.h"
#include "core/recording/DataFiles.h"
#include "core/recording/OwnPacket.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include <random>

using namespace voltaro;
namespace df = voltaro::datafiles;

namespace {

QStringList dump(const ReadingTable& t) {
    QStringList out;
    for (qsizetype r = 0; r < t.rowCount(); ++r) {
        QStringList cells;
        for (int f = 0; f < ReadingTable::FieldCount; ++f)
            cells << (t.isNull(r, f) ? QStringLiteral("<null>") : t.text(r, f));
        out << cells.join(QChar(0x1F));
    }
    return out;
}

// A table to load into: a load that fails must leave it (XML) or its first
// row (text) as it was.
ReadingTable withOneRow() {
    ReadingTable t;
    const auto row = t.appendRow();
    t.setInt(row, ReadingTable::No, 77);
    t.setText(row, ReadingTable::Value, u"before");
    return t;
}

struct Loaded {
    df::LoadResult result;
    QStringList rows;
};

template <typename Load> Loaded load(QByteArray bytes, Load&& how) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    ReadingTable t = withOneRow();
    Loaded out;
    out.result = how(t, buffer);
    out.rows = dump(t);
    return out;
}

// Both ways load `bytes` alike: the same outcome and the same rows.
template <typename Fast, typename General>
void expectAlike(const QByteArray& bytes, Fast&& fast, General&& general) {
    const Loaded a = load(bytes, fast);
    const Loaded b = load(bytes, general);
    ASSERT_EQ(a.result.ok, b.result.ok) << bytes.left(2000).toStdString();
    ASSERT_EQ(a.result.rowsAdded, b.result.rowsAdded) << bytes.left(2000).toStdString();
    ASSERT_EQ(a.result.replaced, b.result.replaced);
    ASSERT_EQ(a.rows, b.rows) << bytes.left(2000).toStdString();
}

const auto loadXml = [](ReadingTable& t, QIODevice& d) { return df::loadXml(t, d); };
const auto generalXml = [](ReadingTable& t, QIODevice& d) { return df::general::loadXml(t, d); };
const auto loadText = [](ReadingTable& t, QIODevice& d) { return df::loadText(t, d); };
const auto generalText = [](ReadingTable& t, QIODevice& d) { return df::general::loadText(t, d); };

// What the packet's own reader alone makes of `bytes`.
df::ownpacket::Outcome ownReading(QByteArray bytes) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    ReadingTable into;
    return df::ownpacket::read(buffer, df::ChangeWatch(buffer), into, nullptr);
}

// Texts that go wrong if anything does: the packet's escapes, white space
// XML changes, characters beyond ASCII, beyond the first plane, at the cut
// after twenty units, pairs cut in half, and some XML cannot hold at all.
QString pickText(std::mt19937& rng, bool loneHalves) {
    static const QString pieces[] = {
        QString(),
        QStringLiteral(" "),
        QStringLiteral("12:00:01"),
        QStringLiteral("DC"),
        QStringLiteral("&  *"),
        QStringLiteral("<&\"'>"),
        QStringLiteral("&amp;&lt;"),
        QStringLiteral("\t"),
        QStringLiteral("a\nb\r\nc\r"),
        QStringLiteral(" lead"),
        QStringLiteral("trail "),
        QString::fromUtf8("\xC3\xA9\xC2\xB5\xE2\x82\xAC"),
        QString::fromUtf8("\xF0\x9F\x98\x80"),
        QString(QChar(0x85)),
        QString(QChar(0x7F)),
        QString(QChar(0xA0)),
        QString(QChar(0xFDD0)),
        QString(QChar(0xFFFD)),
        QStringLiteral("1234567890123456789") + QString::fromUtf8("\xF0\x9F\x98\x80"),
        QStringLiteral("a text far longer than the twenty characters kept"),
        QStringLiteral("NULL"),
        QStringLiteral("\"quoted\""),
        // Halves of a pair alone, which no load makes: the writers' checks only.
        QString(QChar(0xD800)),
        QString(QChar(0xDC00)) + QLatin1Char('x'),
    };
    static const QString unwritable[] = {QString(QChar(0x01)), QString(QChar(0xFFFE)), QString(QChar(0x1F))};
    std::uniform_int_distribution<int> pick(0, std::size(pieces) - (loneHalves ? 1 : 3));
    QString text;
    for (int n = std::uniform_int_distribution<int>(1, 3)(rng); n > 0; --n)
        text += pieces[pick(rng)];
    if (std::uniform_int_distribution<int>(0, 60)(rng) == 0)
        text.insert(text.size() / 2, unwritable[std::uniform_int_distribution<int>(0, 2)(rng)]);
    return text;
}

ReadingTable randomTable(std::mt19937& rng, bool loneHalves = false) {
    static const std::int32_t ints[] = {0, 1, -1, 42, 2147483647, -2147483647 - 1, 100000};
    ReadingTable t;
    const int rows = std::uniform_int_distribution<int>(0, 12)(rng);
    for (int r = 0; r < rows; ++r) {
        const auto row = t.appendRow();
        for (int f = 0; f < ReadingTable::FieldCount; ++f) {
            if (std::uniform_int_distribution<int>(0, 4)(rng) == 0)
                continue; // null
            if (t.fields()[f].type == FieldType::Integer)
                t.setInt(row, f, ints[std::uniform_int_distribution<int>(0, std::size(ints) - 1)(rng)]);
            else
                t.setText(row, f, pickText(rng, loneHalves));
        }
    }
    return t;
}

// One change of the kind that turns a packet into one laid out otherwise,
// into one that is not XML, or into the same layout with other values.
QByteArray mutated(QByteArray bytes, std::mt19937& rng) {
    static const char* const inserts[] = {
        "&apos;",
        "&#65;",
        "&#x41;",
        "&#0;",
        "&lt",
        "<!-- c -->",
        "<?pi x?>",
        "<![CDATA[x]]>",
        " ",
        "\r\n",
        "\t",
        " x=\"1\"",
        " No=\"1\"",
        "\xEF\xBB\xBF",
        "</ROW>",
        "<ROW/>",
        "\xC3\xA9",
        "\xED\xA0\x80",
        "\xEF\xBF\xBE",
        "\xF4\x90\x80\x80",
        "\xC2\x85",
        "\xC0\xAF",
        "+",
        "0",
        "-",
        "9",
        "\x7F",
        "'",
        ">",
        "\xE2\x82",
        "&amp;",
        "&#10;",
        "\n        <ROW RowState=\"4\"/>",
        " RowState=\"4\"",
        "\"",
    };
    static const char bytesToPut[] = {'\t', '\n', '\r', ' ', '<', '>', '&',  '"',    '\'',  '/',
                                      '=',  '0',  '-',  '+', 'a', 'Z', '\0', '\x80', '\xFF'};
    if (bytes.isEmpty())
        return bytes;
    std::uniform_int_distribution<qsizetype> at(0, bytes.size() - 1);
    switch (std::uniform_int_distribution<int>(0, 4)(rng)) {
    case 0:
        bytes[at(rng)] = bytesToPut[std::uniform_int_distribution<int>(0, std::size(bytesToPut) - 1)(rng)];
        break;
    case 1:
        bytes.insert(at(rng), inserts[std::uniform_int_distribution<int>(0, std::size(inserts) - 1)(rng)]);
        break;
    case 2: bytes.remove(at(rng), std::uniform_int_distribution<int>(1, 8)(rng)); break;
    case 3: bytes.truncate(at(rng)); break;
    default: {
        // A row written twice, or another row's attributes in the wrong order.
        const qsizetype row = bytes.indexOf("\n        <ROW", at(rng));
        const qsizetype end = row < 0 ? -1 : bytes.indexOf("/>", row);
        if (end > row)
            bytes.insert(row, bytes.mid(row, end + 2 - row));
        else
            bytes.replace(" No=\"", " NVal=\"");
    }
    }
    return bytes;
}

} // namespace

TEST(DataFilePaths, TheOwnWriterWritesWhatTheGeneralWriterWrote) {
    std::mt19937 rng(20261210);
    int refused = 0;
    for (int i = 0; i < 400; ++i) {
        const ReadingTable t = randomTable(rng, true);
        const QByteArray own = df::xmlPacket(t);
        ASSERT_EQ(own, df::general::xmlPacket(t)) << dump(t).join('\n').toStdString();
        refused += own.isEmpty() ? 1 : 0;
    }
    // Both refuse the tables that hold a character XML cannot.
    EXPECT_GT(refused, 5);
    EXPECT_LT(refused, 200);
}

TEST(DataFilePaths, WhatTheOwnReaderTakesTheGeneralReaderTakesToTheSameRows) {
    std::mt19937 rng(27);
    int own = 0;
    int otherwise = 0;
    int refused = 0;
    for (int i = 0; i < 1500; ++i) {
        const ReadingTable t = randomTable(rng);
        const QByteArray packet = df::xmlPacket(t);
        if (packet.isEmpty())
            continue;
        // What the program writes is read by its own reader, and as it was.
        ASSERT_EQ(ownReading(packet), df::ownpacket::Outcome::Loaded);
        const Loaded back = load(packet, loadXml);
        ASSERT_TRUE(back.result.ok);
        ASSERT_EQ(back.rows, dump(t));
        ASSERT_NO_FATAL_FAILURE(expectAlike(packet, loadXml, generalXml));

        QByteArray changed = mutated(packet, rng);
        if (i % 3 == 0)
            changed = mutated(changed, rng);
        const auto outcome = ownReading(changed);
        own += outcome == df::ownpacket::Outcome::Loaded ? 1 : 0;
        otherwise += outcome == df::ownpacket::Outcome::NotOwnLayout ? 1 : 0;
        refused += load(changed, generalXml).result.ok ? 0 : 1;
        ASSERT_NO_FATAL_FAILURE(expectAlike(changed, loadXml, generalXml));
    }
    // Both paths were taken, and files of both outcomes seen.
    EXPECT_GT(own, 100);
    EXPECT_GT(otherwise, 300);
    EXPECT_GT(refused, 100);
}

// Every kind of character in a value, as bytes the writer would write and as
// bytes it would not: the own reader takes none the general reader would
// read otherwise.
TEST(DataFilePaths, EveryKindOfCharacterInAValueReadsAsTheGeneralReaderReadsIt) {
    const QByteArray head = df::ownpacket::head().toByteArray() + df::ownpacket::rowsStart().toByteArray() +
                            "\n        <ROW RowState=\"4\" Value=\"x";
    const QByteArray tail = "y\"/>" + df::ownpacket::endAfterRows().toByteArray();
    std::vector<QByteArray> values;
    for (int b = 0; b < 256; ++b)
        values.push_back(QByteArray(1, static_cast<char>(b)));
    const std::pair<char32_t, char32_t> ranges[] = {{0x80, 0x800},      {0xD700, 0xE100},
                                                    {0xFDC0, 0xFE00},   {0xFFF0, 0x10010},
                                                    {0x1FFF0, 0x20010}, {0x10FFF0, 0x110000}};
    for (const auto& [from, to] : ranges)
        for (char32_t c = from; c < to; ++c)
            values.push_back(QString::fromUcs4(&c, 1).toUtf8());
    // Surrogates, overlong forms and code points beyond Unicode as UTF-8 would
    // spell them, which it does not.
    for (const char* bad :
         {"\xED\xA0\x80", "\xED\xBF\xBF", "\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xF0\x80\x80\x80",
          "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\xC3", "\xE2\x82"})
        values.push_back(bad);
    int own = 0;
    for (const QByteArray& v : values) {
        const QByteArray packet = head + v + tail;
        own += ownReading(packet) == df::ownpacket::Outcome::Loaded ? 1 : 0;
        ASSERT_NO_FATAL_FAILURE(expectAlike(packet, loadXml, generalXml));
    }
    EXPECT_GT(own, 4000);
}

// Lines as the program writes them and as it never did: blanks instead of
// tabs, quotes, integers in every spelling, columns too many, characters
// beyond ASCII, control characters, lines too long, every line end.
TEST(DataFilePaths, ATextTableLoadsThroughThePlainLinePathAsThroughTheGeneralOne) {
    static const char* const tokens[] = {"",
                                         " ",
                                         "12",
                                         "-5",
                                         "+5",
                                         "007",
                                         "-0",
                                         "0",
                                         "2147483647",
                                         "2147483648",
                                         "-2147483648",
                                         "-2147483649",
                                         "1e3",
                                         "12:00:01",
                                         "DC",
                                         "&  *",
                                         "Pass",
                                         "\"q\"",
                                         "\"a\"\"b\"",
                                         "\"unclosed",
                                         "a\"b",
                                         "\xE9",
                                         "\x01 x",
                                         "\x7F",
                                         "\xFF",
                                         "a text longer than the twenty characters kept",
                                         " padded  ",
                                         "NULL"};
    static const char* const ends[] = {"\r\n", "\n", "\r"};
    std::mt19937 rng(4);
    std::uniform_int_distribution<int> token(0, std::size(tokens) - 1);
    for (int i = 0; i < 600; ++i) {
        QByteArray file = "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n";
        const int lines = std::uniform_int_distribution<int>(0, 10)(rng);
        for (int l = 0; l < lines; ++l) {
            const int columns = std::uniform_int_distribution<int>(0, 9)(rng);
            const char separator = std::uniform_int_distribution<int>(0, 5)(rng) == 0 ? ' ' : '\t';
            for (int c = 0; c < columns; ++c) {
                if (c > 0)
                    file += separator;
                // Mostly what the program writes: a number first, then texts.
                const bool plain = std::uniform_int_distribution<int>(0, 3)(rng) > 0;
                file += plain ? (c == 0 ? QByteArray::number(l + 1) : QByteArray("V"))
                              : QByteArray(tokens[token(rng)]);
            }
            if (std::uniform_int_distribution<int>(0, 80)(rng) == 0)
                file += QByteArray(5000, 'x');
            if (l + 1 < lines || std::uniform_int_distribution<int>(0, 2)(rng) > 0)
                file += ends[std::uniform_int_distribution<int>(0, 2)(rng)];
        }
        ASSERT_NO_FATAL_FAILURE(expectAlike(file, loadText, generalText));
    }
}

// A long table whose columns change their ways: texts new in every row for a
// while, then a few taking turns, then new ones again. The plain-line path
// stops remembering a column's texts while they keep being new and looks
// again later; the rows are the same either way.
TEST(DataFilePaths, ALongTableWhoseColumnsChangeTheirWaysLoadsAsThroughTheGeneralPath) {
    QByteArray file = "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n";
    for (int i = 0; i < 20000; ++i) {
        const bool varied = i < 6000 || i >= 14000;
        const QByteArray value = varied ? QByteArray::number(i) : QByteArray::number(i % 3);
        const QByteArray unit = i % 9000 < 4500 ? QByteArray("V") : "u" + QByteArray::number(i);
        file += QByteArray::number(i + 1) + "\t10:" + QByteArray::number(i / 60 % 60) + "\t" +
                (i % 2 ? "DC" : "AC") + "\t" + value + "\t" + unit + "\tPass\r\n";
    }
    ASSERT_NO_FATAL_FAILURE(expectAlike(file, loadText, generalText));
    EXPECT_EQ(load(file, loadText).result.rowsAdded, 20000);
}

// Rows moved into a table already holding rows keep their texts, and the
// pool of texts stays one: what was there keeps its texts too.
TEST(DataFilePaths, RowsAppendedFromAnotherTableKeepEveryField) {
    std::mt19937 rng(9);
    for (int i = 0; i < 50; ++i) {
        ReadingTable into = randomTable(rng);
        ReadingTable other = randomTable(rng);
        const QStringList expected = dump(into) + dump(other);
        into.appendRows(std::move(other));
        EXPECT_EQ(dump(into), expected);
        EXPECT_EQ(other.rowCount(), 0);
    }
}
