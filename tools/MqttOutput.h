#pragma once

#include "tools/MqttSettings.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct mosquitto;

namespace voltaro {

// One meter's connection to an MQTT broker, through libmosquitto on a
// network thread of its own (mosquitto_loop_start).
//
// The thread that records only appends to a bounded queue: publish() takes
// a mutex for as long as it takes to append a string and hand libmosquitto
// at most a few messages, which it queues without writing to the network.
// libmosquitto holds at most kInFlight of ours unacknowledged at any time;
// each acknowledgement (on_publish, on the network thread) frees its place
// and hands it the next one. A broker that goes away leaves the readings in
// the queue, in order; libmosquitto resends those in flight when it is back,
// so a subscriber may see one twice (the row tells it) but none is skipped
// unless the queue was full: those are counted, never waited for.
//
// The broker's last will sets the state "offline" (retained) should the
// program die; online and waiting are published (retained) as they change
// and at each connection, offline again at a clean end.
class MqttOutput {
public:
    // What ended the connection for good.
    enum class Trouble { None, Refused, Tls };

    struct Settings {
        MqttTarget target;
        std::optional<MqttCredentials> credentials;
        std::string caFile; // mqtts: the CA certificates to trust; empty: the system's
        std::string meter;  // its name, made a topic level
        std::size_t queueLimit = kQueueLimit;
    };

    // Ten minutes of readings at the serial line's 137 a second, and some.
    static constexpr std::size_t kQueueLimit = 100000;
    static constexpr int kInFlight = 64;

    explicit MqttOutput(Settings settings);
    ~MqttOutput();
    MqttOutput(const MqttOutput&) = delete;
    MqttOutput& operator=(const MqttOutput&) = delete;

    // Starts the network thread and the first connection, which it retries
    // while the broker cannot be reached. False, with `error` set, when the
    // client cannot be made (the CA file cannot be read, TLS fails at once).
    bool start(std::string* error);

    // A reading's JSON object, in order; `unit` and `function` republish the
    // sensor's discovery configuration when they change. Never waits.
    void publish(std::string json, std::string_view unit, std::string_view function);
    // The meter's link is away (waiting) or back (online).
    void setWaiting(bool waiting);

    // Lines to tell the user since the last call: the broker gone or back,
    // the queue full, a refusal. Called by the thread that records.
    std::vector<std::string> news();
    Trouble trouble() const;

    // Sends what the queue holds (waiting at most `wait` for a broker that is
    // connected), publishes "offline" and disconnects. Returns the summary line.
    std::string finish(std::chrono::milliseconds wait);

    const MqttTopics& topics() const { return topics_; }
    struct Counts {
        std::uint64_t queued = 0;    // taken into the queue
        std::uint64_t delivered = 0; // acknowledged by the broker
        std::uint64_t dropped = 0;   // not taken: the queue was full
        std::size_t waiting = 0;     // readings in the queue or in flight
        bool connected = false;
    };
    Counts counts() const;

private:
    struct Message {
        std::string topic; // empty: the reading topic
        std::string payload;
        bool retain = false;
    };

    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    // With mutex_ held: hands libmosquitto queued messages while there is room.
    void pumpLocked();
    int publishLocked(const std::string& topic, const std::string& payload, bool retain);
    void tellLocked(std::string line);
    void stopClient();

    const Settings settings_;
    const MqttTopics topics_;
    mosquitto* client_ = nullptr;
    bool loopStarted_ = false;

    mutable std::mutex mutex_;
    std::condition_variable drained_;
    std::deque<Message> queue_;
    std::size_t readingsQueued_ = 0; // of queue_: the discovery messages do not count against the limit
    std::map<int, bool> inFlight_;   // message ids of ours libmosquitto holds: true for a reading
    std::optional<int> offlineMid_;
    bool connected_ = false;
    bool everConnected_ = false;
    bool toldAway_ = false;
    bool toldFull_ = false;
    bool waiting_ = false;
    Trouble trouble_ = Trouble::None;
    std::string unit_, function_; // of the last discovery configuration
    Counts counts_;
    std::vector<std::string> news_;
};

} // namespace voltaro
