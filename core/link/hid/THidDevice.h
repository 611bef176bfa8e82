#pragma once

#include "core/link/hid/HidEvent.h"
#include "core/link/hid/HidPlatform.h"
#include "core/link/hid/HidTypes.h"
#include "core/link/hid/THidPnPInfo.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace voltaro {

class THidDevice;
class THidDeviceController;
class THidDeviceReadThread;

// `Data` points at the report's bytes after the report ID and is valid only during the call.
using THidDataEvent =
    HidEvent<void(THidDevice* HidDev, std::uint8_t ReportID, const void* Data, std::uint16_t Size)>;
using THidDataErrorEvent = HidEvent<void(THidDevice* HidDev, std::uint32_t Error)>;
using THidPlugEvent = HidEvent<void(THidDevice* HidDev)>;

// One HID device interface the controller found. A device that is not
// checked out belongs to the controller; a checked-out one belongs to its
// borrower, and destroying it hands it back (the controller puts a fresh
// device in its place).
//
// Queries answer from sysfs while the device is accessible (plugged in and
// checked out, or being offered by the controller) and from their caches
// otherwise. The node is opened only to read reports and to send feature
// reports.
//
// All calls are made on the user-interface thread, and every handler runs there.
class THidDevice : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultThreadSleepTime = 100;

    // Raises EControllerError "device cannot be opened" when the device is
    // gone, "device cannot be identified" when its ids cannot be read.
    THidDevice(std::shared_ptr<HidPlatform> platform, const THidPnPInfo& info, THidDeviceController* owner,
               const THidDataEvent& onData = {}, const THidPlugEvent& onUnplug = {});
    ~THidDevice() override;
    THidDevice(const THidDevice&) = delete;
    THidDevice& operator=(const THidDevice&) = delete;

    const THidPnPInfo& PnPInfo() const { return info_; }
    const HIDD_ATTRIBUTES& Attributes() const { return attributes_; }
    bool HasReadWriteAccess() const { return readWrite_; }
    bool IsPluggedIn() const { return pluggedIn_.load(); }
    bool IsCheckedOut() const { return checkedOut_.load(); }
    bool IsEnumerated() const { return enumerated_.load(); }
    THidDeviceController* owner() const { return owner_; }

    // All fields zero while the report descriptor cannot be read.
    HIDP_CAPS Caps();
    QString ProductName();
    QString SerialNumber();
    // Sends one feature report as it stands; byte 0 is the report ID.
    bool SetFeature(const void* report, std::uint16_t length);

    int ThreadSleepTime() const { return sleepTime_.load(); }
    // Takes 10 to 10000 ms; any other value is ignored.
    void setThreadSleepTime(int ms);

    const THidDataEvent& OnData() const { return onData_; }
    // Starts the read thread when a handler is set and the device is checked
    // out, plugged in and may be read; none stops it, returning once it ended.
    // A handler must not clear its own device's handler from inside the call
    // and expect the thread to be gone on return: the thread is then ended
    // as soon as the call returns.
    void setOnData(const THidDataEvent& handler);
    const THidDataErrorEvent& OnDataError() const { return onDataError_; }
    void setOnDataError(const THidDataErrorEvent& handler) { onDataError_ = handler; }
    const THidPlugEvent& OnUnplug() const { return onUnplug_; }
    void setOnUnplug(const THidPlugEvent& handler) { onUnplug_ = handler; }

    // The device is gone: handles closed, no longer plugged in, the unplug
    // handler called once. A running read thread first hands over the
    // reports still queued on its node and closes it, then goes on reporting
    // failed reads until its handler is cleared or the device destroyed.
    void Unplug();
    void CloseHandles();

    // The read thread, while one runs (tests and benchmarks look at its counters).
    const THidDeviceReadThread* readThread() const { return thread_.get(); }

private:
    friend class THidDeviceController;
    friend class THidDeviceReadThread;

    bool accessible() const { return IsPluggedIn() && (IsCheckedOut() || IsEnumerated()); }
    bool openControl();
    void startReadingIfReady();
    void stopReading();
    // Read thread: the node to wait on, opened if needed; null with `error`
    // set when the device is not accessible or will not open.
    std::shared_ptr<HidNode> readNode(int& error);
    // Read thread: the read node of a device that went away, handed over to
    // be read dry and closed; null while plugged in or once taken.
    std::shared_ptr<HidNode> takeGoneNode();
    // Closes the read node of a device that went away once no thread reads it.
    void dropGoneNode();
    // User-interface thread, called by the read thread's hand-over.
    void deliverData(const std::uint8_t* report, std::uint32_t bytes);
    void deliverError(std::uint32_t error);
    void finishDeferredStop();

    std::shared_ptr<HidPlatform> platform_;
    THidPnPInfo info_;
    THidDeviceController* owner_;
    HIDD_ATTRIBUTES attributes_;
    std::atomic<bool> readWrite_{false};
    std::atomic<bool> pluggedIn_{true};
    std::atomic<bool> checkedOut_{false};
    std::atomic<bool> enumerated_{false};
    std::atomic<int> sleepTime_{kDefaultThreadSleepTime};

    std::optional<HIDP_CAPS> caps_;
    bool numbersReports_ = false;
    QString productName_;
    QString serialNumber_;

    THidDataEvent onData_;
    THidDataErrorEvent onDataError_;
    THidPlugEvent onUnplug_;

    // Guards the two nodes: the read thread opens and uses the read node
    // while the user-interface thread may close both.
    std::mutex nodeMutex_;
    std::shared_ptr<HidNode> controlNode_;
    std::shared_ptr<HidNode> readNode_;

    std::unique_ptr<THidDeviceReadThread> thread_;
    bool destroying_ = false;
};

} // namespace voltaro
