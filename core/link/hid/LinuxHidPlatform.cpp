#include "core/link/hid/LinuxHidPlatform.h"

#include "core/link/hid/HidrawNode.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace voltaro {

// A udev_device reference released with the binding's own entry point.
struct LinuxHidPlatform::DeviceRef {
    DeviceRef(const UdevBinding& b, struct udev_device* d) : binding(b), device(d) {}
    ~DeviceRef() {
        if (device)
            binding.api().udev_device_unref(device);
    }
    DeviceRef(const DeviceRef&) = delete;
    DeviceRef& operator=(const DeviceRef&) = delete;

    // Parents belong to the child: they are not released separately.
    struct udev_device* parent(const char* subsystem, const char* devtype) const {
        return device
                   ? binding.api().udev_device_get_parent_with_subsystem_devtype(device, subsystem, devtype)
                   : nullptr;
    }

    const UdevBinding& binding;
    struct udev_device* device;
};

namespace {

// Reads a whole hexadecimal number; false for anything else.
bool parseHex(const char* text, unsigned long max, unsigned long& value) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text, &end, 16);
    while (end && (*end == '\n' || *end == ' '))
        ++end;
    return errno == 0 && end && *end == '\0' && value <= max;
}

// HID_ID is "bus:vendor:product", each in hexadecimal ("0003:00005A5A:0000CAB1").
bool parseHidId(const char* text, std::uint16_t& vendor, std::uint16_t& product) {
    if (!text)
        return false;
    const std::string id(text);
    const auto first = id.find(':');
    const auto second = first == std::string::npos ? first : id.find(':', first + 1);
    if (second == std::string::npos)
        return false;
    unsigned long v = 0;
    unsigned long p = 0;
    if (!parseHex(id.substr(first + 1, second - first - 1).c_str(), 0xFFFF, v) ||
        !parseHex(id.substr(second + 1).c_str(), 0xFFFF, p))
        return false;
    vendor = static_cast<std::uint16_t>(v);
    product = static_cast<std::uint16_t>(p);
    return true;
}

QString trimmed(const char* text) {
    return text ? QString::fromUtf8(text).trimmed() : QString();
}

} // namespace

QString LinuxHidPlatform::portPath(const DeviceRef& dev) const {
    // The USB device's name in sysfs is its port path (".../usb1/1-1/1-1.2").
    struct udev_device* usb = dev.parent("usb", "usb_device");
    const char* path = usb ? udev_.api().udev_device_get_syspath(usb) : nullptr;
    if (!path)
        return {};
    const QString syspath = QString::fromUtf8(path);
    return syspath.mid(syspath.lastIndexOf(QLatin1Char('/')) + 1);
}

LinuxHidPlatform::~LinuxHidPlatform() {
    unbind();
}

bool LinuxHidPlatform::bind() {
    return udev_.bind(library_);
}

void LinuxHidPlatform::unbind() {
    stopWatching();
    udev_.unbind();
}

std::vector<THidPnPInfo> LinuxHidPlatform::listInterfaces() {
    std::vector<THidPnPInfo> list;
    if (!bound())
        return list;
    const auto& api = udev_.api();
    struct udev_enumerate* e = api.udev_enumerate_new(udev_.context());
    if (!e)
        return list;
    std::set<std::string> seen;
    if (api.udev_enumerate_add_match_subsystem(e, "hidraw") >= 0 && api.udev_enumerate_scan_devices(e) >= 0) {
        for (auto* entry = api.udev_enumerate_get_list_entry(e); entry;
             entry = api.udev_list_entry_get_next(entry)) {
            const char* syspath = api.udev_list_entry_get_name(entry);
            if (!syspath)
                continue;
            DeviceRef dev(udev_, api.udev_device_new_from_syspath(udev_.context(), syspath));
            const char* node = dev.device ? api.udev_device_get_devnode(dev.device) : nullptr;
            struct stat st {};
            if (!node || ::stat(syspath, &st) != 0)
                continue; // gone while listing
            const std::string key = std::string(syspath) + '@' + std::to_string(st.st_ino);
            auto it = instances_.find(key);
            if (it == instances_.end())
                it = instances_.emplace(key, nextInstance_++).first;
            seen.insert(key);
            THidPnPInfo info;
            info.DeviceInstance = it->second;
            info.DevicePath = QString::fromUtf8(node);
            info.SystemPath = QString::fromUtf8(syspath);
            info.PortPath = portPath(dev);
            list.push_back(info);
        }
    }
    api.udev_enumerate_unref(e);
    // Numbers of devices no longer present are forgotten; they are never given again.
    for (auto it = instances_.begin(); it != instances_.end();)
        it = seen.count(it->first) ? std::next(it) : instances_.erase(it);
    return list;
}

HidPlatform::Description LinuxHidPlatform::attributes(const THidPnPInfo& info, HIDD_ATTRIBUTES& out) {
    if (!bound())
        return Description::CannotOpen;
    const auto& api = udev_.api();
    DeviceRef dev(udev_,
                  api.udev_device_new_from_syspath(udev_.context(), info.SystemPath.toUtf8().constData()));
    if (!dev.device)
        return Description::CannotOpen;
    struct udev_device* hid = dev.parent("hid", nullptr);
    HIDD_ATTRIBUTES a;
    if (!hid || !parseHidId(api.udev_device_get_property_value(hid, "HID_ID"), a.VendorID, a.ProductID))
        return Description::CannotIdentify;
    // The USB device's release number; a device that is not on USB has none.
    unsigned long version = 0;
    if (struct udev_device* usb = dev.parent("usb", "usb_device"))
        if (!parseHex(api.udev_device_get_sysattr_value(usb, "bcdDevice"), 0xFFFF, version))
            version = 0;
    a.VersionNumber = static_cast<std::uint16_t>(version);
    out = a;
    return Description::Ok;
}

QString LinuxHidPlatform::deviceString(const THidPnPInfo& info, const char* usbAttribute,
                                       const char* hidProperty) {
    if (!bound())
        return {};
    const auto& api = udev_.api();
    DeviceRef dev(udev_,
                  api.udev_device_new_from_syspath(udev_.context(), info.SystemPath.toUtf8().constData()));
    if (struct udev_device* usb = dev.parent("usb", "usb_device"))
        return trimmed(api.udev_device_get_sysattr_value(usb, usbAttribute));
    if (struct udev_device* hid = dev.parent("hid", nullptr))
        return trimmed(api.udev_device_get_property_value(hid, hidProperty));
    return {};
}

QString LinuxHidPlatform::productString(const THidPnPInfo& info) {
    return deviceString(info, "product", "HID_NAME");
}

QString LinuxHidPlatform::serialString(const THidPnPInfo& info) {
    return deviceString(info, "serial", "HID_UNIQ");
}

std::vector<std::uint8_t> LinuxHidPlatform::reportDescriptor(const THidPnPInfo& info) {
    std::vector<std::uint8_t> bytes;
    if (!bound())
        return bytes;
    const auto& api = udev_.api();
    DeviceRef dev(udev_,
                  api.udev_device_new_from_syspath(udev_.context(), info.SystemPath.toUtf8().constData()));
    struct udev_device* hid = dev.parent("hid", nullptr);
    const char* hidPath = hid ? api.udev_device_get_syspath(hid) : nullptr;
    if (!hidPath)
        return bytes;
    // A binary attribute: libudev's text accessor would stop at the first zero byte.
    UniqueFd fd(::open((std::string(hidPath) + "/report_descriptor").c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return bytes;
    // The kernel keeps descriptors of at most 4096 bytes.
    constexpr std::size_t kMaxDescriptor = 4096;
    bytes.resize(kMaxDescriptor);
    std::size_t have = 0;
    while (have < kMaxDescriptor) {
        const ssize_t n = ::read(fd.get(), bytes.data() + have, kMaxDescriptor - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            bytes.clear();
            return bytes;
        }
        if (n == 0)
            break;
        have += static_cast<std::size_t>(n);
    }
    bytes.resize(have);
    return bytes;
}

bool LinuxHidPlatform::mayReadWrite(const THidPnPInfo& info) {
    return ::access(info.DevicePath.toLocal8Bit().constData(), R_OK | W_OK) == 0;
}

std::unique_ptr<HidNode> LinuxHidPlatform::open(const THidPnPInfo& info, Access access, int& error) {
    const int flags = (access == Access::ReadWrite ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    UniqueFd fd(::open(info.DevicePath.toLocal8Bit().constData(), flags));
    if (!fd.valid()) {
        error = errno;
        return nullptr;
    }
    return std::make_unique<HidrawNode>(std::move(fd));
}

int LinuxHidPlatform::startWatching() {
    if (!bound())
        return -1;
    if (monitor_)
        return udev_.api().udev_monitor_get_fd(monitor_);
    const auto& api = udev_.api();
    // "udev": events after udev has processed them, so the node and its
    // permissions are in place when the device is listed.
    monitor_ = api.udev_monitor_new_from_netlink(udev_.context(), "udev");
    if (!monitor_)
        return -1;
    if (api.udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
        api.udev_monitor_enable_receiving(monitor_) < 0) {
        stopWatching();
        return -1;
    }
    return api.udev_monitor_get_fd(monitor_);
}

int LinuxHidPlatform::takeChanges() {
    if (!monitor_)
        return 0;
    const auto& api = udev_.api();
    int events = 0;
    // The monitor's socket is non-blocking: this takes what is queued and returns.
    while (struct udev_device* d = api.udev_monitor_receive_device(monitor_)) {
        api.udev_device_unref(d);
        ++events;
    }
    return events;
}

void LinuxHidPlatform::stopWatching() {
    if (monitor_)
        udev_.api().udev_monitor_unref(monitor_);
    monitor_ = nullptr;
}

} // namespace voltaro
