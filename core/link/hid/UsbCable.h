#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace voltaro {

class THidDevice;

// What the USB cable link knows of the meter's cable.
namespace usbcable {

// The product string the cable is recognised by.
inline const QString kProductName = QStringLiteral("USB to Serial");

// The one feature report the program sends: report ID 0, 19200 baud as a
// 32-bit little-endian number, the fixed configuration byte 03, four zeros.
constexpr std::array<std::uint8_t, 10> kConfigurationReport = {0x00, 0x00, 0x4B, 0x00, 0x00,
                                                               0x03, 0x00, 0x00, 0x00, 0x00};

// A device as the device list shows it: its product name (or
// "Device VID=XXXX PID=XXXX" without one), then " (Serial=...)" when it
// reports a serial number.
QString DescribeDevice(THidDevice& device);

// The item preselected in a device list: the last one that is exactly the
// cable's name (so a cable with a serial number is not), or -1.
int preselect(const QStringList& items);

} // namespace usbcable
} // namespace voltaro
