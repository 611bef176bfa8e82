#pragma once

// A controller over the simulated platform with a cable checked out, and the
// handler calls it saw, for the HID logic tests.

#include "core/link/hid/THidDevice.h"
#include "core/link/hid/THidDeviceController.h"
#include "core/link/hid/THidDeviceReadThread.h"
#include "support/LinkTestSupport.h"
#include "support/SimulatedHidPlatform.h"

#include <QCoreApplication>

#include <memory>
#include <ostream>
#include <vector>

// Readable failure messages for texts.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace voltaro::testing {

struct Report {
    std::uint8_t id;
    std::vector<std::uint8_t> data;
};

// Runs the event loop for `ms` milliseconds.
inline void runEvents(int ms) {
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

struct HidRig {
    std::shared_ptr<SimulatedHidPlatform> platform = std::make_shared<SimulatedHidPlatform>();
    std::unique_ptr<THidDeviceController> controller;
    std::vector<Report> reports;
    std::vector<std::uint32_t> errors;
    THidDataEvent collect = [this](THidDevice*, std::uint8_t id, const void* data, std::uint16_t size) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        reports.push_back({id, std::vector<std::uint8_t>(bytes, bytes + size)});
    };
    THidDataErrorEvent collectErrors = [this](THidDevice*, std::uint32_t error) { errors.push_back(error); };

    void start() { controller = std::make_unique<THidDeviceController>(nullptr, platform); }

    // The device at `index`, checked out.
    std::unique_ptr<THidDevice> checkOut(int index = 0) {
        std::unique_ptr<THidDevice> device;
        controller->CheckOutByIndex(device, index);
        return device;
    }

    // Sends `report`, running the event loop while the node is full.
    static bool sendAll(SimulatedHidDevice& device, const std::vector<std::uint8_t>& report) {
        return waitUntil([&] { return device.send(report); });
    }
};

} // namespace voltaro::testing
