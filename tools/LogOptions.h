#pragma once

#include "tools/FileRotation.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace voltaro {

// voltaro-log's command line.
struct LogOptions {
    // Meters: one without a name is read as ever (Usb, Port); named ones
    // (--port NAME=DEVICE, --usb NAME=CABLE) go into one table on a shared
    // time base (Meters).
    enum class Mode { None, List, Usb, Port, Meters } mode = Mode::None;
    std::string port;
    // --usb's CABLE: a node, a USB port path or a serial number; empty for
    // the last cable listed as exactly "USB to Serial".
    std::string cable;
    struct Meter {
        std::string name; // empty for the one meter without a name
        bool usb = false;
        std::string device; // the port, or the cable (empty: the one --list marks)
    };
    std::vector<Meter> meters;     // in the order given
    std::vector<std::string> calc; // derived columns, NAME=EXPRESSION, in the order given

    // Recording into a file, with the window's recording rules.
    std::string out;
    bool overwrite = false;
    int interval = 0; // the sampling interval in seconds; 0: not sampling (named meters: 1)
    bool repeat = true;
    std::optional<int> limit; // the record limit; none: no limit
    std::string hi = "22000";
    std::string lo = "-22000";
    std::optional<std::string> decimalSep; // none: the system locale's
    FileRotation rotate;                   // --rotate: the streamed file in parts

    // When to stop: after a time, after `count` rows (frames printed when
    // not recording); none or 0: when interrupted.
    std::optional<std::chrono::seconds> duration;
    std::uint64_t count = 0;

    // --format: the lines on standard output. Tsv: each decoded frame's
    // line (named meters: the table's rows); the others: one a reading.
    enum class Format { Tsv, Csv, Jsonl, Influx } format = Format::Tsv;

    // --mqtt URL: each reading published to an MQTT broker; the CA
    // certificates for mqtts:// and the file holding the user and password.
    std::string mqtt;
    std::string mqttCa;
    std::string mqttAuth;
    std::string name; // --name: the one meter without a NAME= named for MQTT

    // --scpi [ADDR:]PORT: the SCPI server's address and port (0: a free one).
    std::string scpiAddress = "127.0.0.1";
    std::optional<int> scpiPort;

    bool quiet = false;
    bool wait = true; // wait for a port or cable that went away
    bool help = false;
    bool version = false;

    bool recording() const { return !out.empty(); }
};

// Reads the command line; on a mistake returns nothing and sets `error` to
// one line saying what is wrong.
std::optional<LogOptions> parseLogArgs(const std::vector<std::string>& args, std::string& error);

// A duration as --duration takes it: whole seconds, or a number followed by
// s, m or h.
std::optional<std::chrono::seconds> parseDuration(const std::string& text);

const char* logUsage();

} // namespace voltaro
