#include "tools/FrameLinePrinter.h"

#include "core/decode/NumberFormat.h"

namespace voltaro {

void FrameLinePrinter::writeLine(std::string_view frameText, const Reading& r, const DisplayState& d) {
    line_.assign(frameText);
    tab(r.ValueText);
    tab(r.FuncText);
    tab(r.UnitText);
    tab(r.RangeText);
    tab(std::to_string(static_cast<long long>(r.Count)));
    tab(formatShortest(r.ScaledValue));
    tab(std::to_string(r.PointIndex));
    tab(r.JudgeText);
    tab(std::to_string(d.barPosition));
    tab(d.lit.names());
    tab(d.digitTexts());
    line_ += '\n';
    buffer_ += line_;
    if (buffer_.size() >= 64 * 1024)
        flush();
}

void FrameLinePrinter::flush() {
    if (!buffer_.empty())
        std::fwrite(buffer_.data(), 1, buffer_.size(), out_);
    buffer_.clear();
}

void FrameLinePrinter::tab(std::string_view s) {
    line_ += '\t';
    line_ += s;
}

} // namespace voltaro
