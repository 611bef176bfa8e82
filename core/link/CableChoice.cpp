#include "core/link/CableChoice.h"

#include "core/link/hid/THidDevice.h"
#include "core/link/hid/UsbCable.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace voltaro {

CableChoice CableChoice::parse(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return {};
    if (t.startsWith(QLatin1Char('/')))
        return {Kind::Node, t};
    // The kernel's name of a USB device: bus, then the port on each hub down to it.
    static const QRegularExpression port(QStringLiteral("^[0-9]+-[0-9]+(\\.[0-9]+)*$"));
    if (port.match(t).hasMatch())
        return {Kind::PortPath, t};
    return {Kind::Serial, t};
}

bool CableChoice::matches(THidDevice& device) const {
    if (kind_ == Kind::Default || device.ProductName() != usbcable::kProductName)
        return false;
    const THidPnPInfo& info = device.PnPInfo();
    switch (kind_) {
    case Kind::Node:
        // A link to the node (a udev rule's name for it) names it as well.
        return info.DevicePath == text_ || QFileInfo(text_).canonicalFilePath() == info.DevicePath;
    case Kind::PortPath: return info.PortPath == text_;
    case Kind::Serial: return device.SerialNumber() == text_;
    case Kind::Default: break;
    }
    return false;
}

QString CableChoice::where() const {
    switch (kind_) {
    case Kind::Node: return QStringLiteral(" ") + text_;
    case Kind::PortPath: return QStringLiteral(" at ") + text_;
    case Kind::Serial: return QStringLiteral(" with serial number ") + text_;
    case Kind::Default: break;
    }
    return QString();
}

QString cableMenuText(THidDevice& device) {
    const QString port = device.PnPInfo().PortPath;
    QString text = port.isEmpty() ? QStringLiteral("USB cable ") + device.PnPInfo().DevicePath
                                  : QStringLiteral("USB cable at ") + port;
    const QString serial = device.SerialNumber();
    if (!serial.isEmpty())
        text += QStringLiteral(", serial ") + serial;
    return text;
}

} // namespace voltaro
