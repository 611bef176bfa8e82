#include "core/link/serial/TtyIdentity.h"

#include <QFileInfo>

namespace voltaro {

namespace {

const QString kFile = QStringLiteral("file:");

} // namespace

bool TtyIdentity::bound() {
    // Loaded when first needed; a system without it is not asked again.
    if (!tried_) {
        tried_ = true;
        udev_.bind(library_);
    }
    return udev_.bound();
}

QString TtyIdentity::identityOf(struct udev_device* device) const {
    const auto& api = udev_.api();
    const auto property = [&](const char* key) {
        const char* value = api.udev_device_get_property_value(device, key);
        return value ? QString::fromUtf8(value) : QString();
    };
    const QString serial = property("ID_SERIAL");
    const QString serialShort = property("ID_SERIAL_SHORT");
    const QString place = property("ID_PATH");
    if (serial.isEmpty() && serialShort.isEmpty())
        return place.isEmpty() ? QString() : QStringLiteral("path:") + place;
    QString id = QStringLiteral("serial:") + (serial.isEmpty() ? serialShort : serial);
    // The ports of a many-port adapter share its serial.
    if (const QString port = property("ID_USB_INTERFACE_NUM"); !port.isEmpty())
        id += QStringLiteral("/if") + port;
    // Without a serial number, ID_SERIAL names only the maker and model.
    if (serialShort.isEmpty() && !place.isEmpty())
        id += QStringLiteral("@") + place;
    return id;
}

QString TtyIdentity::of(const QString& path) {
    const QString byFile = kFile + path;
    if (!bound())
        return byFile;
    // A link such as /dev/serial/by-id/... names the tty it points at.
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const QString node = canonical.isEmpty() ? path : canonical;
    const QByteArray name = QFileInfo(node).fileName().toLocal8Bit();
    const auto& api = udev_.api();
    struct udev_device* tty =
        api.udev_device_new_from_subsystem_sysname(udev_.context(), "tty", name.constData());
    if (!tty)
        return byFile;
    // Only the tty whose node this is: a pseudo-terminal /dev/pts/3 is no
    // relative of a tty that happens to be named "3".
    QString id;
    const char* devnode = api.udev_device_get_devnode(tty);
    if (devnode && QString::fromLocal8Bit(devnode) == node)
        id = identityOf(tty);
    api.udev_device_unref(tty);
    return id.isEmpty() ? byFile : id;
}

QString TtyIdentity::find(const QString& identity) {
    if (identity.startsWith(kFile))
        return identity.mid(kFile.size());
    if (!bound())
        return {};
    const auto& api = udev_.api();
    struct udev_enumerate* e = api.udev_enumerate_new(udev_.context());
    if (!e)
        return {};
    QString found;
    if (api.udev_enumerate_add_match_subsystem(e, "tty") >= 0 && api.udev_enumerate_scan_devices(e) >= 0) {
        for (auto* entry = api.udev_enumerate_get_list_entry(e); entry && found.isEmpty();
             entry = api.udev_list_entry_get_next(entry)) {
            struct udev_device* tty =
                api.udev_device_new_from_syspath(udev_.context(), api.udev_list_entry_get_name(entry));
            if (!tty)
                continue;
            const char* devnode = api.udev_device_get_devnode(tty);
            if (devnode && identityOf(tty) == identity)
                found = QString::fromLocal8Bit(devnode);
            api.udev_device_unref(tty);
        }
    }
    api.udev_enumerate_unref(e);
    return found;
}

} // namespace voltaro
