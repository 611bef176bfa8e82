#pragma once

#include "core/decode/Reading.h"

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace voltaro {

// The meter's reading as the SCPI server answers it: the value in SI units,
// what is measured and the present range's full scale.
struct ScpiReading {
    double value = 0;
    bool overload = false;
    std::string_view function; // "VOLT:DC", "RES", ...; "NONE" for a unit not known
    double range = 0;          // the full scale of the range shown, in SI units
};

// A decoded reading for the server; `fullScaleCount` is the meter's (22000).
ScpiReading scpiReading(const Reading& r, int fullScaleCount);

// A number as instruments answer it: "+1.234000E-02", with a point whatever
// the locale; not a number (no reading) is 9.91E37.
std::string scpiNumber(double v);

// One client's side of the conversation, without the socket: the lines it
// sent are parsed into commands and run in order, with an error queue of
// its own. A line's answers are joined by ';' and end with "\n"; a line
// without a query gets no answer. READ? and MEASure? wait for the meter's
// next reading: run() stops before them until nextReading() answers them.
//
// Commands (case-insensitive, short or long form, a leading ':' optional,
// several on a line separated by ';'): *IDN? *RST *CLS *OPC? *WAI FETCh?
// READ? MEASure? CONFigure? SYSTem:ERRor[:NEXT]? SYSTem:VERSion?
class ScpiInterpreter {
public:
    // Errors the queue holds; one more replaces the last with -350 "Queue overflow".
    static constexpr std::size_t kErrorQueueSize = 16;
    // What FETCh? answers for an overload, and for no reading (with error -230).
    static constexpr double kOverload = 9.9e37;
    static constexpr double kNotANumber = 9.91e37;

    // `identity`: what *IDN? answers.
    explicit ScpiInterpreter(std::string identity) : identity_(std::move(identity)) {}

    // One line the client sent, without its "\n" (a "\r" before it is dropped).
    void takeLine(std::string_view line);
    // Runs the commands taken, `newest` being the meter's newest reading
    // (none before the first), until one waits for the next reading. The
    // answers of lines done are appended to `out`.
    void run(const ScpiReading* newest, std::string& out);
    // A command waits for the next reading.
    bool waiting() const { return waiting_; }
    // The reading a waiting command waited for, or none when the wait timed
    // out (-230, and 9.91E37 as the value); answers go to `out` as in run(),
    // which is called next for the rest.
    void nextReading(const ScpiReading* next, std::string& out);
    // Commands taken and not yet run.
    std::size_t pending() const { return queue_.size(); }

    // Puts an error on the queue (the server's own, such as -363).
    void pushError(int code);
    // The errors on the queue, oldest first.
    const std::deque<int>& errors() const { return errors_; }
    // The standard text of an error number.
    static const char* errorText(int code);

private:
    enum class Header {
        None,
        Idn,
        Rst,
        Cls,
        Opc,
        Wai,
        Fetch,
        Read,
        Measure,
        Configure,
        SystemError,
        Version
    };
    struct Command {
        Header header = Header::None;
        bool query = false;
        int error = 0; // what the command pushes instead of running
        bool lineEnd = false;
    };

    Command parse(std::string_view text);
    Header resolve(std::string_view header, bool query);
    void execute(const Command& c, const ScpiReading* newest);
    void answer(const std::string& text);
    void endLine(std::string& out);

    std::string identity_;
    std::deque<Command> queue_;
    std::deque<int> errors_;
    // The path a header without a leading ':' goes on from (the previous
    // command's nodes but its last), in upper case.
    std::vector<std::string> path_;
    std::string lineAnswers_;
    bool lineAnswered_ = false;
    bool waiting_ = false;
};

} // namespace voltaro
