#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace voltaro {

// A growing array kept in fixed-size chunks: appending never costs more than
// one chunk allocation and wastes at most one partly filled chunk, however
// many elements it holds. The first chunk starts small and doubles until it
// is full size, so a small array is small; only then are elements moved.
template <typename T, std::size_t ChunkSize = 65536> class ChunkedVector {
public:
    static constexpr std::size_t kFirstCapacity = ChunkSize < 64 ? ChunkSize : 64;

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    void push_back(const T& v) {
        if (size_ < ChunkSize) {
            if (size_ == firstCapacity_)
                growFirst();
        } else if (size_ % ChunkSize == 0) {
            chunks_.push_back(std::make_unique_for_overwrite<T[]>(ChunkSize));
        }
        chunks_.back()[size_ % ChunkSize] = v;
        ++size_;
    }
    T& operator[](std::size_t i) { return chunks_[i / ChunkSize][i % ChunkSize]; }
    const T& operator[](std::size_t i) const { return chunks_[i / ChunkSize][i % ChunkSize]; }
    void clear() {
        chunks_.clear();
        size_ = 0;
        firstCapacity_ = 0;
    }
    // Bytes held for elements, for the memory accounting of benchmarks.
    std::size_t capacityBytes() const {
        return chunks_.empty() ? 0 : ((chunks_.size() - 1) * ChunkSize + firstCapacity_) * sizeof(T);
    }

private:
    void growFirst() {
        const std::size_t capacity =
            firstCapacity_ == 0 ? kFirstCapacity : std::min(2 * firstCapacity_, ChunkSize);
        auto grown = std::make_unique_for_overwrite<T[]>(capacity);
        if (!chunks_.empty())
            std::copy_n(chunks_[0].get(), size_, grown.get());
        if (chunks_.empty())
            chunks_.push_back(std::move(grown));
        else
            chunks_[0] = std::move(grown);
        firstCapacity_ = capacity;
    }

    std::vector<std::unique_ptr<T[]>> chunks_;
    std::size_t size_ = 0;
    std::size_t firstCapacity_ = 0; // of chunks_[0]; ChunkSize once it is full size
};

} // namespace voltaro
