#include "core/link/hid/THidDevice.h"

#include "core/link/hid/EControllerError.h"
#include "core/link/hid/ReportDescriptor.h"
#include "core/link/hid/THidDeviceController.h"
#include "core/link/hid/THidDeviceReadThread.h"

#include <QMetaObject>
#include <QtGlobal>

#include <cerrno>
#include <utility>

namespace voltaro {

namespace {

// Read length for a device whose descriptor names no input report: the
// largest report hidraw hands over, so nothing it delivers is cut short.
constexpr std::size_t kLargestReport = 16384 + 1;

} // namespace

THidDevice::THidDevice(std::shared_ptr<HidPlatform> platform, const THidPnPInfo& info,
                       THidDeviceController* owner, const THidDataEvent& onData,
                       const THidPlugEvent& onUnplug)
    : platform_(std::move(platform)), info_(info), owner_(owner), onUnplug_(onUnplug) {
    setOnData(onData);
    switch (platform_->attributes(info_, attributes_)) {
    case HidPlatform::Description::Ok: break;
    case HidPlatform::Description::CannotOpen: throw EControllerError("device cannot be opened");
    case HidPlatform::Description::CannotIdentify: throw EControllerError("device cannot be identified");
    }
    // A node the user may not open is still listed and described, for queries only.
    readWrite_ = platform_->mayReadWrite(info_);
}

THidDevice::~THidDevice() {
    if (thread_ && thread_->delivering())
        qFatal("THidDevice destroyed from inside its own data handler");
    destroying_ = true;
    const THidDataEvent onData = onData_;
    const THidPlugEvent onUnplug = onUnplug_;
    setOnData({});
    finishDeferredStop();
    onUnplug_ = {};
    CloseHandles();
    if (owner_)
        owner_->releaseDevice(this, onData, onUnplug, ThreadSleepTime());
}

void THidDevice::setThreadSleepTime(int ms) {
    if (ms >= 10 && ms <= 10000)
        sleepTime_ = ms;
}

bool THidDevice::openControl() {
    std::lock_guard lock(nodeMutex_);
    if (controlNode_)
        return true;
    if (!accessible())
        return false;
    int error = 0;
    controlNode_ = platform_->open(info_, HidPlatform::Access::ReadWrite, error);
    // The latest opening tells whether reading and writing are allowed now.
    readWrite_ = controlNode_ != nullptr;
    return controlNode_ != nullptr;
}

void THidDevice::CloseHandles() {
    {
        std::lock_guard lock(nodeMutex_);
        controlNode_.reset();
        readNode_.reset();
    }
    // A thread waiting on the read node lets go of it now; the node closes
    // once the thread has dropped its reference.
    if (thread_)
        thread_->wake();
}

HIDP_CAPS THidDevice::Caps() {
    if (!caps_ && accessible()) {
        const std::vector<std::uint8_t> descriptor = platform_->reportDescriptor(info_);
        if (!descriptor.empty()) {
            if (const auto parsed = parseReportDescriptor(descriptor.data(), descriptor.size())) {
                caps_ = parsed->caps;
                numbersReports_ = parsed->numbersReports;
            }
        }
    }
    return caps_.value_or(HIDP_CAPS{});
}

QString THidDevice::ProductName() {
    if (productName_.isEmpty() && accessible())
        productName_ = platform_->productString(info_).left(254);
    return productName_;
}

QString THidDevice::SerialNumber() {
    if (serialNumber_.isEmpty() && accessible())
        serialNumber_ = platform_->serialString(info_).left(254);
    return serialNumber_;
}

bool THidDevice::SetFeature(const void* report, std::uint16_t length) {
    if (!report || length == 0 || !openControl())
        return false;
    std::shared_ptr<HidNode> node;
    {
        std::lock_guard lock(nodeMutex_);
        node = controlNode_;
    }
    int error = 0;
    return node && node->setFeature(static_cast<const std::uint8_t*>(report), length, error);
}

void THidDevice::setOnData(const THidDataEvent& handler) {
    if (!handler)
        stopReading();
    onData_ = handler;
    startReadingIfReady();
}

void THidDevice::startReadingIfReady() {
    if (!onData_ || !IsPluggedIn() || !IsCheckedOut() || !HasReadWriteAccess() || destroying_)
        return;
    // A thread told to end from inside its own handler is ended first.
    finishDeferredStop();
    if (thread_)
        return;
    const HIDP_CAPS caps = Caps();
    const std::size_t length = caps.InputReportByteLength > 0 ? caps.InputReportByteLength : kLargestReport;
    thread_ = std::make_unique<THidDeviceReadThread>(*this, length, numbersReports_);
    thread_->start();
}

void THidDevice::stopReading() {
    if (!thread_)
        return;
    if (thread_->delivering()) {
        // Called from inside this thread's own handler: waiting here would
        // wait for ever, so the thread ends once the handler has returned.
        thread_->requestStop();
        QMetaObject::invokeMethod(
            this, [this] { finishDeferredStop(); }, Qt::QueuedConnection);
        return;
    }
    thread_->stop();
    thread_.reset();
    dropGoneNode();
}

void THidDevice::finishDeferredStop() {
    if (thread_ && thread_->stopRequested() && !thread_->delivering()) {
        thread_->stop();
        thread_.reset();
        dropGoneNode();
    }
}

void THidDevice::dropGoneNode() {
    // A thread that ended before it came to read the node of a device that
    // went away leaves it open; nobody reads it any more.
    std::lock_guard lock(nodeMutex_);
    if (!IsPluggedIn())
        readNode_.reset();
}

std::shared_ptr<HidNode> THidDevice::takeGoneNode() {
    std::lock_guard lock(nodeMutex_);
    if (IsPluggedIn())
        return nullptr;
    return std::exchange(readNode_, nullptr);
}

std::shared_ptr<HidNode> THidDevice::readNode(int& error) {
    std::lock_guard lock(nodeMutex_);
    if (!accessible()) {
        error = ENODEV;
        return nullptr;
    }
    if (!readNode_)
        readNode_ = platform_->open(info_, HidPlatform::Access::ReadOnly, error);
    return readNode_;
}

void THidDevice::deliverData(const std::uint8_t* report, std::uint32_t bytes) {
    onData_(this, report[0], report + 1, static_cast<std::uint16_t>(bytes - 1));
}

void THidDevice::deliverError(std::uint32_t error) {
    onDataError_(this, error);
}

void THidDevice::Unplug() {
    // No longer plugged in first: a read thread that looks for its node
    // between the two would otherwise open a fresh one nobody closes.
    pluggedIn_ = false;
    {
        std::lock_guard lock(nodeMutex_);
        controlNode_.reset();
        // The reports the device sent before it went away are still queued
        // on the read node (hidraw hands them over before it fails): a read
        // thread takes the node over, reads them and closes it.
        if (!thread_)
            readNode_.reset();
    }
    if (thread_)
        thread_->wake();
    const THidPlugEvent handler = std::exchange(onUnplug_, THidPlugEvent{});
    handler(this);
}

} // namespace voltaro
