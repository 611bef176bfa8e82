#pragma once

#include "tools/LogOptions.h"
#include "tools/ServiceNotifier.h"

#include <cstdio>
#include <string>
#include <vector>

namespace voltaro {

class CableLink;
class LogSession;

// voltaro-log: lists the ports and HID devices the program would use, prints
// the meter's decoded frames from the USB cable or a serial port, and records
// its readings into a data file as the window does, waiting for a port or
// cable that goes away. Runs on a QCoreApplication's thread; needs no display.
class VoltaroLog {
public:
    // Exit statuses, one per kind of failure, so scripts can tell them apart.
    enum Status {
        kOk = 0,
        kUsage = 2,
        kNoCable = 3,         // no "USB to Serial" listed (or no HID support at all)
        kCablePermission = 4, // the cable is listed but its node may not be opened
        kPortBusy = 5,        // the port exists but will not open (in use, not a serial port), or
                              // another instance reads the port or cable
        kPortMissing = 6,     // no such device file
        kPortPermission = 7,  // the port's device file may not be opened
        kCableRefused = 8,    // the cable did not take its configuration report
        kLinkLost = 9,        // the cable was removed or the port failed, and not waited for
        kOutputFailed = 10,   // the output file could not be made, or rows not written to it
        kMqttSettings = 11,   // --mqtt: a bad URL, or the CA or credentials file cannot be read
        kMqttRefused = 12,    // the MQTT broker refused the connection (user, password)
        kMqttTls = 13,        // TLS with the MQTT broker failed
        kScpiFailed = 14,     // the SCPI server could not listen on the address and port given
    };

    // `stopFd`: becomes readable when the user interrupts (a signalfd), or -1.
    VoltaroLog(int stopFd, std::FILE* out, std::FILE* err) : stopFd_(stopFd), out_(out), err_(err) {}

    // The service manager told of the recording's state (none by default).
    void setServiceManager(ServiceManager manager) { manager_ = std::move(manager); }

    int run(const std::vector<std::string>& args);

    static const char* usage();

private:
    int list();
    int usb(const LogOptions& o);
    int port(const LogOptions& o);
    // Starts the cable chosen; kOk, or the status it failed with, said.
    int startCable(CableLink& cable);
    int meters(const LogOptions& o);
    // The output file and the SCPI server, once the link is up; kOk or the status said.
    int openOutputs(LogSession& session);
    int fail(int status, const std::string& message);
    // --mqtt for the one meter: kOk, else the status to end with (not
    // recording) after saying why; recording, it is said and the recording goes on.
    template <class Session> int openMqtt(Session& session, const LogOptions& o, const std::string& meter);

    ServiceManager manager_;
    int stopFd_;
    std::FILE* out_;
    std::FILE* err_;
};

} // namespace voltaro
