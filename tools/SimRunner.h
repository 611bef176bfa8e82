#pragma once

#include "link/UniqueFd.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace voltaro::sim {

struct SimOptions {
    std::string outPath;     // empty: standard output
    std::uint64_t count = 0; // frames to send; 0: until stopped
    double rate = 4.0;       // frames per second; 0: as fast as possible
    std::string scenario = "tour";
    bool hid = false; // input reports as hexadecimal lines instead of serial bytes
    bool pty = false; // serve a pseudo-terminal instead of writing to a file
    std::uint32_t seed = 1;
    bool help = false;
};

// The serial line's limit: 19200 baud, 10 bits a byte, 14 bytes a frame.
inline constexpr double kLineLimitFramesPerSecond = 19200.0 / 10.0 / 14.0;

// Reads the command line; on a mistake returns nothing and sets `error`.
std::optional<SimOptions> parseSimArgs(const std::vector<std::string>& args, std::string& error);

std::string simUsage();

// Writes frames to `fd` at the options' pace until the count is reached,
// `stop` is set, or the reader goes away. Returns the frames written. With
// `pty` set, bytes that do not fit into a full terminal queue are dropped, as
// a meter's are when nobody listens, instead of waiting.
std::uint64_t runSimulator(const SimOptions& options, int fd, const std::atomic<bool>* stop = nullptr);

// A pseudo-terminal in raw mode. The slave stays open in this process, so the
// terminal keeps its settings between the programs that open it.
struct MeterPty {
    UniqueFd master;
    UniqueFd slave;
    std::string slavePath;
};

// Opens one; nothing, with `error` set, when that fails.
std::optional<MeterPty> openMeterPty(std::string& error);

// One report as a text line: hexadecimal bytes separated by blanks.
std::string hidReportLine(const std::vector<std::uint8_t>& report);

} // namespace voltaro::sim
