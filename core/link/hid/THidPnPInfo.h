#pragma once

#include <QString>

#include <cstdint>

namespace voltaro {

// Identifies one HID device interface found while listing.
struct THidPnPInfo {
    // Stays the same while the device stays plugged in; differs between
    // devices present at the same time, and a device plugged in again gets a
    // new number.
    std::uint32_t DeviceInstance = 0;
    // The node reports are read from and feature reports sent to (/dev/hidrawN).
    QString DevicePath;
    // Where the platform describes the interface from without opening its node
    // (the hidraw device's sysfs path on Linux).
    QString SystemPath;
};

} // namespace voltaro
