#include "tools/MqttSettings.h"

#include "tools/ReadingLines.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace voltaro {

namespace {

constexpr std::string_view kExample =
    " (for example mqtt://localhost/lab or mqtts://broker.example:8883/lab)";

bool fail(std::string* error, const std::string& what) {
    *error = "--mqtt " + what + kExample.data();
    return false;
}

bool hostChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

// HOST[:PORT] or [IPV6][:PORT].
bool readAuthority(std::string_view text, MqttTarget& t, std::string* error) {
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos)
            return fail(error, "has an IPv6 address without its closing \"]\"");
        t.host = std::string(text.substr(1, close - 1));
        if (t.host.empty() || t.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            return fail(error, "has no IPv6 address between \"[\" and \"]\"");
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':')
            return fail(error, "has \"" + std::string(rest) + "\" after the IPv6 address");
        port = rest.empty() ? rest : rest.substr(1);
        if (!rest.empty() && port.empty())
            return fail(error, "has a \":\" but no port after it");
    } else {
        const auto colon = text.find(':');
        t.host = std::string(text.substr(0, colon));
        if (colon != std::string_view::npos) {
            port = text.substr(colon + 1);
            if (port.empty())
                return fail(error, "has a \":\" but no port after it");
        }
        if (t.host.empty())
            return fail(error, "names no host");
        for (const char c : t.host)
            if (!hostChar(c))
                return fail(error, "has \"" + t.host + "\" for its host: a name or an address is wanted");
    }
    if (port.empty())
        return true;
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos ||
        std::atoi(std::string(port).c_str()) < 1 || std::atoi(std::string(port).c_str()) > 65535)
        return fail(error,
                    "has \"" + std::string(port) + "\" for its port: a number from 1 to 65535 is wanted");
    t.port = std::atoi(std::string(port).c_str());
    return true;
}

// One or more topic levels, none empty, no wildcards, no leading "$".
bool readPrefix(std::string_view text, MqttTarget& t, std::string* error) {
    while (!text.empty() && text.back() == '/')
        text.remove_suffix(1);
    if (text.empty())
        return fail(error, "needs a topic prefix after the host");
    if (text.find_first_of("+#") != std::string_view::npos)
        return fail(error,
                    "has a wildcard (\"+\" or \"#\") in its topic prefix \"" + std::string(text) + "\"");
    if (text.find("//") != std::string_view::npos)
        return fail(error, "has an empty level in its topic prefix \"" + std::string(text) + "\"");
    if (text.front() == '$')
        return fail(error, "has a topic prefix beginning with \"$\", which brokers keep for themselves");
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '?')
            return fail(error, "has a control character or \"?\" in its topic prefix");
    t.prefix = std::string(text);
    return true;
}

} // namespace

std::optional<MqttTarget> MqttTarget::parse(std::string_view url, std::string* error) {
    MqttTarget t;
    std::string_view rest;
    if (url.starts_with("mqtt://")) {
        rest = url.substr(7);
    } else if (url.starts_with("mqtts://")) {
        rest = url.substr(8);
        t.tls = true;
        t.port = 8883;
    } else {
        fail(error, "needs a URL beginning with mqtt:// or mqtts://, not \"" + std::string(url) + "\"");
        return std::nullopt;
    }
    const auto slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    if (authority.find('@') != std::string_view::npos) {
        *error = "--mqtt takes no user or password in its URL (ps would show them to every user): put them "
                 "in --mqtt-auth FILE, or in VOLTARO_MQTT_USER and VOLTARO_MQTT_PASSWORD";
        return std::nullopt;
    }
    if (!readAuthority(authority, t, error) ||
        !readPrefix(slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1), t, error))
        return std::nullopt;
    return t;
}

std::string MqttTarget::where() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool readMqttCredentials(const std::string& file, std::optional<MqttCredentials>* credentials,
                         std::string* error, std::string* warning) {
    credentials->reset();
    if (file.empty()) {
        const char* user = std::getenv("VOLTARO_MQTT_USER");
        const char* password = std::getenv("VOLTARO_MQTT_PASSWORD");
        if (user && *user)
            *credentials = MqttCredentials{user, password ? password : ""};
        return true;
    }
    std::ifstream in(file);
    if (!in) {
        *error = "--mqtt-auth cannot read " + file + ": " + std::strerror(errno);
        return false;
    }
    MqttCredentials c;
    std::getline(in, c.user);
    std::getline(in, c.password);
    for (std::string* s : {&c.user, &c.password})
        if (!s->empty() && s->back() == '\r')
            s->pop_back();
    if (c.user.empty()) {
        *error =
            "--mqtt-auth " + file + " names no user: its first line is the user, its second the password";
        return false;
    }
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        *warning = file + " holds the MQTT password and others may read it: chmod 600 " + file;
    *credentials = c;
    return true;
}

std::string topicLevel(std::string_view name) {
    if (name.starts_with("/dev/"))
        name.remove_prefix(5);
    while (!name.empty() && name.front() == '/')
        name.remove_prefix(1);
    std::string level;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        level += c == '+' || c == '#' || c == '/' || u < 0x20 || u == 0x7f ? '_' : c;
    }
    return level.empty() ? "meter" : level;
}

MqttTopics::MqttTopics(const MqttTarget& target, std::string_view name)
    : meter(topicLevel(name)), reading(target.prefix + "/" + meter + "/reading"),
      state(target.prefix + "/" + meter + "/state") {
    // Home Assistant's ids and the discovery topic's level: letters, digits, "_" and "-".
    uniqueId = "voltaro_";
    for (const char c : target.prefix + "_" + meter)
        uniqueId += std::isalnum(static_cast<unsigned char>(c)) || c == '-' ? c : '_';
    discovery = "homeassistant/sensor/" + uniqueId + "/config";
}

std::string MqttTopics::discoveryConfig(std::string_view unit, std::string_view function) const {
    // Home Assistant's device classes whose units the meter shows; the
    // others (ohm, farad, percent) have none that fits.
    static const std::pair<std::string_view, std::string_view> classes[] = {{"V", "voltage"},
                                                                            {"A", "current"},
                                                                            {"Hz", "frequency"},
                                                                            {"°C", "temperature"},
                                                                            {"°F", "temperature"}};
    using L = ReadingLines;
    std::string s = "{\"name\":" + L::jsonString(meter) + ",\"unique_id\":" + L::jsonString(uniqueId) +
                    ",\"state_topic\":" + L::jsonString(reading) +
                    ",\"value_template\":\"{{ value_json.value }}\"";
    if (!unit.empty())
        s += ",\"unit_of_measurement\":" + L::jsonString(unit);
    for (const auto& [symbol, deviceClass] : classes)
        if (unit == symbol)
            s += ",\"device_class\":" + L::jsonString(deviceClass);
    s += ",\"state_class\":\"measurement\",\"availability_topic\":" + L::jsonString(state) +
         ",\"payload_available\":\"online\",\"payload_not_available\":\"offline\"" +
         ",\"json_attributes_topic\":" + L::jsonString(reading) + ",\"device\":{\"identifiers\":[" +
         L::jsonString(uniqueId) + "],\"name\":" + L::jsonString("Multimeter " + meter) +
         ",\"model\":" + L::jsonString(std::string("22000 count, ") + std::string(function)) +
         ",\"sw_version\":\"voltaro-log " VOLTARO_VERSION "\"}}";
    return s;
}

} // namespace voltaro
