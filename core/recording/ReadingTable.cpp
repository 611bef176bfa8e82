#include "core/recording/ReadingTable.h"

#include <algorithm>

namespace voltaro {

namespace {

std::uint8_t intBit(int field) {
    return field == ReadingTable::No ? 1 : 2;
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
        column.push_back(kNull);
    intNulls_.push_back(intBit(No) | intBit(NVal));
    return rowCount() - 1;
}

void ReadingTable::clear() {
    for (auto& column : cells_)
        column.clear();
    intNulls_.clear();
    pool_.clear();
    poolIndex_.clear();
}

std::uint32_t ReadingTable::intern(QStringView text) {
    // Cut at a character's end: a pair of UTF-16 units is kept whole or not at all.
    qsizetype keep = std::min<qsizetype>(text.size(), kTextSize);
    if (keep < text.size() && keep > 0 && text[keep - 1].isHighSurrogate())
        --keep;
    const QStringView key = text.left(keep);
    const auto it = poolIndex_.find(key);
    if (it != poolIndex_.end())
        return it->second;
    const auto index = static_cast<std::uint32_t>(pool_.size());
    pool_.append(key.toString());
    // The key views the pooled copy, whose characters never move or change.
    poolIndex_.emplace(QStringView(pool_.constLast()), index);
    return index;
}

void ReadingTable::setInt(qsizetype row, int field, std::int32_t v) {
    cells_[field][row] = static_cast<std::uint32_t>(v);
    intNulls_[row] &= static_cast<std::uint8_t>(~intBit(field));
}

void ReadingTable::setText(qsizetype row, int field, QStringView v) {
    cells_[field][row] = intern(v);
}

void ReadingTable::setNull(qsizetype row, int field) {
    if (standardFields()[field].type == FieldType::Integer)
        intNulls_[row] |= intBit(field);
    else
        cells_[field][row] = kNull;
}

bool ReadingTable::isNull(qsizetype row, int field) const {
    if (standardFields()[field].type == FieldType::Integer)
        return (intNulls_[row] & intBit(field)) != 0;
    return cells_[field][row] == kNull;
}

std::optional<std::int32_t> ReadingTable::intValue(qsizetype row, int field) const {
    if (isNull(row, field))
        return std::nullopt;
    return static_cast<std::int32_t>(cells_[field][row]);
}

QString ReadingTable::text(qsizetype row, int field) const {
    if (isNull(row, field))
        return {};
    if (standardFields()[field].type == FieldType::Integer)
        return QString::number(static_cast<std::int32_t>(cells_[field][row]));
    return pool_[static_cast<qsizetype>(cells_[field][row])];
}

std::size_t ReadingTable::memoryBytes() const {
    std::size_t bytes = intNulls_.capacityBytes();
    for (const auto& column : cells_)
        bytes += column.capacityBytes();
    for (const QString& s : pool_)
        bytes += sizeof(QString) + static_cast<std::size_t>(s.capacity()) * 2 + 16;
    return bytes;
}

} // namespace voltaro
