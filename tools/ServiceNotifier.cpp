#include "tools/ServiceNotifier.h"

#include <algorithm>

namespace voltaro {

ServiceNotifier::ServiceNotifier(ServiceManager manager) : manager_(std::move(manager)) {
    statusTimer_.setInterval(1000);
    QObject::connect(&statusTimer_, &QTimer::timeout, &statusTimer_, [this] { sendStatus(); });
    QObject::connect(&watchdogTimer_, &QTimer::timeout, &watchdogTimer_,
                     [this] { manager_.send("WATCHDOG=1"); });
}

void ServiceNotifier::ready(std::function<std::string()> status) {
    if (!manager_.send)
        return;
    status_ = std::move(status);
    sent_ = status_();
    manager_.send("READY=1\nSTATUS=" + sent_);
    statusTimer_.start();
    if (manager_.watchdog.count() > 0) {
        // Half the period, as the manager asks, so one late tick is no miss.
        const auto half = std::chrono::duration_cast<std::chrono::milliseconds>(manager_.watchdog) / 2;
        watchdogTimer_.start(static_cast<int>(std::clamp<std::int64_t>(half.count(), 1, 24 * 3600 * 1000)));
        manager_.send("WATCHDOG=1");
    }
}

void ServiceNotifier::sendStatus() {
    std::string now = status_();
    if (now == sent_)
        return;
    sent_ = std::move(now);
    manager_.send("STATUS=" + sent_);
}

void ServiceNotifier::stopping(const std::string& status) {
    statusTimer_.stop();
    watchdogTimer_.stop();
    if (manager_.send)
        manager_.send("STOPPING=1\nSTATUS=" + status);
}

} // namespace voltaro
