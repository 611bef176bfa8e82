#pragma once

#include "core/sys/UniqueFd.h"

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
    bool hid = false;           // the USB cable's input reports instead of serial bytes
    double reportRate = 1000.0; // with hid and a rate: report slots per second
    bool packets = false;       // with hid: each report one binary write, as hidraw hands it over
    bool pty = false;           // serve a pseudo-terminal instead of writing to a file
    std::uint32_t seed = 1;
    bool help = false;
    bool version = false;
};

// The serial line's limit: 19200 baud, 10 bits a byte, 14 bytes a frame.
inline constexpr double kLineLimitFramesPerSecond = 19200.0 / 10.0 / 14.0;

// Reads the command line; on a mistake returns nothing and sets `error`.
std::optional<SimOptions> parseSimArgs(const std::vector<std::string>& args, std::string& error);

std::string simUsage();
std::string simVersion();

// Writes frames to `fd` at the options' pace until the count is reached,
// `stop` is set, or the reader goes away. Returns the frames written. With
// `pty` set, bytes that do not fit into a full terminal queue are dropped, as
// a meter's are when nobody listens, instead of waiting; so are packets that
// find a non-blocking descriptor full. Paced USB output sends one report per
// slot of the report clock and ends with the empty report after the last frame.
std::uint64_t runSimulator(const SimOptions& options, int fd, const std::atomic<bool>* stop = nullptr);

// Opens `--out`. A FIFO that is to carry packets is opened read-write and
// non-blocking, so the open never waits for a reader, and put in packet mode,
// so one write is one read: it stands in for a hidraw node. Anything else is
// created or truncated. Invalid, with `error` set, when that fails.
UniqueFd openSimOutput(const SimOptions& options, std::string& error);

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
