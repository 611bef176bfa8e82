#include "tools/MqttOutput.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <unistd.h>
#include <utility>

namespace voltaro {

namespace {

constexpr int kQos = 1;
constexpr int kKeepAliveS = 30;

std::string cause(int rc) {
    return rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
}

} // namespace

MqttOutput::MqttOutput(Settings settings)
    : settings_(std::move(settings)), topics_(settings_.target, settings_.meter) {
    static const int initialised = mosquitto_lib_init();
    (void)initialised;
}

MqttOutput::~MqttOutput() {
    stopClient();
    if (client_)
        mosquitto_destroy(client_);
}

bool MqttOutput::start(std::string* error) {
    const std::string id = "voltaro-log-" + std::to_string(::getpid()) + "-" + topics_.meter;
    client_ = mosquitto_new(id.substr(0, 64).c_str(), true, this);
    if (!client_) {
        *error = "cannot make an MQTT client: " + std::string(std::strerror(errno));
        return false;
    }
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(client_, onConnect);
    mosquitto_disconnect_callback_set(client_, onDisconnect);
    mosquitto_publish_callback_set(client_, onPublish);
    mosquitto_log_callback_set(client_, onLog);
    mosquitto_reconnect_delay_set(client_, 1, 4, false);
    mosquitto_will_set(client_, topics_.state.c_str(), 7, "offline", kQos, true);
    if (settings_.credentials)
        mosquitto_username_pw_set(client_, settings_.credentials->user.c_str(),
                                  settings_.credentials->password.c_str());
    if (settings_.target.tls) {
        const std::string& ca = settings_.caFile;
        if (!ca.empty() && !std::ifstream(ca)) {
            *error = "--mqtt-ca cannot read " + ca + ": " + std::strerror(errno);
            return false;
        }
        const int rc = mosquitto_tls_set(client_, ca.empty() ? nullptr : ca.c_str(),
                                         ca.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = "TLS cannot be set up for the MQTT broker: " + cause(rc);
            return false;
        }
    }
    int rc = mosquitto_loop_start(client_);
    if (rc != MOSQ_ERR_SUCCESS) {
        *error = "cannot start the MQTT network thread: " + cause(rc);
        return false;
    }
    loopStarted_ = true;
    rc = mosquitto_connect_async(client_, settings_.target.host.c_str(), settings_.target.port, kKeepAliveS);
    const std::string reason = cause(rc);
    std::lock_guard lock(mutex_);
    if (rc == MOSQ_ERR_TLS) {
        trouble_ = Trouble::Tls;
        *error = "TLS with the MQTT broker " + settings_.target.where() + " failed (check --mqtt-ca)";
        return false;
    }
    if (rc != MOSQ_ERR_SUCCESS && !connected_) {
        tellLocked("cannot reach the MQTT broker " + settings_.target.where() + " (" + reason +
                   "): the readings wait in a queue and go out once it answers");
        toldAway_ = true;
    }
    return true;
}

void MqttOutput::stopClient() {
    if (!client_ || !std::exchange(loopStarted_, false))
        return;
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
}

int MqttOutput::publishLocked(const std::string& topic, const std::string& payload, bool retain) {
    int mid = 0;
    const int rc = mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), kQos, retain);
    return rc == MOSQ_ERR_SUCCESS ? mid : -1;
}

void MqttOutput::pumpLocked() {
    // Only while connected: libmosquitto resends what it holds at a
    // reconnection, and what it was handed meanwhile would go out twice.
    while (connected_ && !queue_.empty() && inFlight_.size() < static_cast<std::size_t>(kInFlight) &&
           trouble_ == Trouble::None) {
        const Message& m = queue_.front();
        const int mid = publishLocked(m.topic.empty() ? topics_.reading : m.topic, m.payload, m.retain);
        if (mid < 0)
            return; // stays first; handed over again at the next connection
        inFlight_.emplace(mid, m.topic.empty());
        readingsQueued_ -= m.topic.empty() ? 1 : 0;
        queue_.pop_front();
    }
}

void MqttOutput::tellLocked(std::string line) {
    news_.push_back(std::move(line));
}

void MqttOutput::publish(std::string json, std::string_view unit, std::string_view function) {
    std::lock_guard lock(mutex_);
    if (trouble_ != Trouble::None)
        return;
    if (unit != unit_ || function != function_) {
        unit_ = unit;
        function_ = function;
        queue_.push_back({topics_.discovery, topics_.discoveryConfig(unit, function), true});
    }
    if (readingsQueued_ >= settings_.queueLimit) {
        ++counts_.dropped;
        if (!std::exchange(toldFull_, true))
            tellLocked("the MQTT queue is full (" + std::to_string(settings_.queueLimit) +
                       " readings): later readings are not published to " + topics_.reading +
                       " until it has room (they are counted); the recording goes on");
        return;
    }
    queue_.push_back({{}, std::move(json), false});
    ++readingsQueued_;
    ++counts_.queued;
    pumpLocked();
}

void MqttOutput::setWaiting(bool waiting) {
    std::lock_guard lock(mutex_);
    waiting_ = waiting;
    if (connected_)
        publishLocked(topics_.state, waiting ? "waiting" : "online", true);
}

std::vector<std::string> MqttOutput::news() {
    std::lock_guard lock(mutex_);
    if (toldFull_ && readingsQueued_ < settings_.queueLimit / 2) {
        toldFull_ = false;
        tellLocked("the MQTT queue has room again; " + std::to_string(counts_.dropped) +
                   " readings so far could not be published");
    }
    return std::exchange(news_, {});
}

MqttOutput::Trouble MqttOutput::trouble() const {
    std::lock_guard lock(mutex_);
    return trouble_;
}

MqttOutput::Counts MqttOutput::counts() const {
    std::lock_guard lock(mutex_);
    Counts c = counts_;
    c.connected = connected_;
    c.waiting = readingsQueued_;
    for (const auto& [mid, reading] : inFlight_)
        c.waiting += reading ? 1 : 0;
    return c;
}

std::string MqttOutput::finish(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    if (client_ && loopStarted_ && trouble_ == Trouble::None) {
        drained_.wait_for(lock, wait, [this] {
            return (queue_.empty() && inFlight_.empty()) || trouble_ != Trouble::None;
        });
        if (connected_) {
            offlineMid_ = publishLocked(topics_.state, "offline", true);
            drained_.wait_for(lock, std::chrono::seconds(2), [this] { return !offlineMid_ || !connected_; });
        }
    }
    std::size_t left = readingsQueued_;
    for (const auto& [mid, reading] : inFlight_)
        left += reading ? 1 : 0;
    const Counts c = counts_;
    lock.unlock();
    stopClient();
    std::string line = "MQTT: " + std::to_string(c.delivered) + " readings published to " + topics_.reading;
    if (left)
        line += ", " + std::to_string(left) + " not (the broker did not take them before the end)";
    if (c.dropped)
        line += ", " + std::to_string(c.dropped) + " not (the queue was full)";
    return line;
}

void MqttOutput::onConnect(mosquitto* m, void* self, int rc) {
    auto& o = *static_cast<MqttOutput*>(self);
    std::lock_guard lock(o.mutex_);
    const std::string where = o.settings_.target.where();
    if (rc == 0) {
        o.connected_ = true;
        if (std::exchange(o.toldAway_, false))
            o.tellLocked(std::string(o.everConnected_ ? "the MQTT broker " : "reached the MQTT broker ") +
                         where + (o.everConnected_ ? " is back" : "") + ": the " +
                         std::to_string(o.queue_.size() + o.inFlight_.size()) + " readings waiting go out");
        o.everConnected_ = true;
        o.publishLocked(o.topics_.state, o.waiting_ ? "waiting" : "online", true);
        o.pumpLocked();
    } else if (rc == 3) {
        if (!std::exchange(o.toldAway_, true))
            o.tellLocked("the MQTT broker " + where +
                         " is unavailable for now: the readings wait in a queue and go out once it answers");
    } else if (o.trouble_ == Trouble::None) {
        o.trouble_ = Trouble::Refused;
        o.tellLocked("the MQTT broker " + where + " refused the connection: " + mosquitto_connack_string(rc) +
                     " (give the user and password in --mqtt-auth FILE, or VOLTARO_MQTT_USER and "
                     "VOLTARO_MQTT_PASSWORD)");
        mosquitto_disconnect(m);
    }
    o.drained_.notify_all();
}

void MqttOutput::onDisconnect(mosquitto*, void* self, int rc) {
    auto& o = *static_cast<MqttOutput*>(self);
    std::lock_guard lock(o.mutex_);
    o.connected_ = false;
    if (rc != 0 && o.trouble_ == Trouble::None && !std::exchange(o.toldAway_, true))
        o.tellLocked((o.everConnected_
                          ? "the MQTT broker " + o.settings_.target.where() + " went away ("
                          : "cannot reach the MQTT broker " + o.settings_.target.where() + " (") +
                     cause(rc) + "): the readings wait in a queue (up to " +
                     std::to_string(o.settings_.queueLimit) + ") and go out once it answers");
    o.drained_.notify_all();
}

void MqttOutput::onPublish(mosquitto*, void* self, int mid) {
    auto& o = *static_cast<MqttOutput*>(self);
    std::lock_guard lock(o.mutex_);
    if (o.offlineMid_ == mid)
        o.offlineMid_.reset();
    if (const auto it = o.inFlight_.find(mid); it != o.inFlight_.end()) {
        o.counts_.delivered += it->second ? 1 : 0;
        o.inFlight_.erase(it);
    }
    o.pumpLocked();
    o.drained_.notify_all();
}

void MqttOutput::onLog(mosquitto*, void* self, int level, const char* text) {
    if (level != MOSQ_LOG_ERR || !text || (!std::strstr(text, "OpenSSL") && !std::strstr(text, "TLS")))
        return;
    auto& o = *static_cast<MqttOutput*>(self);
    std::lock_guard lock(o.mutex_);
    if (o.trouble_ != Trouble::None)
        return;
    o.trouble_ = Trouble::Tls;
    o.tellLocked("TLS with the MQTT broker " + o.settings_.target.where() + " failed: " + text +
                 " (check --mqtt-ca FILE, and that the port takes TLS)");
    o.drained_.notify_all();
}

} // namespace voltaro
