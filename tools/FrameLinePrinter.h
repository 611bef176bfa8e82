#pragma once

#include "core/decode/MeterPipeline.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace voltaro {

// Prints each decoded frame as one tab-separated line: the frame string, the
// value as recorded, function, unit, range, count, scaled value,
// decimal-point index, Pass/Fail, bar position, lit elements, digit texts.
// Lines are buffered until `flush`, so a fast replay writes in large blocks.
class FrameLinePrinter : public PipelineHooks {
public:
    FrameLinePrinter(std::FILE* out, bool quiet) : out_(out), quiet_(quiet) {}
    ~FrameLinePrinter() override { flush(); }

    void frameDone(std::string_view frameText, const Reading& r, const DisplayState& d) override {
        ++lines_;
        if (!quiet_)
            writeLine(frameText, r, d);
    }
    void flush();
    std::uint64_t linesDone() const { return lines_; }

private:
    void writeLine(std::string_view frameText, const Reading& r, const DisplayState& d);
    void tab(std::string_view s);

    std::FILE* out_;
    bool quiet_;
    std::uint64_t lines_ = 0;
    std::string line_;
    std::string buffer_;
};

} // namespace voltaro
