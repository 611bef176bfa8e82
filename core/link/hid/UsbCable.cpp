#include "core/link/hid/UsbCable.h"

#include "core/link/hid/THidDevice.h"

namespace voltaro::usbcable {

namespace {

QString hex4(std::uint16_t value) {
    return QString::number(value, 16).rightJustified(4, QLatin1Char('0')).toUpper();
}

} // namespace

QString DescribeDevice(THidDevice& device) {
    QString text = device.ProductName();
    if (text.isEmpty())
        text = QStringLiteral("Device VID=%1 PID=%2")
                   .arg(hex4(device.Attributes().VendorID), hex4(device.Attributes().ProductID));
    const QString serial = device.SerialNumber();
    if (!serial.isEmpty())
        text += QStringLiteral(" (Serial=%1)").arg(serial);
    return text;
}

int preselect(const QStringList& items) {
    return items.lastIndexOf(kProductName);
}

} // namespace voltaro::usbcable
