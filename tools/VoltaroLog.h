#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace voltaro {

// voltaro-log: lists the ports and HID devices the program would use, and
// prints the meter's decoded frames from the USB cable or a serial port.
// Runs on a QCoreApplication's thread; needs no display.
class VoltaroLog {
public:
    // Exit statuses, one per kind of failure, so scripts can tell them apart.
    enum Status {
        kOk = 0,
        kUsage = 2,
        kNoCable = 3,         // no "USB to Serial" listed (or no HID support at all)
        kCablePermission = 4, // the cable is listed but its node may not be opened
        kPortBusy = 5,        // the port exists but will not open (in use, not a serial port)
        kPortMissing = 6,     // no such device file
        kPortPermission = 7,  // the port's device file may not be opened
        kCableRefused = 8,    // the cable did not take its configuration report
        kLinkLost = 9,        // the cable was removed or the port failed while reading
    };

    // `stopFd`: becomes readable when the user interrupts (a signalfd), or -1.
    VoltaroLog(int stopFd, std::FILE* out, std::FILE* err) : stopFd_(stopFd), out_(out), err_(err) {}

    int run(const std::vector<std::string>& args);

    static const char* usage();

private:
    struct Options;
    int list();
    int usb(const Options& o);
    int port(const Options& o);
    int fail(int status, const std::string& message);

    int stopFd_;
    std::FILE* out_;
    std::FILE* err_;
};

} // namespace voltaro
