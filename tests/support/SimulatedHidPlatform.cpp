#include "support/SimulatedHidPlatform.h"

#include "support/HidDescriptors.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace voltaro::testing {

// The program's end of a node. Reads fail while the device says so.
class SimulatedNode : public HidNode {
public:
    SimulatedNode(std::shared_ptr<SimulatedHidDevice> device, UniqueFd fd)
        : device_(std::move(device)), fd_(std::move(fd)) {}

    int pollFd() const override { return device_->held_ ? device_->neverReady_.get() : fd_.get(); }

    long readReport(std::uint8_t* buffer, std::size_t length, int& error) override {
        if (const int e = device_->readError_.load()) {
            // Take the packet that woke the reader, so a failing device does
            // not look readable for ever to a reader that ignores errors.
            std::uint8_t scratch[1];
            [[maybe_unused]] const ssize_t n = ::recv(fd_.get(), scratch, sizeof scratch, MSG_DONTWAIT);
            error = e;
            return -1;
        }
        const ssize_t n = ::recv(fd_.get(), buffer, length, MSG_DONTWAIT);
        if (n > 0)
            device_->read_.fetch_add(1);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno == EAGAIN)
            return 0;
        error = errno;
        return -1;
    }

    bool setFeature(const std::uint8_t* report, std::size_t length, int& error) override {
        if (device_->script.featureFails) {
            error = EPIPE;
            return false;
        }
        std::lock_guard lock(device_->mutex_);
        device_->features_.emplace_back(report, report + length);
        return true;
    }

private:
    std::shared_ptr<SimulatedHidDevice> device_;
    UniqueFd fd_;
};

std::shared_ptr<SimulatedHidDevice> SimulatedHidDevice::cable(const QString& serial) {
    Script s;
    s.attributes.VendorID = 0x5A5A;
    s.attributes.ProductID = 0xCAB1;
    s.attributes.VersionNumber = 0x1200;
    s.product = QStringLiteral("USB to Serial");
    s.serial = serial;
    s.descriptor = kCableDescriptor;
    return std::make_shared<SimulatedHidDevice>(s);
}

std::shared_ptr<SimulatedHidDevice> SimulatedHidDevice::mouse() {
    Script s;
    s.attributes.VendorID = 0x5A5B;
    s.attributes.ProductID = 0x1E05;
    s.product = QStringLiteral("USB Optical Mouse");
    s.descriptor = kMouseDescriptor;
    // Mice are not the user's to read on a desktop.
    s.readWrite = false;
    return std::make_shared<SimulatedHidDevice>(s);
}

std::shared_ptr<SimulatedHidDevice> SimulatedHidDevice::queryOnlyCable() {
    auto c = cable();
    c->script.readWrite = false;
    return c;
}

std::shared_ptr<SimulatedHidDevice> SimulatedHidDevice::undescribable() {
    Script s;
    s.description = HidPlatform::Description::CannotIdentify;
    return std::make_shared<SimulatedHidDevice>(s);
}

SimulatedHidDevice::SimulatedHidDevice(Script script)
    : script(std::move(script)), neverReady_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SimulatedHidDevice::~SimulatedHidDevice() {
    stopStreaming();
}

bool SimulatedHidDevice::send(const std::vector<std::uint8_t>& report) {
    std::lock_guard lock(mutex_);
    bool taken = false;
    for (const UniqueFd& peer : peers_)
        taken |= ::send(peer.get(), report.data(), report.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0;
    return taken;
}

bool SimulatedHidDevice::offer(const std::vector<std::uint8_t>& report) {
    if (!send(report))
        return false;
    offered_.fetch_add(1);
    return true;
}

void SimulatedHidDevice::startStreaming(double perSecond,
                                        std::function<std::vector<std::uint8_t>(std::uint64_t)> next) {
    stopStreaming();
    streaming_ = true;
    streamer_ = std::thread([this, perSecond, next = std::move(next)] {
        using Clock = std::chrono::steady_clock;
        const auto period =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / perSecond));
        auto due = Clock::now();
        for (std::uint64_t i = 0; streaming_; ++i) {
            const std::vector<std::uint8_t> report = next(i);
            if (!report.empty()) {
                send(report);
                offered_.fetch_add(1);
            }
            due += period;
            std::this_thread::sleep_until(due);
        }
    });
}

void SimulatedHidDevice::stopStreaming() {
    streaming_ = false;
    if (streamer_.joinable())
        streamer_.join();
}

void SimulatedHidDevice::failReads(int error) {
    readError_ = error;
    if (error)
        send({0});
}

void SimulatedHidDevice::hangUp() {
    std::lock_guard lock(mutex_);
    peers_.clear();
}

std::vector<std::vector<std::uint8_t>> SimulatedHidDevice::features() const {
    std::lock_guard lock(mutex_);
    return features_;
}

int SimulatedHidDevice::openNodes() {
    std::lock_guard lock(mutex_);
    // A peer whose other end was closed polls as hung up.
    int open = 0;
    for (const UniqueFd& peer : peers_) {
        pollfd p{peer.get(), 0, 0};
        if (::poll(&p, 1, 0) == 0)
            ++open;
    }
    return open;
}

SimulatedHidPlatform::SimulatedHidPlatform() : changes_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SimulatedHidPlatform::~SimulatedHidPlatform() = default;

void SimulatedHidPlatform::signalChange() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(changes_.get(), &one, sizeof one);
}

void SimulatedHidPlatform::plug(const std::shared_ptr<SimulatedHidDevice>& device) {
    {
        std::lock_guard lock(mutex_);
        device->instance = nextInstance_++;
        device->path = QStringLiteral("/dev/hidraw-sim%1").arg(device->instance);
        present_.push_back(device);
    }
    signalChange();
}

void SimulatedHidPlatform::unplug(const std::shared_ptr<SimulatedHidDevice>& device) {
    {
        std::lock_guard lock(mutex_);
        std::erase(present_, device);
    }
    device->hangUp();
    signalChange();
}

bool SimulatedHidPlatform::bind() {
    bound_ = canBind;
    return bound_;
}

std::vector<THidPnPInfo> SimulatedHidPlatform::listInterfaces() {
    ++lists_;
    std::lock_guard lock(mutex_);
    std::vector<THidPnPInfo> list;
    for (const auto& d : present_)
        list.push_back({d->instance, d->path, d->path, d->portPath});
    return list;
}

std::shared_ptr<SimulatedHidDevice> SimulatedHidPlatform::find(const THidPnPInfo& info) const {
    for (const auto& d : present_)
        if (d->instance == info.DeviceInstance)
            return d;
    return nullptr;
}

HidPlatform::Description SimulatedHidPlatform::attributes(const THidPnPInfo& info, HIDD_ATTRIBUTES& out) {
    ++describes_;
    std::lock_guard lock(mutex_);
    const auto d = find(info);
    if (!d)
        return Description::CannotOpen;
    if (d->script.description == Description::Ok)
        out = d->script.attributes;
    return d->script.description;
}

QString SimulatedHidPlatform::productString(const THidPnPInfo& info) {
    std::lock_guard lock(mutex_);
    const auto d = find(info);
    return d ? d->script.product : QString();
}

QString SimulatedHidPlatform::serialString(const THidPnPInfo& info) {
    std::lock_guard lock(mutex_);
    const auto d = find(info);
    return d ? d->script.serial : QString();
}

std::vector<std::uint8_t> SimulatedHidPlatform::reportDescriptor(const THidPnPInfo& info) {
    std::lock_guard lock(mutex_);
    const auto d = find(info);
    return d ? d->script.descriptor : std::vector<std::uint8_t>{};
}

bool SimulatedHidPlatform::mayReadWrite(const THidPnPInfo& info) {
    std::lock_guard lock(mutex_);
    const auto d = find(info);
    return d && d->script.readWrite;
}

std::unique_ptr<HidNode> SimulatedHidPlatform::open(const THidPnPInfo& info, Access, int& error) {
    std::lock_guard lock(mutex_);
    const auto d = find(info);
    if (!d) {
        error = ENOENT;
        return nullptr;
    }
    d->opens_.fetch_add(1);
    if (const int e = d->openError_.load()) {
        error = e;
        return nullptr;
    }
    // A node the user may not use opens in no mode at all.
    if (!d->script.readWrite) {
        error = EACCES;
        return nullptr;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
        error = errno;
        return nullptr;
    }
    {
        std::lock_guard deviceLock(d->mutex_);
        d->peers_.emplace_back(fds[1]);
    }
    return std::make_unique<SimulatedNode>(d, UniqueFd(fds[0]));
}

int SimulatedHidPlatform::startWatching() {
    watching_ = bound_;
    return watching_ ? changes_.get() : -1;
}

int SimulatedHidPlatform::takeChanges() {
    std::uint64_t count = 0;
    if (::read(changes_.get(), &count, sizeof count) != sizeof count)
        return 0;
    return watching_ ? static_cast<int>(count) : 0;
}

} // namespace voltaro::testing
