#pragma once

#include "core/recording/ChunkedVector.h"
#include "core/recording/PackedColumn.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>
#include <optional>
#include <unordered_map>

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

    void setInt(qsizetype row, int field, std::int32_t v);
    // Stores at most the first 20 characters.
    void setText(qsizetype row, int field, QStringView v);
    void setNull(qsizetype row, int field);

    bool isNull(qsizetype row, int field) const;
    std::optional<std::int32_t> intValue(qsizetype row, int field) const;
    // An integer field as its decimal text; empty for null.
    QString text(qsizetype row, int field) const;

    // Bytes the rows take (cells and texts), for benchmarks.
    std::size_t memoryBytes() const;

private:
    // The texts of one field, each kept once and known by its number.
    class TextPool {
    public:
        // The number of `text`, pooled now if it is new.
        std::uint32_t intern(QStringView text);
        const QString& at(std::uint32_t number) const { return texts_[static_cast<qsizetype>(number)]; }
        void clear();
        std::size_t memoryBytes() const;

    private:
        QStringList texts_;
        // Looked up by view, so finding a text already pooled allocates nothing.
        // The texts are short, and a plain FNV-1a hash finds them several times
        // faster than the toolkit's seeded string hash.
        struct ShortTextHash {
            std::size_t operator()(QStringView text) const noexcept {
                std::uint64_t h = 14695981039346656037ull;
                for (QChar c : text)
                    h = (h ^ c.unicode()) * 1099511628211ull;
                return static_cast<std::size_t>(h);
            }
        };
        std::unordered_map<QStringView, std::uint32_t, ShortTextHash> index_;
    };

    // One cell per field and row: an integer as a code that keeps its order
    // (the sign bit flipped), so that close values are close codes, or the
    // number of the text in its field's pool.
    PackedColumn cells_[FieldCount];
    ChunkedVector<std::uint8_t> nulls_; // bit f set: field f is null
    TextPool pools_[FieldCount];        // those of the integer fields stay empty
};

} // namespace voltaro
