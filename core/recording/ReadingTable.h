#pragma once

#include "core/recording/ChunkedVector.h"
#include "core/recording/PackedColumn.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace voltaro {

enum class FieldType { Integer, Text };

struct FieldDef {
    QString name;
    FieldType type;
    int size; // characters kept of a text; 0 for integers
};

// The reading table: typed, nullable fields in a fixed order and rows in the
// order they were added. Texts come from small vocabularies (functions,
// units, judgements, times of day, displayed values), so each field keeps
// each of its distinct texts once and a cell holds the text's number. The
// cells are packed columns: neighbouring rows hold close numbers (record
// numbers counting up, the meter's count, a few texts), so most cells take
// one or two bytes, and a row about 11 bytes.
class ReadingTable {
public:
    static constexpr int kTextSize = 20;
    // No, time, DC/AC, Value, Unit, Auto, NVal.
    static const QVector<FieldDef>& standardFields();
    enum Field { No = 0, Time, Function, Value, Unit, Judge, NVal, FieldCount };

    ReadingTable();

    const QVector<FieldDef>& fields() const { return standardFields(); }
    // The field of that name, matched without regard to case; -1 if none.
    int fieldIndex(QStringView name) const;

    qsizetype rowCount() const { return static_cast<qsizetype>(cells_[0].size()); }
    // Appends a row with every field null and returns its index.
    qsizetype appendRow();
    void clear();

    // Appends every row of `other`, field by field, and leaves `other` empty.
    // Into an empty table the rows move as they are.
    void appendRows(ReadingTable&& other);

    void setInt(qsizetype row, int field, std::int32_t v);
    // Stores at most the first 20 characters.
    void setText(qsizetype row, int field, QStringView v);
    // The same with the hash prefetchText() returned for `v` (0: none).
    void setText(qsizetype row, int field, QStringView v, std::uint32_t hash);
    // A set text field's number in its field's pool of texts, and the text of
    // that number set into the same field: for loaders that meet the same
    // texts again and again. A number stays good until the table is cleared.
    std::uint32_t textNumber(qsizetype row, int field) const {
        return cells_[field][static_cast<std::size_t>(row)];
    }
    void setTextNumber(qsizetype row, int field, std::uint32_t number);
    // For loaders of many rows: a table of many different texts finds each
    // in a pool too large for the processor's caches, and waits for memory
    // twice (the text's slot, then its characters). A loader that calls
    // prefetchText() some rows ahead of setText(), and prefetchChars() with
    // the hash it returned some rows later, overlaps those waits. The hash is
    // 0 when the field's last text is this one, which is in the cache.
    std::uint32_t prefetchText(int field, QStringView v) const { return pools_[field].prefetch(v); }
    void prefetchChars(int field, std::uint32_t hash) const { pools_[field].prefetchChars(hash); }
    void setNull(qsizetype row, int field);

    bool isNull(qsizetype row, int field) const;
    std::optional<std::int32_t> intValue(qsizetype row, int field) const;
    // An integer field as its decimal text; empty for null.
    QString text(qsizetype row, int field) const;
    // A text field's text without a copy (empty for null, as for an empty
    // text: ask isNull()); it stays valid until the table is cleared.
    QStringView textView(qsizetype row, int field) const;

    // Bytes the rows take (cells and texts), for benchmarks.
    std::size_t memoryBytes() const;

    // When the last row was recorded, in milliseconds since the epoch, when
    // known: the rows keep a time of day only, and the dates a CSV gives them
    // are counted back from this moment (datafiles::RowDates). The recording
    // sets it with each row, the loaders from the file; appendRows() takes
    // the other table's, clear() forgets it.
    std::optional<qint64> lastRowAt() const { return lastRowAt_; }
    void setLastRowAt(std::optional<qint64> msecsSinceEpoch) { lastRowAt_ = msecsSinceEpoch; }

private:
    // The texts of one field, each kept once and known by its number, found
    // by their characters: open addressing over a power-of-two array of
    // slots, at most half of them used. A slot keeps the text's number, its
    // hash with its length in the low bits, and the text itself when it is
    // short (a time of day, a value, a unit), else where its characters are
    // (the pooled copy's, which never move or change). A probe compares
    // characters only when hash and length agree. The slot found last is
    // tried first: rows repeat their neighbours' texts.
    class TextPool {
    public:
        static constexpr std::uint32_t kNone = 0xFFFFFFFFu; // no text's number
        // The number of `text` (cut to kTextSize), pooled now if it is new;
        // `hash` is the one prefetch() returned for it, or 0.
        std::uint32_t intern(QStringView text, std::uint32_t hash = 0);
        const QString& at(std::uint32_t number) const { return texts_[static_cast<qsizetype>(number)]; }
        std::uint32_t size() const { return static_cast<std::uint32_t>(texts_.size()); }
        void clear();
        std::size_t memoryBytes() const;
        // See ReadingTable::prefetchText.
        std::uint32_t prefetch(QStringView text) const;
        void prefetchChars(std::uint32_t hash) const;

    private:
        static constexpr int kInlineUnits = 8;
        static constexpr std::uint32_t kFree = 0xFFFFFFFFu;
        struct Slot {
            std::array<char16_t, kInlineUnits> text{}; // or a pointer to the characters, when longer
            std::uint32_t hashAndLength = 0;
            std::uint32_t number = kFree;
        };
        static const char16_t* charsOf(const Slot& slot);
        static bool holdsChars(const Slot& slot, QStringView text);
        // The hash of a text, its length in the five low bits.
        static std::uint32_t hashOf(QStringView text);
        void grow();

        QStringList texts_;
        std::vector<Slot> slots_;
        std::uint32_t hint_ = kFree;
    };

    // One cell per field and row: an integer as a code that keeps its order
    // (the sign bit flipped), so that close values are close codes, or the
    // number of the text in its field's pool.
    PackedColumn cells_[FieldCount];
    ChunkedVector<std::uint8_t> nulls_; // bit f set: field f is null
    TextPool pools_[FieldCount];        // those of the integer fields stay empty
    std::optional<qint64> lastRowAt_;
};

} // namespace voltaro
