#pragma once

#include "core/decode/Reading.h"
#include "tools/LogOptions.h"
#include "tools/MqttOutput.h"
#include "tools/ReadingLines.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace voltaro {

// voltaro-log's --mqtt: a connection a meter (MqttOutput), each reading
// published as the JSON object of its --format jsonl line, and what went
// wrong told once, with the exit status it ends in. Used on the thread that
// records.
class MqttLog {
public:
    // Exit statuses (VoltaroLog::Status).
    static constexpr int kSettings = 11; // bad URL, CA or credentials file
    static constexpr int kRefused = 12;  // the broker refused the connection (user, password)
    static constexpr int kTls = 13;      // TLS with the broker failed

    // Connects a client for each meter (their names as the topics have
    // them). 0, or an exit status with `error` set (nothing is published
    // then). Lines to tell the user (a password file others may read) go
    // into `said`.
    int open(const LogOptions& options, const std::vector<std::string>& meters,
             std::vector<std::string>* said, std::string* error);
    bool active() const { return !outputs_.empty(); }
    // Set when MQTT failed before or during the recording: the exit status.
    int status() const { return status_; }
    void fail(int status) { status_ = status; }

    void publish(int meter, const Reading& r, std::string_view decimalSep, std::uint64_t row);
    void setWaiting(int meter, bool waiting);
    // What to tell the user; a refusal or a TLS failure sets the status and
    // ends publishing.
    std::vector<std::string> poll();
    // poll(), its lines said through `say`; true when publishing failed just
    // now (refused, TLS), having said that a recording goes on without it.
    bool pollFailed(const std::function<void(const std::string&)>& say, bool recording);
    // Sends what waits (saying so first, through `say`, when anything
    // does) and disconnects; then says each meter's summary line.
    void finish(const std::function<void(const std::string&)>& say);

private:
    std::vector<std::unique_ptr<MqttOutput>> outputs_;
    ReadingLines json_{LogOptions::Format::Jsonl};
    int status_ = 0;
};

} // namespace voltaro
