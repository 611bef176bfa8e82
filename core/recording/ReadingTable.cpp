#include "core/recording/ReadingTable.h"

#include <algorithm>
#include <cstring>
#include <vector>

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

ReadingTable::ReadingTable() {
    lastSlot_.fill(kNull);
}

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
    slots_.clear();
    lastSlot_.fill(kNull);
}

void ReadingTable::appendRows(ReadingTable&& other) {
    if (rowCount() == 0) {
        *this = std::move(other);
        other.clear();
        return;
    }
    // Each text of the other pool is looked up here once, when a cell first needs it.
    std::vector<std::uint32_t> number(static_cast<std::size_t>(other.pool_.size()), kNull);
    const auto& f = fields();
    for (qsizetype r = 0; r < other.rowCount(); ++r) {
        const qsizetype row = appendRow();
        intNulls_[row] = other.intNulls_[r];
        for (int field = 0; field < FieldCount; ++field) {
            const std::uint32_t cell = other.cells_[field][r];
            if (f[field].type == FieldType::Integer || cell == kNull) {
                cells_[field][row] = cell;
                continue;
            }
            if (number[cell] == kNull)
                number[cell] = intern(other.pool_[static_cast<qsizetype>(cell)], lastSlot_[field]);
            cells_[field][row] = number[cell];
        }
    }
    other.clear();
}

namespace {

// The part of a text the table keeps: cut at a character's end, so a pair of
// UTF-16 units is kept whole or not at all.
QStringView kept(QStringView text) {
    qsizetype keep = std::min<qsizetype>(text.size(), ReadingTable::kTextSize);
    if (keep < text.size() && keep > 0 && text[keep - 1].isHighSurrogate())
        --keep;
    return text.left(keep);
}

} // namespace

inline const char16_t* ReadingTable::charsOf(const Slot& slot) {
    static_assert(sizeof(Slot::text) >= sizeof(const char16_t*));
    if ((slot.hashAndLength & 31u) <= kInlineUnits)
        return slot.text.data();
    const char16_t* chars = nullptr;
    std::memcpy(&chars, slot.text.data(), sizeof chars);
    return chars;
}

inline bool ReadingTable::holdsChars(const Slot& slot, QStringView text) {
    if (slot.number == kNull || (slot.hashAndLength & 31u) != static_cast<std::uint32_t>(text.size()))
        return false;
    const char16_t* chars = text.utf16();
    const char16_t* pooled = charsOf(slot);
    for (qsizetype i = 0; i < text.size(); ++i)
        if (pooled[i] != chars[i])
            return false;
    return true;
}

std::uint32_t ReadingTable::prefetchText(int field, QStringView v) const {
    const QStringView key = kept(v);
    if (slots_.empty() || (lastSlot_[field] != kNull && holdsChars(slots_[lastSlot_[field]], key)))
        return 0;
    const std::uint32_t hash = hashOf(key);
    __builtin_prefetch(&slots_[(hash >> 5) & (slots_.size() - 1)]);
    return hash;
}

void ReadingTable::prefetchChars(std::uint32_t hash) const {
    // A short text is in its slot.
    if (hash == 0 || (hash & 31u) <= kInlineUnits || slots_.empty())
        return;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = (hash >> 5) & mask; slots_[i].number != kNull; i = (i + 1) & mask) {
        if (slots_[i].hashAndLength == hash) {
            __builtin_prefetch(charsOf(slots_[i]));
            return;
        }
    }
}

std::uint32_t ReadingTable::intern(QStringView text, std::uint32_t& hint) {
    const QStringView key = kept(text);
    if (hint != kNull && holdsChars(slots_[hint], key))
        return slots_[hint].number;
    const std::uint32_t hash = hashOf(key);
    if ((pool_.size() + 1) * 2 > static_cast<qsizetype>(slots_.size()))
        growSlots();
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = (hash >> 5) & mask;
    for (; slots_[i].number != kNull; i = (i + 1) & mask) {
        if (holds(slots_[i], hash, key)) {
            hint = static_cast<std::uint32_t>(i);
            return slots_[i].number;
        }
    }
    const auto number = static_cast<std::uint32_t>(pool_.size());
    pool_.append(key.toString());
    Slot& slot = slots_[i];
    slot.hashAndLength = hash;
    slot.number = number;
    if (key.size() <= kInlineUnits) {
        std::copy_n(key.utf16(), key.size(), slot.text.data());
    } else {
        const auto* chars = reinterpret_cast<const char16_t*>(pool_.constLast().constData());
        std::memcpy(slot.text.data(), &chars, sizeof chars);
    }
    hint = static_cast<std::uint32_t>(i);
    return number;
}

std::uint32_t ReadingTable::hashOf(QStringView text) {
    static_assert(kTextSize < 32, "the length goes into five bits");
    // FNV-1a over two units at a time.
    const char16_t* u = text.utf16();
    const qsizetype n = text.size();
    std::uint64_t h = 14695981039346656037ull;
    qsizetype i = 0;
    for (; i + 1 < n; i += 2)
        h = (h ^ (u[i] | (std::uint32_t{u[i + 1]} << 16))) * 1099511628211ull;
    if (i < n)
        h = (h ^ u[i]) * 1099511628211ull;
    return (static_cast<std::uint32_t>(h ^ (h >> 32)) & ~31u) | static_cast<std::uint32_t>(n);
}

bool ReadingTable::holds(const Slot& slot, std::uint32_t hashAndLength, QStringView text) {
    return slot.hashAndLength == hashAndLength && holdsChars(slot, text);
}

void ReadingTable::growSlots() {
    std::vector<Slot> grown(std::max<std::size_t>(64, slots_.size() * 2));
    const std::size_t mask = grown.size() - 1;
    for (const Slot& slot : slots_) {
        if (slot.number == kNull)
            continue;
        std::size_t i = (slot.hashAndLength >> 5) & mask;
        while (grown[i].number != kNull)
            i = (i + 1) & mask;
        grown[i] = slot;
    }
    slots_ = std::move(grown);
    // The hints name slots, which have all moved.
    lastSlot_.fill(kNull);
}

void ReadingTable::setInt(qsizetype row, int field, std::int32_t v) {
    cells_[field][row] = static_cast<std::uint32_t>(v);
    intNulls_[row] &= static_cast<std::uint8_t>(~intBit(field));
}

void ReadingTable::setText(qsizetype row, int field, QStringView v) {
    cells_[field][row] = intern(v, lastSlot_[field]);
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

QStringView ReadingTable::textView(qsizetype row, int field) const {
    const std::uint32_t cell = cells_[field][row];
    return cell == kNull ? QStringView() : QStringView(pool_[static_cast<qsizetype>(cell)]);
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
