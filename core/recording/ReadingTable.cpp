#include "core/recording/ReadingTable.h"

#include <algorithm>

namespace voltaro {

namespace {

std::uint8_t bit(int field) {
    return static_cast<std::uint8_t>(1u << field);
}

constexpr std::uint8_t kAllNull = (1u << ReadingTable::FieldCount) - 1;

// An integer's code: the sign bit flipped, so that the codes keep the
// integers' order and -1 and 1 are two codes apart, not four thousand million.
std::uint32_t codeOf(std::int32_t v) {
    return static_cast<std::uint32_t>(v) ^ 0x80000000u;
}

std::int32_t intOf(std::uint32_t code) {
    return static_cast<std::int32_t>(code ^ 0x80000000u);
}

// The record number is kept as its distance from the row's index: numbers
// counting up with the rows, as the recorder gives them, are one code over a
// whole chunk. The sum wraps around, so any number comes back as it went in.
std::uint32_t cellOf(qsizetype row, int field, std::int32_t v) {
    const std::uint32_t code = codeOf(v);
    return field == ReadingTable::No ? code - static_cast<std::uint32_t>(row) : code;
}

std::int32_t intOf(qsizetype row, int field, std::uint32_t cell) {
    return intOf(field == ReadingTable::No ? cell + static_cast<std::uint32_t>(row) : cell);
}

bool isInteger(int field) {
    return ReadingTable::standardFields()[field].type == FieldType::Integer;
}

} // namespace

const QVector<FieldDef>& ReadingTable::standardFields() {
    static const QVector<FieldDef> fields = {
        {QStringLiteral("No"), FieldType::Integer, 0},
        {QStringLiteral("time"), FieldType::Text, kTextSize},
        {QStringLiteral("DC/AC"), FieldType::Text, kTextSize},
        {QStringLiteral("Value"), FieldType::Text, kTextSize},
        {QStringLiteral("Unit"), FieldType::Text, kTextSize},
        {QStringLiteral("Auto"), FieldType::Text, kTextSize},
        {QStringLiteral("NVal"), FieldType::Integer, 0},
    };
    return fields;
}

ReadingTable::ReadingTable() = default;

int ReadingTable::fieldIndex(QStringView name) const {
    const auto& f = fields();
    for (int i = 0; i < f.size(); ++i)
        if (name.compare(f[i].name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

qsizetype ReadingTable::appendRow() {
    for (auto& column : cells_)
        column.append();
    nulls_.push_back(kAllNull);
    return rowCount() - 1;
}

void ReadingTable::clear() {
    for (auto& column : cells_)
        column.clear();
    nulls_.clear();
    for (auto& pool : pools_)
        pool.clear();
}

std::uint32_t ReadingTable::TextPool::intern(QStringView text) {
    // Cut at a character's end: a pair of UTF-16 units is kept whole or not at all.
    qsizetype keep = std::min<qsizetype>(text.size(), kTextSize);
    if (keep < text.size() && keep > 0 && text[keep - 1].isHighSurrogate())
        --keep;
    const QStringView key = text.left(keep);
    const auto it = index_.find(key);
    if (it != index_.end())
        return it->second;
    const auto number = static_cast<std::uint32_t>(texts_.size());
    texts_.append(key.toString());
    // The key views the pooled copy, whose characters never move or change.
    index_.emplace(QStringView(texts_.constLast()), number);
    return number;
}

void ReadingTable::TextPool::clear() {
    texts_.clear();
    index_.clear();
}

std::size_t ReadingTable::TextPool::memoryBytes() const {
    std::size_t bytes = 0;
    for (const QString& s : texts_)
        bytes += sizeof(QString) + static_cast<std::size_t>(s.capacity()) * 2 + 16;
    return bytes;
}

// A cell holds a code of its field's kind: an integer's for an integer field,
// a text's number for a text field.
void ReadingTable::setInt(qsizetype row, int field, std::int32_t v) {
    Q_ASSERT(isInteger(field));
    cells_[field].set(static_cast<std::size_t>(row), cellOf(row, field, v));
    nulls_[row] &= static_cast<std::uint8_t>(~bit(field));
}

void ReadingTable::setText(qsizetype row, int field, QStringView v) {
    Q_ASSERT(!isInteger(field));
    cells_[field].set(static_cast<std::size_t>(row), pools_[field].intern(v));
    nulls_[row] &= static_cast<std::uint8_t>(~bit(field));
}

void ReadingTable::setNull(qsizetype row, int field) {
    nulls_[row] |= bit(field);
}

bool ReadingTable::isNull(qsizetype row, int field) const {
    return (nulls_[row] & bit(field)) != 0;
}

std::optional<std::int32_t> ReadingTable::intValue(qsizetype row, int field) const {
    if (isNull(row, field))
        return std::nullopt;
    return intOf(row, field, cells_[field][static_cast<std::size_t>(row)]);
}

QString ReadingTable::text(qsizetype row, int field) const {
    if (isNull(row, field))
        return {};
    const std::uint32_t cell = cells_[field][static_cast<std::size_t>(row)];
    if (isInteger(field))
        return QString::number(intOf(row, field, cell));
    return pools_[field].at(cell);
}

std::size_t ReadingTable::memoryBytes() const {
    std::size_t bytes = nulls_.capacityBytes();
    for (const auto& column : cells_)
        bytes += column.capacityBytes();
    for (const auto& pool : pools_)
        bytes += pool.memoryBytes();
    return bytes;
}

} // namespace voltaro
