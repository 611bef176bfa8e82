#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace voltaro {

// Where voltaro-log publishes its readings: --mqtt mqtt://HOST[:PORT]/PREFIX
// (or mqtts:// for TLS), read and checked here, before any connection.
struct MqttTarget {
    bool tls = false;
    std::string host; // a name or an address; an IPv6 address without its brackets
    int port = 1883;
    std::string prefix; // one or more topic levels, without a trailing "/"

    // Reads the URL; on a mistake returns nothing and sets `error` to one
    // line saying what is wrong and what is wanted.
    static std::optional<MqttTarget> parse(std::string_view url, std::string* error);
    // HOST:PORT as the user is told it.
    std::string where() const;
};

struct MqttCredentials {
    std::string user;
    std::string password;
};

// The user and password: the first and second line of --mqtt-auth FILE, else
// VOLTARO_MQTT_USER and VOLTARO_MQTT_PASSWORD, else none. Never the command
// line, where every user's ps shows them. Returns false with `error` set when
// the file cannot be read or names no user; `warning` is set when others may
// read the file.
bool readMqttCredentials(const std::string& file, std::optional<MqttCredentials>* credentials,
                         std::string* error, std::string* warning);

// A meter's name as one topic level: "+", "#", "/" and controls become "_";
// a device file loses its "/dev/" ("/dev/pts/3" is "pts_3").
std::string topicLevel(std::string_view name);

// The meter's topics and its Home Assistant sensor.
struct MqttTopics {
    MqttTopics(const MqttTarget& target, std::string_view meter);

    std::string meter;   // the topic level
    std::string reading; // PREFIX/METER/reading: the readings, JSON, QoS 1
    std::string state;   // PREFIX/METER/state, retained: online, waiting or offline
    std::string uniqueId;
    std::string discovery; // homeassistant/sensor/UNIQUE/config, retained

    // The sensor's configuration for a reading in `unit` (the SI unit of
    // its value), for Home Assistant's MQTT discovery.
    std::string discoveryConfig(std::string_view unit, std::string_view function) const;
};

} // namespace voltaro
