#pragma once

#include "core/recording/ChunkedVector.h"

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
// order they were added. Texts come from a small vocabulary (functions,
// units, judgements, times of day, displayed values), so each distinct text
// is stored once and a cell holds its number: a row costs about 30 bytes.
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
    // A set text field's number in the table's pool of texts, and the text
    // of that number set into a field: for loaders that meet the same texts
    // again and again. A number stays good until the table is cleared.
    std::uint32_t textNumber(qsizetype row, int field) const { return cells_[field][row]; }
    void setTextNumber(qsizetype row, int field, std::uint32_t number) { cells_[field][row] = number; }
    // For loaders of many rows: a table of many different texts finds each
    // in a pool too large for the processor's caches, and waits for memory
    // twice (the text's slot, then its characters). A loader that calls
    // prefetchText() some rows ahead of setText(), and prefetchChars() with
    // the hash it returned some rows later, overlaps those waits. The hash is
    // 0 when the field's last text is this one, which is in the cache.
    std::uint32_t prefetchText(int field, QStringView v) const;
    void prefetchChars(std::uint32_t hash) const;
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

private:
    static constexpr std::uint32_t kNull = 0xFFFFFFFFu;
    // The text's number in the pool, pooled now if it is new. `hint` is the
    // slot the same field found last: rows repeat their neighbours' texts
    // (the function, the unit, the judgement, the second), and a comparison
    // with that one text spares the lookup.
    std::uint32_t intern(QStringView text, std::uint32_t& hint);

    // One 32-bit cell per field and row: the integer itself (with a null bit
    // kept apart) or the number of the text in the pool.
    ChunkedVector<std::uint32_t> cells_[FieldCount];
    ChunkedVector<std::uint8_t> intNulls_; // bit f set: integer field f is null
    QStringList pool_;
    // Finds a text in the pool by its characters: open addressing over a
    // power-of-two array of slots, at most half of them used. A slot keeps
    // the text's number, its hash with its length in the low bits, and the
    // text itself when it is short (a time of day, a value, a unit), else
    // where its characters are (the pooled copy's, which never move or
    // change). A probe compares characters only when hash and length agree,
    // and for a short text finds them in the slot, never in the pool. The
    // texts are short, and a plain FNV-1a hash suits them.
    static constexpr int kInlineUnits = 8;
    struct Slot {
        std::array<char16_t, kInlineUnits> text{}; // or a pointer to the characters, when longer
        std::uint32_t hashAndLength = 0;
        std::uint32_t number = kNull; // kNull: the slot is free
    };
    static const char16_t* charsOf(const Slot& slot);
    std::vector<Slot> slots_;
    // The hash of a text cut to kTextSize, its length in the five low bits.
    static std::uint32_t hashOf(QStringView text);
    static bool holds(const Slot& slot, std::uint32_t hashAndLength, QStringView text);
    static bool holdsChars(const Slot& slot, QStringView text);
    void growSlots();
    std::array<std::uint32_t, FieldCount> lastSlot_; // each text field's hint for intern()
};

} // namespace voltaro
