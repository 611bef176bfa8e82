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
    // Where the device is plugged in: the USB port path as the kernel names
    // the USB device ("1-1.2": bus 1, port 1 of the root hub, port 2 of the
    // hub behind it). Empty for a device that is not on USB. A cable without
    // a serial number is told from another like it only by this.
    QString PortPath;
};

} // namespace voltaro
