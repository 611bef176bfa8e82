#include "core/link/hid/THidDeviceController.h"

#include "core/link/hid/EControllerError.h"
#include "core/link/hid/LinuxHidPlatform.h"

#include <QPointer>
#include <QSocketNotifier>

#include <atomic>

namespace voltaro {

namespace {

std::atomic<int> liveControllers{0};

// Marks a device as being offered to the owner for the length of one call,
// so its queries may reach the system.
class Offering {
public:
    explicit Offering(THidDevice* device, std::atomic<bool>& flag) : device_(device), flag_(flag) {
        flag_ = true;
    }
    ~Offering() {
        // The handler may have destroyed a device it had checked out.
        if (device_)
            flag_ = false;
    }
    Offering(const Offering&) = delete;
    Offering& operator=(const Offering&) = delete;

private:
    QPointer<THidDevice> device_;
    std::atomic<bool>& flag_;
};

} // namespace

THidDeviceController::THidDeviceController(QObject* parent, std::shared_ptr<HidPlatform> platform)
    : QObject(parent), platform_(platform ? std::move(platform) : std::make_shared<LinuxHidPlatform>()) {
    if (liveControllers.fetch_add(1) != 0) {
        liveControllers.fetch_sub(1);
        throw EControllerError("Only one THidDeviceController allowed per program");
    }
    bound_ = platform_->bind();
    for (auto& device : listPresent())
        devices_.push_back({device.get(), std::move(device)});
    if (bound_) {
        const int fd = platform_->startWatching();
        if (fd >= 0) {
            notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            connect(notifier_.get(), &QSocketNotifier::activated, this,
                    &THidDeviceController::deviceEventsReady);
        }
    }
}

THidDeviceController::~THidDeviceController() {
    liveControllers.fetch_sub(1);
    onDeviceChange_ = {};
    onDeviceUnplug_ = {};
    onEnumerate_ = {};
    notifier_.reset();
    platform_->stopWatching();
    // Detach every device first, so none hands itself back to a controller
    // that is going away.
    std::vector<Slot> devices = std::move(devices_);
    devices_.clear();
    for (Slot& slot : devices) {
        slot.device->owner_ = nullptr;
        if (!slot.owned)
            slot.device->Unplug(); // stays with its borrower
    }
    devices.clear();
    platform_->unbind();
}

THidDevice* THidDeviceController::DeviceAt(int index) const {
    return index >= 0 && index < DeviceCount() ? devices_[index].device : nullptr;
}

int THidDeviceController::slotOf(const THidDevice* device) const {
    for (std::size_t i = 0; i < devices_.size(); ++i)
        if (devices_[i].device == device)
            return static_cast<int>(i);
    return -1;
}

std::unique_ptr<THidDevice> THidDeviceController::makeDevice(const THidPnPInfo& info,
                                                             const THidDataEvent& onData,
                                                             const THidPlugEvent& onUnplug, int sleepTime) {
    auto device = std::make_unique<THidDevice>(platform_, info, this, onData, onUnplug);
    // New devices also get the data-error handler, so the borrower of a
    // re-created cable hears of its read errors.
    device->setOnDataError(onDeviceDataError_);
    device->setThreadSleepTime(sleepTime);
    return device;
}

std::vector<std::unique_ptr<THidDevice>> THidDeviceController::listPresent() {
    std::vector<std::unique_ptr<THidDevice>> fresh;
    if (!bound_)
        return fresh;
    for (const THidPnPInfo& info : platform_->listInterfaces()) {
        try {
            fresh.push_back(makeDevice(info, onDeviceData_, onDeviceUnplug_, sleepTime_));
        } catch (const EControllerError&) {
            // Not describable now; tried again at the next change.
        }
    }
    return fresh;
}

void THidDeviceController::deviceEventsReady() {
    const int events = platform_->takeChanges();
    for (int i = 0; i < events; ++i)
        DeviceChange();
}

void THidDeviceController::DeviceChange() {
    bool changed = false;
    std::vector<std::unique_ptr<THidDevice>> fresh = listPresent();
    auto inFresh = [&fresh](std::uint32_t instance) {
        for (const auto& f : fresh)
            if (f && f->PnPInfo().DeviceInstance == instance)
                return true;
        return false;
    };

    // Handlers run in between, and a borrower may destroy its device in one:
    // walk a snapshot and find each device's slot again by pointer.
    std::vector<QPointer<THidDevice>> listed;
    for (const Slot& slot : devices_)
        listed.emplace_back(slot.device);
    for (auto it = listed.rbegin(); it != listed.rend(); ++it) {
        QPointer<THidDevice> device = *it;
        if (!device || slotOf(device) < 0)
            continue;
        if (device->IsPluggedIn() && inFresh(device->PnPInfo().DeviceInstance))
            continue;
        device->Unplug();
        if (device) {
            Offering offering(device, device->enumerated_);
            onRemoval_(device);
        }
        if (device && !device->IsCheckedOut()) {
            const int index = slotOf(device);
            if (index >= 0) {
                device->owner_ = nullptr;
                devices_.erase(devices_.begin() + index);
            }
        }
        changed = true;
    }

    for (auto& f : fresh) {
        for (const Slot& slot : devices_) {
            if (slot.device->IsPluggedIn() &&
                slot.device->PnPInfo().DeviceInstance == f->PnPInfo().DeviceInstance) {
                f->owner_ = nullptr;
                f.reset();
                break;
            }
        }
    }

    for (auto& f : fresh) {
        if (!f)
            continue;
        THidDevice* device = f.get();
        devices_.push_back({device, std::move(f)});
        changed = true;
        Offering offering(device, device->enumerated_);
        onArrival_(device);
    }

    if (changed || !notified_)
        onDeviceChange_(this);
}

void THidDeviceController::setOnDeviceChange(const TNotifyEvent& h) {
    if (h == onDeviceChange_)
        return;
    onDeviceChange_ = h;
    DeviceChange();
    notified_ = true;
}

std::int32_t THidDeviceController::Enumerate() {
    std::int32_t count = 0;
    for (std::size_t idx = 0; idx < devices_.size(); ++idx) {
        QPointer<THidDevice> device = devices_[idx].device;
        if (!device->IsPluggedIn())
            continue;
        ++count;
        bool goOn = false;
        if (onEnumerate_) {
            {
                Offering offering(device, device->enumerated_);
                goOn = onEnumerate_(device, static_cast<std::int32_t>(idx));
            }
            if (device && !device->IsCheckedOut())
                device->CloseHandles();
        }
        if (!goOn)
            break;
    }
    return count;
}

bool THidDeviceController::CheckOutByIndex(std::unique_ptr<THidDevice>& HidDev, std::int32_t Idx) {
    HidDev.reset();
    if (Idx < 0 || Idx >= DeviceCount() || !devices_[Idx].owned)
        return false;
    Slot& slot = devices_[Idx];
    slot.device->checkedOut_ = true;
    HidDev = std::move(slot.owned);
    HidDev->startReadingIfReady();
    return true;
}

void THidDeviceController::releaseDevice(THidDevice* device, const THidDataEvent& onData,
                                         const THidPlugEvent& onUnplug, int sleepTime) {
    const int index = slotOf(device);
    if (index < 0)
        return;
    if (device->IsPluggedIn()) {
        try {
            auto fresh = makeDevice(device->PnPInfo(), onData, onUnplug, sleepTime);
            devices_[index] = {fresh.get(), std::move(fresh)};
            return;
        } catch (const EControllerError&) {
            // Cannot be described again just now: the slot goes, so the list
            // holds no device that is not there; the next change lists it again.
        }
    }
    devices_.erase(devices_.begin() + index);
}

void THidDeviceController::setOnDeviceData(const THidDataEvent& h) {
    if (h == onDeviceData_)
        return;
    for (const Slot& slot : devices_)
        if (slot.device->OnData() == onDeviceData_)
            slot.device->setOnData(h);
    onDeviceData_ = h;
}

void THidDeviceController::setOnDeviceDataError(const THidDataErrorEvent& h) {
    if (h == onDeviceDataError_)
        return;
    for (const Slot& slot : devices_)
        if (slot.device->OnDataError() == onDeviceDataError_)
            slot.device->setOnDataError(h);
    onDeviceDataError_ = h;
}

void THidDeviceController::setOnDeviceUnplug(const THidPlugEvent& h) {
    if (h == onDeviceUnplug_)
        return;
    for (const Slot& slot : devices_)
        if (slot.device->OnUnplug() == onDeviceUnplug_)
            slot.device->setOnUnplug(h);
    onDeviceUnplug_ = h;
}

void THidDeviceController::setDevThreadSleepTime(int ms) {
    if (ms == sleepTime_)
        return;
    for (const Slot& slot : devices_)
        if (slot.device->ThreadSleepTime() == sleepTime_)
            slot.device->setThreadSleepTime(ms);
    sleepTime_ = ms;
}

} // namespace voltaro
