#pragma once

#include <QTimer>

#include <chrono>
#include <functional>
#include <string>

namespace voltaro {

// The service manager that started voltaro-log, when one did (a systemd unit
// of Type=notify): how to send it a state ("READY=1", "STATUS=...") and the
// watchdog's period, in which it wants a sign of life (0: none).
struct ServiceManager {
    std::function<void(const std::string& state)> send; // empty: no manager listens
    std::chrono::microseconds watchdog{0};
};

// What voltaro-log tells the service manager: ready once the link is open (or
// waited for) and the file made, a status line (rows, the link's state) each
// second it changed, a sign of life at half the watchdog's period from the
// event loop's thread (a loop that hangs stops it), and stopping when the
// recording ends. Does nothing without a manager. Runs on the event loop's thread.
class ServiceNotifier {
public:
    explicit ServiceNotifier(ServiceManager manager);
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    // READY=1 with the first status; `status` gives the status line whenever asked.
    void ready(std::function<std::string()> status);
    // STOPPING=1 with a last status saying why; nothing is sent after it.
    void stopping(const std::string& status);

private:
    void sendStatus();

    ServiceManager manager_;
    std::function<std::string()> status_;
    std::string sent_;
    QTimer statusTimer_;
    QTimer watchdogTimer_;
};

} // namespace voltaro
