#include "core/recording/ReadingTable.h"

#include <algorithm>
#include <cstring>

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
    lastRowAt_.reset();
}

void ReadingTable::appendRows(ReadingTable&& other) {
    if (rowCount() == 0) {
        *this = std::move(other);
        other.clear();
        return;
    }
    // Each text of the other pools is looked up here once, when a cell first needs it.
    std::array<std::vector<std::uint32_t>, FieldCount> number;
    for (int field = 0; field < FieldCount; ++field)
        number[field].assign(other.pools_[field].size(), TextPool::kNone);
    for (qsizetype r = 0; r < other.rowCount(); ++r) {
        const qsizetype row = appendRow();
        for (int field = 0; field < FieldCount; ++field) {
            if (other.isNull(r, field))
                continue;
            if (isInteger(field)) {
                setInt(row, field, *other.intValue(r, field));
                continue;
            }
            const std::uint32_t cell = other.cells_[field][static_cast<std::size_t>(r)];
            std::uint32_t& mine = number[field][cell];
            if (mine == TextPool::kNone)
                mine = pools_[field].intern(other.pools_[field].at(cell));
            cells_[field].set(static_cast<std::size_t>(row), mine);
            nulls_[row] &= static_cast<std::uint8_t>(~bit(field));
        }
    }
    if (other.rowCount() > 0)
        lastRowAt_ = other.lastRowAt_;
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

inline const char16_t* ReadingTable::TextPool::charsOf(const Slot& slot) {
    static_assert(sizeof(Slot::text) >= sizeof(const char16_t*));
    if ((slot.hashAndLength & 31u) <= kInlineUnits)
        return slot.text.data();
    const char16_t* chars = nullptr;
    std::memcpy(&chars, slot.text.data(), sizeof chars);
    return chars;
}

inline bool ReadingTable::TextPool::holdsChars(const Slot& slot, QStringView text) {
    if (slot.number == kFree || (slot.hashAndLength & 31u) != static_cast<std::uint32_t>(text.size()))
        return false;
    const char16_t* chars = text.utf16();
    const char16_t* pooled = charsOf(slot);
    for (qsizetype i = 0; i < text.size(); ++i)
        if (pooled[i] != chars[i])
            return false;
    return true;
}

std::uint32_t ReadingTable::TextPool::hashOf(QStringView text) {
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

std::uint32_t ReadingTable::TextPool::prefetch(QStringView text) const {
    const QStringView key = kept(text);
    if (slots_.empty() || (hint_ != kFree && holdsChars(slots_[hint_], key)))
        return 0;
    const std::uint32_t hash = hashOf(key);
    __builtin_prefetch(&slots_[(hash >> 5) & (slots_.size() - 1)]);
    return hash;
}

void ReadingTable::TextPool::prefetchChars(std::uint32_t hash) const {
    // A short text is in its slot.
    if (hash == 0 || (hash & 31u) <= kInlineUnits || slots_.empty())
        return;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = (hash >> 5) & mask; slots_[i].number != kFree; i = (i + 1) & mask) {
        if (slots_[i].hashAndLength == hash) {
            __builtin_prefetch(charsOf(slots_[i]));
            return;
        }
    }
}

std::uint32_t ReadingTable::TextPool::intern(QStringView text, std::uint32_t known) {
    const QStringView key = kept(text);
    if (hint_ != kFree && holdsChars(slots_[hint_], key))
        return slots_[hint_].number;
    const std::uint32_t hash = known != 0 ? known : hashOf(key);
    if ((texts_.size() + 1) * 2 > static_cast<qsizetype>(slots_.size()))
        grow();
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = (hash >> 5) & mask;
    for (; slots_[i].number != kFree; i = (i + 1) & mask) {
        if (slots_[i].hashAndLength == hash && holdsChars(slots_[i], key)) {
            hint_ = static_cast<std::uint32_t>(i);
            return slots_[i].number;
        }
    }
    const auto number = static_cast<std::uint32_t>(texts_.size());
    texts_.append(key.toString());
    Slot& slot = slots_[i];
    slot.hashAndLength = hash;
    slot.number = number;
    if (key.size() <= kInlineUnits) {
        std::copy_n(key.utf16(), key.size(), slot.text.data());
    } else {
        const auto* chars = reinterpret_cast<const char16_t*>(texts_.constLast().constData());
        std::memcpy(slot.text.data(), &chars, sizeof chars);
    }
    hint_ = static_cast<std::uint32_t>(i);
    return number;
}

void ReadingTable::TextPool::grow() {
    std::vector<Slot> grown(std::max<std::size_t>(16, slots_.size() * 2));
    const std::size_t mask = grown.size() - 1;
    for (const Slot& slot : slots_) {
        if (slot.number == kFree)
            continue;
        std::size_t i = (slot.hashAndLength >> 5) & mask;
        while (grown[i].number != kFree)
            i = (i + 1) & mask;
        grown[i] = slot;
    }
    slots_ = std::move(grown);
    // The hint names a slot, and they have all moved.
    hint_ = kFree;
}

void ReadingTable::TextPool::clear() {
    texts_.clear();
    slots_.clear();
    hint_ = kFree;
}

std::size_t ReadingTable::TextPool::memoryBytes() const {
    std::size_t bytes = slots_.capacity() * sizeof(Slot);
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
    setText(row, field, v, 0);
}

void ReadingTable::setText(qsizetype row, int field, QStringView v, std::uint32_t hash) {
    Q_ASSERT(!isInteger(field));
    cells_[field].set(static_cast<std::size_t>(row), pools_[field].intern(v, hash));
    nulls_[row] &= static_cast<std::uint8_t>(~bit(field));
}

void ReadingTable::setTextNumber(qsizetype row, int field, std::uint32_t number) {
    Q_ASSERT(!isInteger(field) && number < pools_[field].size());
    cells_[field].set(static_cast<std::size_t>(row), number);
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

QStringView ReadingTable::textView(qsizetype row, int field) const {
    if (isNull(row, field))
        return {};
    return pools_[field].at(cells_[field][static_cast<std::size_t>(row)]);
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
