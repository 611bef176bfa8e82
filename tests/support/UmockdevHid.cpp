#include "support/UmockdevHid.h"

#include <umockdev.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace voltaro::testing {

struct UmockdevHid::Device {
    std::vector<std::string> paths; // sysfs paths, parents first
    std::string node;
    std::string fifo;
    UniqueFd writer;
    UMockdevIoctlBase* handler = nullptr;
    mutable std::mutex mutex; // the ioctl handler runs on umockdev's thread
    std::vector<std::vector<std::uint8_t>> features;
};

namespace {

std::string hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

// Answers the hidraw ioctls the program makes: HIDIOCSFEATURE is recorded
// byte for byte; anything else is not a request this device knows.
gboolean handleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* device = static_cast<UmockdevHid::Device*>(data);
    const gulong request = umockdev_ioctl_client_get_request(client);
    const unsigned size = _IOC_SIZE(request);
    if (_IOC_TYPE(request) == 'H' && _IOC_NR(request) == _IOC_NR(HIDIOCSFEATURE(0)) && size > 0) {
        GError* error = nullptr;
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(arg, 0, size, &error);
        if (!buffer) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return TRUE;
        }
        {
            std::lock_guard lock(device->mutex);
            device->features.emplace_back(buffer->data, buffer->data + size);
        }
        g_object_unref(buffer);
        umockdev_ioctl_client_complete(client, static_cast<glong>(size), 0);
        return TRUE;
    }
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
}

} // namespace

std::string UmockdevHid::unavailableReason() {
    const char* preload = std::getenv("LD_PRELOAD");
    if (!preload || !std::strstr(preload, "libumockdev-preload"))
        return "not started under libumockdev-preload.so.0 (run it through ctest or umockdev-wrapper)";
    return {};
}

std::unique_ptr<UmockdevHid> UmockdevHid::make(std::string& whyNot) {
    whyNot = unavailableReason();
    if (!whyNot.empty())
        return nullptr;
    auto bed = std::make_unique<UmockdevHid>();
    if (!bed->ok()) {
        whyNot = bed->error();
        return nullptr;
    }
    return bed;
}

UmockdevHid::UmockdevHid() {
    error_ = unavailableReason();
    if (!ok())
        return;
    testbed_ = umockdev_testbed_new();
    if (!testbed_ || !umockdev_in_mock_environment()) {
        error_ = "umockdev could not set up a testbed";
        return;
    }
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    root_ = root;
    g_free(root);
    ::mkdir((root_ + "/dev").c_str(), 0755);
    // Without the fallback socket, /dev paths outside the testbed (/dev/null,
    // pseudo-terminals) are the real ones again; the preload's small table of
    // emulated descriptors is kept for the emulated nodes.
    ::unlink((root_ + "/ioctl/_default").c_str());
}

UmockdevHid::~UmockdevHid() {
    for (auto& d : devices_) {
        if (d->handler)
            g_object_unref(d->handler);
    }
    if (testbed_)
        g_object_unref(testbed_);
}

int UmockdevHid::add(const Setup& setup) {
    auto d = std::make_unique<Device>();
    const int index = static_cast<int>(devices_.size());
    const std::string n = std::to_string(index);
    std::string parent;
    if (setup.usb) {
        gchar* usb = umockdev_testbed_add_device(
            testbed_, "usb", ("1-" + n).c_str(), nullptr, "idVendor", hex(setup.vendor, 4).c_str(),
            "idProduct", hex(setup.product, 4).c_str(), "bcdDevice", hex(setup.release, 4).c_str(), nullptr,
            "DEVTYPE", "usb_device", nullptr);
        if (!setup.productName.empty())
            umockdev_testbed_set_attribute(testbed_, usb, "product", setup.productName.c_str());
        if (!setup.serial.empty())
            umockdev_testbed_set_attribute(testbed_, usb, "serial", setup.serial.c_str());
        gchar* iface = umockdev_testbed_add_device(testbed_, "usb", ("1-" + n + ":1.0").c_str(), usb, nullptr,
                                                   "DEVTYPE", "usb_interface", nullptr);
        d->paths = {usb, iface};
        parent = iface;
        g_free(usb);
        g_free(iface);
    }
    const std::string hidId = "0003:0000" + hex(setup.vendor, 4) + ":0000" + hex(setup.product, 4);
    const std::string hidDevice =
        "0003:" + hex(setup.vendor, 4) + ":" + hex(setup.product, 4) + "." + hex(index + 1, 4);
    gchar* hid = umockdev_testbed_add_device(
        testbed_, "hid", hidDevice.c_str(), parent.empty() ? nullptr : parent.c_str(), nullptr, "HID_ID",
        hidId.c_str(), "HID_NAME", setup.hidName.c_str(), "HID_UNIQ", setup.hidUniq.c_str(), nullptr);
    std::vector<std::uint8_t> descriptor = setup.descriptor;
    umockdev_testbed_set_attribute_binary(testbed_, hid, "report_descriptor", descriptor.data(),
                                          static_cast<gint>(descriptor.size()));
    d->node = "/dev/hidraw" + n;
    d->fifo = root_ + d->node;
    // The node first, so the device is complete when its add uevent arrives.
    ::mkfifo(d->fifo.c_str(), 0666);
    ::chmod(d->fifo.c_str(), 0666);
    // Read-write keeps the FIFO open without a reader; O_DIRECT makes each
    // write one packet, so one report is one read. A FIFO refuses O_DIRECT
    // at open, so it is set afterwards.
    d->writer.reset(::open(d->fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (::fcntl(d->writer.get(), F_SETFL, O_NONBLOCK | O_DIRECT) != 0)
        d->writer.reset();
    ::fcntl(d->writer.get(), F_SETPIPE_SZ, 1 << 20);
    d->handler = umockdev_ioctl_base_new();
    g_signal_connect(d->handler, "handle-ioctl", G_CALLBACK(handleIoctl), d.get());
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, d->node.c_str(), d->handler, &error)) {
        error_ = std::string("attaching the ioctl handler failed: ") + (error ? error->message : "?");
        g_clear_error(&error);
    }
    gchar* hidraw = umockdev_testbed_add_device(testbed_, "hidraw", ("hidraw" + n).c_str(), hid, "dev",
                                                ("243:" + n).c_str(), nullptr, "DEVNAME", d->node.c_str(),
                                                "MAJOR", "243", "MINOR", n.c_str(), nullptr);
    d->paths.push_back(hid);
    d->paths.push_back(hidraw);
    g_free(hid);
    g_free(hidraw);
    if (!d->writer.valid())
        error_ = "the emulated node " + d->fifo + " could not be made: " + std::strerror(errno);
    devices_.push_back(std::move(d));
    return index;
}

int UmockdevHid::addTty(const std::string& name,
                        const std::vector<std::pair<std::string, std::string>>& properties) {
    const std::string node = "/dev/" + name;
    const gchar* noAttributes[] = {nullptr};
    std::vector<const gchar*> keyValues = {"DEVNAME", node.c_str()};
    for (const auto& [key, value] : properties) {
        keyValues.push_back(key.c_str());
        keyValues.push_back(value.c_str());
    }
    keyValues.push_back(nullptr);
    gchar* tty = umockdev_testbed_add_devicev(testbed_, "tty", name.c_str(), nullptr,
                                              const_cast<gchar**>(noAttributes),
                                              const_cast<gchar**>(keyValues.data()));
    auto d = std::make_unique<Device>();
    d->node = node;
    if (tty)
        d->paths.push_back(tty);
    else
        error_ = "the emulated tty " + name + " could not be added";
    g_free(tty);
    devices_.push_back(std::move(d));
    return static_cast<int>(devices_.size()) - 1;
}

bool UmockdevHid::push(int index, const std::vector<std::uint8_t>& report) {
    Device& d = *devices_[index];
    return ::write(d.writer.get(), report.data(), report.size()) == static_cast<ssize_t>(report.size());
}

void UmockdevHid::unplug(int index) {
    Device& d = *devices_[index];
    // This umockdev sends no uevent on removal and leaves children behind.
    for (auto it = d.paths.rbegin(); it != d.paths.rend(); ++it) {
        umockdev_testbed_uevent(testbed_, it->c_str(), "remove");
        umockdev_testbed_remove_device(testbed_, it->c_str());
    }
    if (!d.fifo.empty())
        ::unlink(d.fifo.c_str());
}

void UmockdevHid::setNodeMode(int index, unsigned mode) {
    ::chmod(devices_[index]->fifo.c_str(), mode);
}

std::string UmockdevHid::node(int index) const {
    return devices_[index]->node;
}

std::vector<std::vector<std::uint8_t>> UmockdevHid::features(int index) const {
    const Device& d = *devices_[index];
    std::lock_guard lock(d.mutex);
    return d.features;
}

} // namespace voltaro::testing
