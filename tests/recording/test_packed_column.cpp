// The packed cells of the reading table: codes come back as they were set
// whatever their order and spread, and every kind of field keeps its values
// through the chunks' re-encoding.
#include "core/recording/PackedColumn.h"
#include "core/recording/ReadingTable.h"

#include <QString>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <vector>

static void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

using namespace voltaro;

namespace {

constexpr std::size_t kChunk = PackedColumn::kChunkSize;

// Sets cells in the order given and keeps what each should hold.
struct Checked {
    PackedColumn column;
    std::vector<std::optional<std::uint32_t>> expected;

    void grow(std::size_t n) {
        while (column.size() < n) {
            column.append();
            expected.emplace_back();
        }
    }
    void set(std::size_t i, std::uint32_t code) {
        column.set(i, code);
        expected[i] = code;
    }
    // Every cell set holds its code.
    ::testing::AssertionResult holds() const {
        for (std::size_t i = 0; i < expected.size(); ++i)
            if (expected[i] && column[i] != *expected[i])
                return ::testing::AssertionFailure()
                       << "cell " << i << " holds " << column[i] << ", set " << *expected[i];
        return ::testing::AssertionSuccess();
    }
};

} // namespace

TEST(PackedColumn, CloseCodesTakeOneByteAndCountingUpTwo) {
    Checked small, counting;
    small.grow(2 * kChunk + 100);
    counting.grow(2 * kChunk + 100);
    for (std::size_t i = 0; i < small.expected.size(); ++i) {
        small.set(i, 4'000'000'000u + static_cast<std::uint32_t>(i % 200));
        counting.set(i, 5'000'000u + static_cast<std::uint32_t>(i));
    }
    EXPECT_TRUE(small.holds());
    EXPECT_TRUE(counting.holds());
    for (std::size_t i : {std::size_t{0}, kChunk, 2 * kChunk})
        EXPECT_EQ(small.column.cellBytes(i), 1) << i;
    // A full chunk spans 65,535 numbers; the last one, of 100 cells, 99.
    EXPECT_EQ(counting.column.cellBytes(0), 2);
    EXPECT_EQ(counting.column.cellBytes(kChunk), 2);
    EXPECT_EQ(counting.column.cellBytes(2 * kChunk), 1);
    EXPECT_EQ(small.column.capacityBytes(), 3 * kChunk);
}

TEST(PackedColumn, AgreesWithAPlainArrayWhateverTheCodes) {
    std::mt19937 random(20261210);
    const auto any = [&] { return static_cast<std::uint32_t>(random()); };
    const struct {
        const char* name;
        std::function<std::uint32_t(std::size_t)> code;
    } patterns[] = {
        {"counting down", [](std::size_t i) { return 3'000'000u - static_cast<std::uint32_t>(i); }},
        {"any 32 bits", [&](std::size_t) { return any(); }},
        {"both ends", [](std::size_t i) { return i % 2 ? UINT32_MAX - (i % 7) : std::uint32_t(i % 5); }},
        {"random walk", [&, v = 1u << 31](std::size_t) mutable { return v += (any() % 601) - 300; }},
        {"few with a stray", [&](std::size_t i) { return i % 5000 == 4999 ? any() : 70000u + any() % 3; }},
        {"near the top", [&](std::size_t) { return UINT32_MAX - any() % 300; }},
    };
    for (const auto& p : patterns) {
        SCOPED_TRACE(p.name);
        Checked c;
        c.grow(kChunk + 1000);
        for (std::size_t i = 0; i < c.expected.size(); ++i)
            if (i % 11 != 3) // some cells are never set
                c.set(i, p.code(i));
        ASSERT_TRUE(c.holds());
        // Rewriting cells anywhere, then appending more.
        for (int k = 0; k < 5000; ++k)
            c.set(any() % c.expected.size(), p.code(static_cast<std::size_t>(k)));
        ASSERT_TRUE(c.holds());
        c.grow(2 * kChunk + 7);
        for (std::size_t i = kChunk + 1000; i < c.expected.size(); ++i)
            c.set(i, p.code(i));
        ASSERT_TRUE(c.holds());
    }
}

TEST(PackedColumn, WidensOnlyTheChunkThatNeedsIt) {
    Checked c;
    c.grow(3 * kChunk);
    for (std::size_t i = 0; i < c.expected.size(); ++i)
        c.set(i, static_cast<std::uint32_t>(i % 3));
    c.set(kChunk + 5, 1u << 20);
    EXPECT_EQ(c.column.cellBytes(0), 1);
    EXPECT_EQ(c.column.cellBytes(kChunk), 4);
    EXPECT_EQ(c.column.cellBytes(2 * kChunk), 1);
    EXPECT_TRUE(c.holds());
}

TEST(PackedColumn, StartsSmallAndClears) {
    PackedColumn c;
    for (int i = 0; i < 10; ++i) {
        c.append();
        c.set(static_cast<std::size_t>(i), 7u * static_cast<std::uint32_t>(i));
    }
    EXPECT_EQ(c.capacityBytes(), 64u);
    EXPECT_EQ(c[9], 63u);
    c.clear();
    EXPECT_EQ(c.size(), 0u);
    EXPECT_EQ(c.capacityBytes(), 0u);
    c.append();
    c.set(0, UINT32_MAX);
    EXPECT_EQ(c[0], UINT32_MAX);
}

// --- The reading table on packed cells -----------------------------------------

namespace {

// A row's fields as the table gives them: null or its text.
struct Fields {
    std::optional<QString> f[ReadingTable::FieldCount];
};

void put(ReadingTable& t, qsizetype row, const Fields& r) {
    for (int f = 0; f < ReadingTable::FieldCount; ++f) {
        if (!r.f[f])
            t.setNull(row, f);
        else if (t.fields()[f].type == FieldType::Integer)
            t.setInt(row, f, r.f[f]->toInt());
        else
            t.setText(row, f, *r.f[f]);
    }
}

::testing::AssertionResult holds(const ReadingTable& t, qsizetype row, const Fields& r) {
    for (int f = 0; f < ReadingTable::FieldCount; ++f) {
        const bool null = !r.f[f];
        const QString want = null ? QString() : *r.f[f];
        if (t.isNull(row, f) != null || t.text(row, f) != want)
            return ::testing::AssertionFailure() << "row " << row << " field " << f << ": "
                                                 << (t.isNull(row, f) ? "null" : t.text(row, f).toStdString())
                                                 << " instead of " << (null ? "null" : want.toStdString());
        if (t.fields()[f].type == FieldType::Integer &&
            t.intValue(row, f) != (null ? std::nullopt : std::optional<std::int32_t>(want.toInt())))
            return ::testing::AssertionFailure() << "row " << row << " field " << f << ": integer differs";
    }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(ReadingTableCells, EveryKindOfFieldComesBackAsSet) {
    const QString twenty = QStringLiteral("Ab\u00b5\u03a9 \u00e9\u00e8\u00fc\u00dfx1234567890");
    ASSERT_EQ(twenty.size(), 20);
    const QString pairAtCut = QString(19, u'x') + QStringLiteral("\U0001D6C0");
    const std::vector<Fields> kinds = {
        {{"1", "12:34:56", "DC", "1.234", "V", "Pass", "1234"}},
        {{std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}},
        {{"2147483647", "", "", "", "", "", "-2147483648"}},
        {{"-2147483648", "12.34.56", "AC", "-0.L", "m\u00b5V", "Fail", "2147483647"}},
        {{"0", "12-34-56", twenty, twenty, twenty, twenty, "0"}},
        {{"-1", "\u4e0b\u5348 3:04:05", "\u00b0C", "OL", "\u03a9", "\u00c4nderung", "-22000"}},
        {{"7", std::nullopt, "DC", std::nullopt, "V", std::nullopt, std::nullopt}},
    };
    ReadingTable t;
    std::vector<Fields> expected;
    // Each kind after rows counting as the recorder counts, so that every
    // kind lands in chunks already packed for ordinary rows.
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 30000; ++i) {
            const int no = static_cast<int>(t.rowCount()) + 1;
            expected.push_back(
                {{QString::number(no), QStringLiteral("10:00:%1").arg(i % 60, 2, 10, QChar('0')), "DC",
                  QString::number(i % 300), "V", "Pass", QString::number(i % 300 - 150)}});
            put(t, t.appendRow(), expected.back());
        }
        for (const Fields& k : kinds) {
            expected.push_back(k);
            put(t, t.appendRow(), k);
        }
    }
    // A text past the cap is cut; a character's two halves are kept together.
    const qsizetype cut = t.appendRow();
    t.setText(cut, ReadingTable::Value, twenty + "xyz");
    t.setText(cut, ReadingTable::Unit, pairAtCut);
    expected.push_back(
        {{std::nullopt, std::nullopt, std::nullopt, twenty, QString(19, u'x'), std::nullopt, std::nullopt}});
    ASSERT_EQ(t.rowCount(), static_cast<qsizetype>(expected.size()));
    for (qsizetype r = 0; r < t.rowCount(); ++r)
        ASSERT_TRUE(holds(t, r, expected[static_cast<std::size_t>(r)]));
}

TEST(ReadingTableCells, NullAndEmptyTextStayApartInEveryTextField) {
    ReadingTable t;
    for (int r = 0; r < 600; ++r) {
        const qsizetype row = t.appendRow();
        for (int f = ReadingTable::Time; f <= ReadingTable::Judge; ++f)
            if ((r + f) % 3 == 1)
                t.setText(row, f, u"");
            else if ((r + f) % 3 == 2)
                t.setText(row, f, QString::number(r));
    }
    for (int r = 0; r < 600; ++r)
        for (int f = ReadingTable::Time; f <= ReadingTable::Judge; ++f) {
            const int kind = (r + f) % 3;
            ASSERT_EQ(t.isNull(r, f), kind == 0) << r << " " << f;
            ASSERT_EQ(t.text(r, f), kind == 2 ? QString::number(r) : QString()) << r << " " << f;
        }
}

TEST(ReadingTableCells, ASmallVocabularyGrowsPastAByteAndTwo) {
    // 300 functions, then the judgement with 70,000 different texts: past
    // what one and then two bytes number, mixed with the few common ones.
    ReadingTable t;
    const auto function = [](int i) {
        return i % 4 ? QStringLiteral("DC") : QStringLiteral("F%1").arg(i % 1200);
    };
    const auto judge = [](int i) { return i % 2 ? QStringLiteral("Pass") : QStringLiteral("J%1").arg(i); };
    for (int i = 0; i < 140000; ++i) {
        const qsizetype row = t.appendRow();
        t.setText(row, ReadingTable::Function, function(i));
        t.setText(row, ReadingTable::Judge, judge(i));
        t.setText(row, ReadingTable::Unit, u"V");
    }
    for (int i = 0; i < 140000; ++i) {
        ASSERT_EQ(t.text(i, ReadingTable::Function), function(i)) << i;
        ASSERT_EQ(t.text(i, ReadingTable::Judge), judge(i)) << i;
        ASSERT_EQ(t.text(i, ReadingTable::Unit), "V") << i;
    }
}

TEST(ReadingTableCells, RecordNumbersOfAnySizeAndOrder) {
    ReadingTable t;
    std::vector<std::int32_t> numbers;
    for (std::int32_t v = INT_MAX - 70000; v != INT_MAX; ++v) // counting up to the top
        numbers.push_back(v);
    numbers.push_back(INT_MAX);
    for (std::int32_t v = INT_MIN + 5; v != INT_MIN; --v) // and down to the bottom
        numbers.push_back(v);
    numbers.push_back(INT_MIN);
    for (std::int32_t v : {0, -1, 1, INT_MAX, INT_MIN, 123456789, -987654321})
        numbers.push_back(v);
    for (int i = 0; i < 1000; ++i) // counting down, as a file may hold them
        numbers.push_back(1000 - i);
    for (std::int32_t v : numbers) {
        const qsizetype row = t.appendRow();
        t.setInt(row, ReadingTable::No, v);
        t.setInt(row, ReadingTable::NVal, v);
    }
    for (std::size_t r = 0; r < numbers.size(); ++r) {
        const auto row = static_cast<qsizetype>(r);
        ASSERT_EQ(t.intValue(row, ReadingTable::No), numbers[r]) << r;
        ASSERT_EQ(t.text(row, ReadingTable::No), QString::number(numbers[r])) << r;
        ASSERT_EQ(t.intValue(row, ReadingTable::NVal), numbers[r]) << r;
    }
}

TEST(ReadingTableCells, ARecordedRowTakesAboutElevenBytes) {
    // Rows as the recorder makes them at the line's rate: the number counting
    // up, a new second every 137 rows, a value and count that move, the rest
    // the same. The cells took 29 bytes a row before they were packed.
    ReadingTable t;
    constexpr int kRows = 6 * static_cast<int>(kChunk);
    for (int i = 0; i < kRows; ++i) {
        const qsizetype row = t.appendRow();
        const int second = i / 137;
        t.setInt(row, ReadingTable::No, i + 1);
        t.setText(row, ReadingTable::Time,
                  QStringLiteral("%1:%2:%3")
                      .arg(second / 3600, 2, 10, QChar('0'))
                      .arg(second / 60 % 60, 2, 10, QChar('0'))
                      .arg(second % 60, 2, 10, QChar('0')));
        t.setText(row, ReadingTable::Function, u"DC");
        t.setText(row, ReadingTable::Value, QString::number((i * 7) % 400));
        t.setText(row, ReadingTable::Unit, u"V");
        t.setText(row, ReadingTable::Judge, u"Pass");
        t.setInt(row, ReadingTable::NVal, (i * 7) % 400 - 200);
    }
    const double perRow = static_cast<double>(t.memoryBytes()) / kRows;
    EXPECT_LE(perRow, 12.5);
    EXPECT_EQ(t.text(kRows - 1, ReadingTable::No), QString::number(kRows));
    EXPECT_EQ(t.text(kRows - 1, ReadingTable::Time), "00:47:50");
    EXPECT_EQ(t.text(kRows - 1, ReadingTable::NVal), QString::number((kRows - 1) * 7 % 400 - 200));
}
