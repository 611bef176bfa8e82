#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace voltaro {

// A column of 32-bit codes kept in as few bytes as its values allow. The
// cells are kept in chunks of kChunkSize; each chunk stores its cells as
// offsets of 1, 2 or 4 bytes from a base of its own. The codes of a chunk
// usually lie close together (record numbers counting up, the meter's count,
// a text's number in a small vocabulary, the seconds of a few minutes), so
// most cells take one or two bytes.
//
// A code that does not fit its chunk's offsets re-encodes that chunk alone:
// around the new span with room to spare on both sides, or with wider offsets
// when the span needs them. The spare room halves at most every time, so a
// chunk is re-encoded only a few dozen times over its life however its codes
// come, and never more than one chunk at a time.
//
// A cell appended and not set yet holds no particular code: whoever reads it
// must know from elsewhere that it was set (the reading table keeps null
// bits for that).
class PackedColumn {
public:
    static constexpr std::size_t kChunkSize = 65536;

    std::size_t size() const { return size_; }
    // Appends a cell that is not set. Inline, as set(): a loaded table calls
    // them for every cell; only a new chunk or a re-encoding leaves the header.
    void append() {
        if (size_ < chunks_.size() * kChunkSize && size_ != chunks_[0].capacity)
            ++size_;
        else
            appendToNewRoom();
    }
    void clear();

    void set(std::size_t i, std::uint32_t code) {
        Chunk& c = chunks_[i / kChunkSize];
        if (code < c.lo || code > c.hi)
            widenRange(c, i / kChunkSize, code);
        c.putOffset(i % kChunkSize, code - c.base);
    }
    std::uint32_t operator[](std::size_t i) const {
        const Chunk& c = chunks_[i / kChunkSize];
        return c.base + c.offset(i % kChunkSize);
    }

    // Bytes a cell of i's chunk takes now: 1, 2 or 4.
    int cellBytes(std::size_t i) const { return chunks_[i / kChunkSize].width; }
    // Bytes held for cells, for the memory accounting of benchmarks.
    std::size_t capacityBytes() const;

private:
    struct Chunk {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::uint32_t capacity = 0; // cells there is room for
        std::uint32_t base = 0;
        // The smallest and largest code ever set in this chunk; lo > hi while
        // none was. A cell holds a code from this range once it was set.
        std::uint32_t lo = UINT32_MAX;
        std::uint32_t hi = 0;
        std::uint8_t width = 1;

        std::uint32_t offset(std::size_t j) const;
        void putOffset(std::size_t j, std::uint32_t offset) {
            switch (width) {
            case 1: bytes[j] = static_cast<std::uint8_t>(offset); break;
            case 2: {
                const auto v = static_cast<std::uint16_t>(offset);
                std::memcpy(bytes.get() + 2 * j, &v, sizeof v);
                break;
            }
            default: std::memcpy(bytes.get() + 4 * j, &offset, sizeof offset); break;
            }
        }
    };

    // The cells the chunk holds, set or not.
    std::size_t filled(std::size_t chunk) const;
    void appendToNewRoom();
    // A code outside the chunk's range so far: the range takes it in, and
    // the chunk is re-encoded when its offsets do not reach the code.
    void widenRange(Chunk& c, std::size_t chunk, std::uint32_t code);
    void growFirstChunk();
    void reencode(Chunk& c, std::size_t filled, std::uint32_t lo, std::uint32_t hi);

    std::vector<Chunk> chunks_;
    std::size_t size_ = 0;
};

} // namespace voltaro
