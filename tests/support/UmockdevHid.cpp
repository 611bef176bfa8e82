#include "support/UmockdevHid.h"

#include <umockdev.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/file.h>
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
    std::atomic<int> opens{0};
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

// Each opening of the node connects a client of its own.
void countOpen(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data) {
    static_cast<UmockdevHid::Device*>(data)->opens.fetch_add(1);
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
        const std::string port = setup.port.empty() ? "1-" + n : setup.port;
        gchar* usb = umockdev_testbed_add_device(
            testbed_, "usb", port.c_str(), nullptr, "idVendor", hex(setup.vendor, 4).c_str(), "idProduct",
            hex(setup.product, 4).c_str(), "bcdDevice", hex(setup.release, 4).c_str(), nullptr, "DEVTYPE",
            "usb_device", nullptr);
        if (!setup.productName.empty())
            umockdev_testbed_set_attribute(testbed_, usb, "product", setup.productName.c_str());
        if (!setup.serial.empty())
            umockdev_testbed_set_attribute(testbed_, usb, "serial", setup.serial.c_str());
        gchar* iface = umockdev_testbed_add_device(testbed_, "usb", (port + ":1.0").c_str(), usb, nullptr,
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
    g_signal_connect(d->handler, "client-connected", G_CALLBACK(countOpen), d.get());
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

int UmockdevHid::queued(int index) const {
    int bytes = 0;
    return ::ioctl(devices_[index]->writer.get(), FIONREAD, &bytes) == 0 ? bytes : -1;
}

NodeStreamer::NodeStreamer(UmockdevHid& bed, int index, std::vector<std::vector<std::uint8_t>> reports)
    : reports_(std::move(reports)), fd_(bed.devices_[index]->writer.get()) {
    thread_ = std::thread([this] {
        auto due = std::chrono::steady_clock::now();
        for (const auto& r : reports_) {
            while (::write(fd_, r.data(), r.size()) != static_cast<ssize_t>(r.size())) {
                if (stop_)
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            done_.fetch_add(1);
            due += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(due);
            if (stop_)
                return;
        }
    });
}

NodeStreamer::~NodeStreamer() {
    stop();
}

std::size_t NodeStreamer::stop() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    return done_.load();
}

void UmockdevHid::unplug(int index) {
    Device& d = *devices_[index];
    // This umockdev sends no uevent on removal and leaves children behind.
    // The kernel takes a device out of sysfs before udev tells of its
    // removal; here the event needs the device's folder, so the node's class
    // entry goes first: a program that lists the devices when told sees the
    // node gone, however soon it looks.
    if (d.node.rfind("/dev/hidraw", 0) == 0)
        ::unlink((root_ + "/sys/class/hidraw/" + d.node.substr(5)).c_str());
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

int UmockdevHid::opens(int index) const {
    return devices_[index]->opens.load();
}

std::vector<std::vector<std::uint8_t>> UmockdevHid::features(int index) const {
    const Device& d = *devices_[index];
    std::lock_guard lock(d.mutex);
    return d.features;
}

namespace {

constexpr const char* kUdevFolder = "/run/udev";
constexpr const char* kUdevControl = "/run/udev/control";
// What the tests write into the file they make, so only such a file is removed.
constexpr const char kMadeByTests[] = "made by the voltaro tests\n";

// Creating and removing happen under this lock only.
UniqueFd lockFile(const char* path, int operation) {
    UniqueFd fd(::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (fd && ::flock(fd.get(), operation) != 0)
        return UniqueFd();
    return fd;
}

bool madeByTests() {
    UniqueFd fd(::open(kUdevControl, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    char text[sizeof kMadeByTests] = {};
    struct stat st {};
    return fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::read(fd.get(), text, sizeof text) == static_cast<ssize_t>(sizeof kMadeByTests - 1) &&
           std::memcmp(text, kMadeByTests, sizeof kMadeByTests - 1) == 0;
}

} // namespace

std::unique_ptr<UdevControlPath> UdevControlPath::hold(std::string& whyNot) {
    const UniqueFd mutex = lockFile("/tmp/voltaro-tests-udev-control.lock", LOCK_EX);
    if (!mutex) {
        whyNot = std::string("cannot lock /tmp/voltaro-tests-udev-control.lock: ") + std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<UdevControlPath> held(new UdevControlPath);
    held->users_ = lockFile("/tmp/voltaro-tests-udev-control.users", LOCK_SH);
    if (!held->users_) {
        whyNot = std::string("cannot lock /tmp/voltaro-tests-udev-control.users: ") + std::strerror(errno);
        return nullptr;
    }
    if (::access(kUdevControl, F_OK) == 0)
        return held;
    if (::mkdir(kUdevFolder, 0755) != 0 && errno != EEXIST) {
        whyNot = std::string("libudev's monitor hears nothing without ") + kUdevControl +
                 ", and the folder cannot be made: " + std::strerror(errno);
        return nullptr;
    }
    UniqueFd made(::open(kUdevControl, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!made || ::write(made.get(), kMadeByTests, sizeof kMadeByTests - 1) !=
                     static_cast<ssize_t>(sizeof kMadeByTests - 1)) {
        whyNot = std::string("libudev's monitor hears nothing without ") + kUdevControl +
                 ", and it cannot be made: " + std::strerror(errno);
        return nullptr;
    }
    return held;
}

UdevControlPath::~UdevControlPath() {
    const UniqueFd mutex = lockFile("/tmp/voltaro-tests-udev-control.lock", LOCK_EX);
    users_.reset();
    // The last user removes the file the tests made (never udev's socket),
    // and the folder when it is left empty.
    const UniqueFd alone = lockFile("/tmp/voltaro-tests-udev-control.users", LOCK_EX | LOCK_NB);
    if (mutex && alone && madeByTests() && ::unlink(kUdevControl) == 0)
        ::rmdir(kUdevFolder);
}

} // namespace voltaro::testing
