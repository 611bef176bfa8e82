// The SCPI server's interpreter on any bytes a client may send (lines split
// at "\n"), with and without a reading, each READ? answered in turn by a
// reading or a timeout: every answer is a line of printable text, a line
// gets at most one, the error queue stays bounded and nothing waits forever.
#include "fuzz/FuzzInput.h"
#include "tools/ScpiCommands.h"

#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    voltaro::ScpiInterpreter s("Voltaro,voltaro-log,0,1");
    const voltaro::ScpiReading r{-0.01234, false, "VOLT:DC", 0.22};
    std::string out;
    std::size_t lines = 0;
    for (std::size_t from = 0; from <= input.size();) {
        std::size_t end = input.find('\n', from);
        if (end == std::string_view::npos)
            end = input.size();
        s.takeLine(input.substr(from, end - from));
        ++lines;
        from = end + 1;
        // The first bytes decide whether there is a reading, and how waits end.
        const bool have = size > 0 && (data[0] & 1);
        s.run(have ? &r : nullptr, out);
        for (int turn = 0; s.waiting(); ++turn) {
            if (turn > 100000)
                voltaro::fuzz::fault("a READ? that is never done");
            s.nextReading((turn & 1) ? &r : nullptr, out);
            s.run(have ? &r : nullptr, out);
        }
        if (s.pending() != 0)
            voltaro::fuzz::fault("commands left over after a line was run");
        if (s.errors().size() > voltaro::ScpiInterpreter::kErrorQueueSize)
            voltaro::fuzz::fault("the error queue grew past its bound");
    }
    std::size_t answered = 0;
    for (const char c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n')
            ++answered;
        else if (u < 0x20 || u >= 0x7f)
            voltaro::fuzz::fault("an answer holds a byte that is not printable text");
    }
    if (!out.empty() && out.back() != '\n')
        voltaro::fuzz::fault("an answer without its line end");
    if (answered > lines)
        voltaro::fuzz::fault("more answers than lines");
    return 0;
}
