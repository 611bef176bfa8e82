#pragma once

#include "core/sys/UdevBinding.h"

#include <QString>

#include <string>

namespace voltaro {

// What makes a serial device the same one after it was unplugged and plugged
// in again, when its device file may come back under another number.
//
// A USB-serial adapter is known by the properties udev gives its tty: its
// serial (ID_SERIAL, else ID_SERIAL_SHORT), with the interface of a
// many-port adapter, and for an adapter without a serial number of its own
// (identical ones share ID_SERIAL) also the USB port it is plugged in; an
// adapter without any serial is known by that place alone (ID_PATH). Any
// other device (a built-in port, a pseudo-terminal, any device when libudev
// is missing) is known by the device file the port was opened as, so a link
// re-pointed at a new device counts as the same port.
class TtyIdentity {
public:
    static constexpr const char* kLibrary = "libudev.so.1";

    explicit TtyIdentity(std::string library = kLibrary) : library_(std::move(library)) {}
    TtyIdentity(const TtyIdentity&) = delete;
    TtyIdentity& operator=(const TtyIdentity&) = delete;

    // The identity of the device that `path` opens now.
    QString of(const QString& path);
    // The device file that opens the device known as `identity` now, or
    // empty when no device present is that one.
    QString find(const QString& identity);

private:
    bool bound();
    QString identityOf(struct udev_device* device) const;

    std::string library_;
    UdevBinding udev_;
    bool tried_ = false;
};

} // namespace voltaro
