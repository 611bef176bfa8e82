#pragma once

#include "core/link/hid/HidEvent.h"
#include "core/link/hid/HidPlatform.h"
#include "core/link/hid/THidDevice.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace voltaro {

class THidDeviceController;

using THidEnumerateEvent = HidEvent<bool(THidDevice* HidDev, std::int32_t Idx)>;
using TNotifyEvent = HidEvent<void(QObject* Sender)>;

// Finds the HID device interfaces, keeps one THidDevice for each, notices
// devices that come and go, offers them to its owner (`Enumerate`) and lends
// them out (`CheckOutByIndex`). One per process.
//
// Without the system's HID services (no libudev, or one lacking an entry
// point) it works with no devices and never watches; nothing is reported.
// Everything runs on the user-interface thread.
class THidDeviceController : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultDevThreadSleepTime = 100;

    // Raises EControllerError "Only one THidDeviceController allowed per
    // program" when another controller exists. Without a platform it uses
    // the system's.
    explicit THidDeviceController(QObject* parent = nullptr, std::shared_ptr<HidPlatform> platform = nullptr);
    ~THidDeviceController() override;

    // Lists the present interfaces again and reconciles the device list:
    // removals (last to first), then arrivals, then at most one OnDeviceChange.
    void DeviceChange();
    // Offers the plugged-in devices to OnEnumerate in list order; the number offered.
    std::int32_t Enumerate();
    // Lends the device at `Idx`: `HidDev` receives it (whatever it held is
    // destroyed first), and destroying it later hands it back. False, with
    // `HidDev` empty, for a bad index or a device already lent.
    bool CheckOutByIndex(std::unique_ptr<THidDevice>& HidDev, std::int32_t Idx);

    // Whether the system's HID services were bound, and whether device changes are watched.
    bool HidServicesBound() const { return bound_; }
    bool watching() const { return notifier_ != nullptr; }
    // The device list, slots of lent devices included.
    int DeviceCount() const { return static_cast<int>(devices_.size()); }
    THidDevice* DeviceAt(int index) const;

    int DevThreadSleepTime() const { return sleepTime_; }
    void setDevThreadSleepTime(int ms);

    const THidPlugEvent& OnArrival() const { return onArrival_; }
    void setOnArrival(const THidPlugEvent& h) { onArrival_ = h; }
    const THidEnumerateEvent& OnEnumerate() const { return onEnumerate_; }
    void setOnEnumerate(const THidEnumerateEvent& h) { onEnumerate_ = h; }
    const TNotifyEvent& OnDeviceChange() const { return onDeviceChange_; }
    // A new handler runs DeviceChange at once, so the owner always gets a first notification.
    void setOnDeviceChange(const TNotifyEvent& h);
    const THidDataEvent& OnDeviceData() const { return onDeviceData_; }
    void setOnDeviceData(const THidDataEvent& h);
    const THidDataErrorEvent& OnDeviceDataError() const { return onDeviceDataError_; }
    void setOnDeviceDataError(const THidDataErrorEvent& h);
    const THidPlugEvent& OnDeviceUnplug() const { return onDeviceUnplug_; }
    void setOnDeviceUnplug(const THidPlugEvent& h);
    const THidPlugEvent& OnRemoval() const { return onRemoval_; }
    void setOnRemoval(const THidPlugEvent& h) { onRemoval_ = h; }

private:
    friend class THidDevice;

    struct Slot {
        THidDevice* device;
        std::unique_ptr<THidDevice> owned; // empty while the device is lent out
    };

    std::vector<std::unique_ptr<THidDevice>> listPresent();
    std::unique_ptr<THidDevice> makeDevice(const THidPnPInfo& info, const THidDataEvent& onData,
                                           const THidPlugEvent& onUnplug, int sleepTime);
    int slotOf(const THidDevice* device) const;
    void deviceEventsReady();
    // The release step, run by a device's destruction while it is ours.
    void releaseDevice(THidDevice* device, const THidDataEvent& onData, const THidPlugEvent& onUnplug,
                       int sleepTime);

    std::shared_ptr<HidPlatform> platform_;
    bool bound_ = false;
    std::vector<Slot> devices_;
    bool notified_ = false;
    int sleepTime_ = kDefaultDevThreadSleepTime;
    std::unique_ptr<QSocketNotifier> notifier_;

    THidPlugEvent onArrival_;
    THidEnumerateEvent onEnumerate_;
    TNotifyEvent onDeviceChange_;
    THidDataEvent onDeviceData_;
    THidDataErrorEvent onDeviceDataError_;
    THidPlugEvent onDeviceUnplug_;
    THidPlugEvent onRemoval_;
};

} // namespace voltaro
