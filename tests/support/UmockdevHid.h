#pragma once

// Emulated HID devices for the real Linux platform, under umockdev: a
// usb -> usb_interface -> hid -> hidraw chain in a testbed (or hid -> hidraw
// for a device that is not on USB), a packet-mode FIFO as the node, and an
// ioctl handler that records the feature reports the program sends. Also
// the ttys of serial adapters, described by their udev properties only.
//
// The test binary must run with libumockdev-preload.so.0 in LD_PRELOAD.

#include "core/sys/UniqueFd.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

namespace voltaro::testing {

class UmockdevHid {
public:
    struct Setup {
        std::uint16_t vendor = 0x5A5A;
        std::uint16_t product = 0xCAB1;
        std::uint16_t release = 0x0120; // bcdDevice
        bool usb = true;
        std::string port;                          // the USB device's port path; "1-<index>" when empty
        std::string productName = "USB to Serial"; // empty: the device has none
        std::string serial;
        std::string hidName; // HID_NAME / HID_UNIQ of the hid device
        std::string hidUniq;
        std::vector<std::uint8_t> descriptor;
    };

    // Why umockdev cannot run here, or empty when it can.
    static std::string unavailableReason();
    // A fresh testbed, or none with `whyNot` set when umockdev cannot run.
    static std::unique_ptr<UmockdevHid> make(std::string& whyNot);

    UmockdevHid();
    ~UmockdevHid();
    UmockdevHid(const UmockdevHid&) = delete;
    UmockdevHid& operator=(const UmockdevHid&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    std::string root() const { return root_; }

    // Adds a device (an "add" uevent for each level); returns its index.
    int add(const Setup& setup);
    // Adds a tty `name` (node /dev/`name`, none made) with udev `properties`; returns its index.
    int addTty(const std::string& name, const std::vector<std::pair<std::string, std::string>>& properties);
    // Queues one report as hidraw would hand it over (no report ID for a
    // device that numbers none); false when the node is full.
    bool push(int index, const std::vector<std::uint8_t>& report);
    // Bytes queued on the node that nobody has read yet.
    int queued(int index) const;
    // Sends "remove" uevents children first, then removes the device.
    void unplug(int index);
    // Makes the node unopenable for a user without DAC override.
    void setNodeMode(int index, unsigned mode);
    std::string node(int index) const;
    std::vector<std::vector<std::uint8_t>> features(int index) const;
    // Times the node was opened.
    int opens(int index) const;

    struct Device;

private:
    friend class NodeStreamer;

    UMockdevTestbed* testbed_ = nullptr;
    std::string root_;
    std::string error_;
    std::vector<std::unique_ptr<Device>> devices_;
};

// Queues reports on a node at the cable's pace, one a millisecond, on a
// thread of its own, waiting while the node is full (none is dropped).
class NodeStreamer {
public:
    NodeStreamer(UmockdevHid& bed, int index, std::vector<std::vector<std::uint8_t>> reports);
    ~NodeStreamer();
    NodeStreamer(const NodeStreamer&) = delete;
    NodeStreamer& operator=(const NodeStreamer&) = delete;

    // Ends the stream; the number of reports queued.
    std::size_t stop();
    std::size_t queuedSoFar() const { return done_.load(); }

private:
    std::vector<std::vector<std::uint8_t>> reports_;
    int fd_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> done_{0};
    std::thread thread_;
};

// libudev's monitor of udev's events hears nothing unless /run/udev/control
// exists (its sign that udev runs), and umockdev does not emulate /run. While
// one of these lives the path exists: udev's own socket when udev runs, else an
// empty file made for the tests. Test programs running at once share it: the
// last one to end removes what was made (a lock file in /tmp counts them).
class UdevControlPath {
public:
    // The path held, or none with `whyNot` set when it cannot be made.
    static std::unique_ptr<UdevControlPath> hold(std::string& whyNot);
    ~UdevControlPath();
    UdevControlPath(const UdevControlPath&) = delete;
    UdevControlPath& operator=(const UdevControlPath&) = delete;

private:
    UdevControlPath() = default;
    UniqueFd users_; // held shared while this lives
};

} // namespace voltaro::testing
