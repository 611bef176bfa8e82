#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace voltaro {

// A growing array kept in fixed-size chunks: appending never moves what is
// stored, never costs more than one chunk allocation, and wastes at most one
// partly filled chunk, however many elements it holds.
template <typename T, std::size_t ChunkSize = 65536> class ChunkedVector {
public:
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    void push_back(const T& v) {
        if (size_ % ChunkSize == 0)
            chunks_.push_back(std::make_unique<T[]>(ChunkSize));
        chunks_.back()[size_ % ChunkSize] = v;
        ++size_;
    }
    T& operator[](std::size_t i) { return chunks_[i / ChunkSize][i % ChunkSize]; }
    const T& operator[](std::size_t i) const { return chunks_[i / ChunkSize][i % ChunkSize]; }
    void clear() {
        chunks_.clear();
        size_ = 0;
    }
    // Bytes held for elements, for the memory accounting of benchmarks.
    std::size_t capacityBytes() const { return chunks_.size() * ChunkSize * sizeof(T); }

private:
    std::vector<std::unique_ptr<T[]>> chunks_;
    std::size_t size_ = 0;
};

} // namespace voltaro
