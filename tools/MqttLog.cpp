#include "tools/MqttLog.h"

namespace voltaro {

namespace {

// How long a clean end waits for the broker to take what the queue holds.
constexpr std::chrono::seconds kFinishWait{10};

} // namespace

int MqttLog::open(const LogOptions& options, const std::vector<std::string>& meters,
                  std::vector<std::string>* said, std::string* error) {
    if (options.mqtt.empty())
        return 0;
    const auto target = MqttTarget::parse(options.mqtt, error);
    if (!target)
        return status_ = kSettings;
    std::optional<MqttCredentials> credentials;
    std::string warning;
    if (!readMqttCredentials(options.mqttAuth, &credentials, error, &warning))
        return status_ = kSettings;
    if (!warning.empty())
        said->push_back(warning);
    for (const std::string& meter : meters) {
        MqttOutput::Settings s{*target, credentials, options.mqttCa, meter};
        auto output = std::make_unique<MqttOutput>(std::move(s));
        if (!output->start(error)) {
            outputs_.clear();
            return status_ = output->trouble() == MqttOutput::Trouble::Tls ? kTls : kSettings;
        }
        said->push_back("publishing to the MQTT broker " + target->where() + ": " + output->topics().reading +
                        " (state " + output->topics().state + ")");
        outputs_.push_back(std::move(output));
    }
    return 0;
}

void MqttLog::publish(int meter, const Reading& r, std::string_view decimalSep, std::uint64_t row) {
    if (outputs_.empty())
        return;
    MqttOutput& out = *outputs_[static_cast<std::size_t>(meter)];
    LineReading line = LineReading::of(r, decimalSep);
    line.meter = out.topics().meter;
    line.row = row;
    std::string json = json_.line(line, ReadingLines::Clock::now());
    if (!json.empty() && json.back() == '\n')
        json.pop_back();
    out.publish(std::move(json), line.unit, line.function);
}

void MqttLog::setWaiting(int meter, bool waiting) {
    if (!outputs_.empty())
        outputs_[static_cast<std::size_t>(meter)]->setWaiting(waiting);
}

bool MqttLog::pollFailed(const std::function<void(const std::string&)>& say, bool recording) {
    const bool failed = status_ != 0;
    for (const std::string& line : poll())
        say(line);
    if (failed || status_ == 0)
        return false;
    // The broker refused us or TLS failed: no more is published.
    if (recording)
        say("nothing more is published to the MQTT broker; the recording goes on");
    return true;
}

std::vector<std::string> MqttLog::poll() {
    std::vector<std::string> lines;
    bool failed = false;
    for (const auto& out : outputs_) {
        for (std::string& line : out->news())
            lines.push_back(std::move(line));
        switch (out->trouble()) {
        case MqttOutput::Trouble::None: break;
        case MqttOutput::Trouble::Refused:
            status_ = kRefused;
            failed = true;
            break;
        case MqttOutput::Trouble::Tls:
            status_ = kTls;
            failed = true;
            break;
        }
    }
    if (failed) {
        // One failed: the others would fail alike; nothing more is published.
        for (const auto& out : outputs_)
            out->finish(std::chrono::milliseconds(0));
        outputs_.clear();
    }
    return lines;
}

void MqttLog::finish(const std::function<void(const std::string&)>& say) {
    for (const std::string& line : poll())
        say(line);
    // A few in flight to a broker that is there go in a moment; otherwise the end may take a while.
    std::size_t waiting = 0;
    bool away = false;
    for (const auto& out : outputs_) {
        const MqttOutput::Counts c = out->counts();
        waiting += c.waiting;
        away = away || (!c.connected && c.waiting > 0);
    }
    if (away || waiting > static_cast<std::size_t>(MqttOutput::kInFlight))
        say("sending the " + std::to_string(waiting) + " readings waiting to the MQTT broker (at most " +
            std::to_string(kFinishWait.count()) + " s)");
    for (const auto& out : outputs_)
        say(out->finish(kFinishWait));
    outputs_.clear();
}

} // namespace voltaro
