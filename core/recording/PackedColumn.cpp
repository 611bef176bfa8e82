#include "core/recording/PackedColumn.h"

#include <algorithm>
#include <cstring>

namespace voltaro {

namespace {

// The first chunk starts this small and doubles until it is full size, so a
// small table is small.
constexpr std::uint32_t kFirstCapacity = 64;

std::uint32_t largestOffset(int width) {
    return width == 4 ? UINT32_MAX : (1u << (8 * width)) - 1;
}

} // namespace

std::uint32_t PackedColumn::Chunk::offset(std::size_t j) const {
    switch (width) {
    case 1: return bytes[j];
    case 2: {
        std::uint16_t v;
        std::memcpy(&v, bytes.get() + 2 * j, sizeof v);
        return v;
    }
    default: {
        std::uint32_t v;
        std::memcpy(&v, bytes.get() + 4 * j, sizeof v);
        return v;
    }
    }
}

std::size_t PackedColumn::filled(std::size_t chunk) const {
    return std::min(kChunkSize, size_ - chunk * kChunkSize);
}

void PackedColumn::appendToNewRoom() {
    if (size_ == chunks_.size() * kChunkSize) {
        Chunk c;
        c.capacity = chunks_.empty() ? kFirstCapacity : static_cast<std::uint32_t>(kChunkSize);
        c.bytes = std::make_unique<std::uint8_t[]>(c.capacity);
        chunks_.push_back(std::move(c));
    } else if (size_ == chunks_[0].capacity) {
        growFirstChunk();
    }
    ++size_;
}

void PackedColumn::growFirstChunk() {
    Chunk& c = chunks_[0];
    const std::uint32_t capacity = std::min<std::uint32_t>(2 * c.capacity, kChunkSize);
    auto grown = std::make_unique<std::uint8_t[]>(std::size_t{capacity} * c.width);
    std::memcpy(grown.get(), c.bytes.get(), std::size_t{c.capacity} * c.width);
    c.bytes = std::move(grown);
    c.capacity = capacity;
}

void PackedColumn::clear() {
    chunks_.clear();
    size_ = 0;
}

void PackedColumn::widenRange(Chunk& c, std::size_t chunk, std::uint32_t code) {
    const std::uint32_t lo = std::min(c.lo, code);
    const std::uint32_t hi = std::max(c.hi, code);
    if (code < c.base || code - c.base > largestOffset(c.width))
        reencode(c, filled(chunk), lo, hi);
    c.lo = lo;
    c.hi = hi;
}

void PackedColumn::reencode(Chunk& c, std::size_t filled, std::uint32_t lo, std::uint32_t hi) {
    const std::uint32_t span = hi - lo;
    int width = c.width;
    while (span > largestOffset(width))
        width *= 2;
    // The span in the middle of what the offsets reach, so that codes coming
    // on either side have room. Four bytes reach every code from 0.
    std::uint32_t base = 0;
    if (width < 4) {
        const std::uint32_t reach = largestOffset(width);
        base = lo - std::min(lo, (reach - span) / 2);
        if (base > UINT32_MAX - reach)
            base = UINT32_MAX - reach;
    }
    Chunk out;
    out.width = static_cast<std::uint8_t>(width);
    out.base = base;
    if (width != c.width)
        out.bytes = std::make_unique<std::uint8_t[]>(std::size_t{c.capacity} * width);
    Chunk& to = width != c.width ? out : c; // the same width is re-encoded in place
    const std::uint32_t reach = largestOffset(width);
    for (std::size_t j = 0; j < filled; ++j) {
        // Every cell set holds a code of [lo, hi]; one never set may hold
        // anything, and gets the base.
        const std::uint32_t code = c.base + c.offset(j);
        to.putOffset(j, code >= base && code - base <= reach ? code - base : 0);
    }
    if (width != c.width)
        c.bytes = std::move(out.bytes);
    c.width = static_cast<std::uint8_t>(width);
    c.base = base;
}

std::size_t PackedColumn::capacityBytes() const {
    std::size_t bytes = 0;
    for (const Chunk& c : chunks_)
        bytes += std::size_t{c.capacity} * c.width;
    return bytes;
}

} // namespace voltaro
