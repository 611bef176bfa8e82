#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace voltaro {

// A diagnostic list that keeps only its newest lines, so a link that runs for
// days costs a fixed amount of memory.
class TraceLog {
public:
    explicit TraceLog(std::size_t capacity = 300) : capacity_(capacity) {}

    void add(std::string_view line) {
        if (capacity_ == 0)
            return;
        ++added_;
        if (lines_.size() < capacity_) {
            lines_.emplace_back(line);
            return;
        }
        // Full: the oldest line's storage takes the newest, so a long run allocates nothing.
        std::string recycled = std::move(lines_.front());
        lines_.pop_front();
        recycled.assign(line);
        lines_.push_back(std::move(recycled));
    }
    void clear() { lines_.clear(); }

    const std::deque<std::string>& lines() const { return lines_; }
    std::size_t capacity() const { return capacity_; }
    // Lines ever added, so a view can tell which of the kept ones it has not shown.
    std::uint64_t added() const { return added_; }

private:
    std::size_t capacity_;
    std::uint64_t added_ = 0;
    std::deque<std::string> lines_;
};

// The hidden diagnostic controls that frame assembly writes into.
struct AssemblyTrace {
    TraceLog HistoryListBox; // USB report lines
    TraceLog Memo1;          // frame strings of USB bursts
    TraceLog Memo2;          // hexadecimal bytes of USB bursts
};

} // namespace voltaro
