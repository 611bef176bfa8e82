// voltaro-log's command line on any arguments (the input split at NUL bytes):
// it is read or refused with one line that says why, which goes to a
// terminal as it is.
#include "core/recording/DerivedColumn.h"
#include "fuzz/FuzzInput.h"
#include "tools/LogOptions.h"

#include <chrono>
#include <climits>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    std::string arg;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(arg);
            arg.clear();
        } else {
            arg += static_cast<char>(data[i]);
        }
    }
    if (size > 0)
        args.push_back(arg);

    std::string error;
    const auto o = voltaro::parseLogArgs(args, error);
    if (!o) {
        if (error.empty())
            voltaro::fuzz::fault("a refused command line without a reason");
        // One line with no terminal controls in it, whatever the arguments hold.
        for (const char c : error)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                voltaro::fuzz::fault("the reason for a refusal holds a control character");
        return 0;
    }
    if (o->help || o->version)
        return 0;
    if (o->mode == voltaro::LogOptions::Mode::None)
        voltaro::fuzz::fault("a command line taken with nothing to do");
    if (o->mode == voltaro::LogOptions::Mode::Port && o->port.empty())
        voltaro::fuzz::fault("--port taken without a port");
    if (o->mode == voltaro::LogOptions::Mode::Meters) {
        for (const auto& m : o->meters)
            if (!voltaro::DerivedColumn::validMeterName(m.name))
                voltaro::fuzz::fault("a meter taken without a name an expression can use");
        if (o->interval < 1)
            voltaro::fuzz::fault("named meters taken without a sampling interval");
    }
    if (o->limit && (*o->limit < 1 || *o->limit == INT_MAX))
        voltaro::fuzz::fault("a record limit the record numbers cannot reach");
    if (o->interval < 0)
        voltaro::fuzz::fault("a negative sampling interval");
    if (o->duration && (o->duration->count() <= 0 || *o->duration > std::chrono::hours(24 * 366 * 10)))
        voltaro::fuzz::fault("a duration out of range taken");
    return 0;
}
