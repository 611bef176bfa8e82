#pragma once

#include "core/link/hid/THidDevice.h"
#include "core/link/hid/THidDeviceController.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QListWidget;
class QPushButton;
class QTimer;
class QWidget;

namespace voltaro {

class HidPlatform;
class TraceLog;

// The USB side of the link bar: the HID devices listed with the cable
// preselected, the cable's configuration, its reading, the cable check, and
// the diagnostic history. A running cable that goes away is waited for and
// taken up again when the same cable comes back.
class UsbCableLink : public QObject {
    Q_OBJECT
public:
    using ReportHandler =
        std::function<void(std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size)>;

    // `idleReports` is the frame assembler's count of reports without data;
    // `history` the trace the assembler also writes its report lines into.
    UsbCableLink(QWidget* parent, QWidget* outside, std::shared_ptr<HidPlatform> platform,
                 std::int32_t& idleReports, TraceLog& history);
    ~UsbCableLink() override;

    // What a running cable's reports go to (the USB frame assembler), or
    // none when the configured meter reads no USB reports.
    void setReportHandler(ReportHandler handler);

    // Starting and stopping the cable link, as "USB Connect" does. A start
    // that fails leaves nothing running and a message for reportPending().
    bool start();
    void stop();
    // Tells the user what the last start left to say.
    void reportPending(QWidget* parent);

    // Every decoded frame: the cable check counts afresh.
    void frameArrived() { LinkIdleCount = 0; }
    int linkIdleCount() const { return LinkIdleCount; }
    void setLinkIdleCount(int n) { LinkIdleCount = n; }

    THidDeviceController& controller() { return *HidCtl; }
    THidDevice* activeDevice() const { return ActiveHidDevice; }
    // Whether the link is following a cable (running, or waiting for it), and waiting.
    bool following() const { return following_; }
    bool waiting() const { return waiting_; }

public slots:
    void ReadBtnClick();
    bool SetFeatureClick();
    void ClearBtnClick();
    void ConTimerTimer();

signals:
    // The followed cable went away, or came back and reads again.
    void cableLost();
    void cableBack();
    // The cable sent only empty reports: its reading was stopped.
    void cableCheckFired();
    // Sent before the first report of another device, node or configuration
    // than the last report's: a frame in progress ends unfinished.
    void newStream();

private:
    bool HidCtlEnumerate(THidDevice* HidDev, std::int32_t Idx);
    void HidCtlDeviceChange(QObject* Sender);
    void HidCtlArrival(THidDevice* HidDev);
    void HidCtlRemoval(THidDevice* HidDev);
    void HidCtlDeviceDataError(THidDevice* HidDev, std::uint32_t Error);

    THidDevice* selectedDevice() const;
    // Finds the followed cable in the fresh list and reads from it again
    // (`stayed`, the cable's device kept through the change, reads on as it
    // is); false when it is not there.
    bool takeUpCable(THidDevice* stayed);
    void attachReading(THidDevice* device);
    void addHistory(const QString& line);
    void showHistory();
    void tellLater(std::function<void(QWidget*)> message);

    QWidget* window_;
    std::int32_t& UsbIdleReports;
    TraceLog& history_;
    std::uint64_t historyShown_ = 0;
    ReportHandler handler_;
    // Readings taken up so far, and the one whose report was delivered last.
    std::uint64_t streams_ = 0;
    std::uint64_t deliveredStream_ = 0;
    std::function<void(QWidget*)> pending_;

    // The cable the link follows, known by its product and serial strings;
    // its instance tells a cable that stayed from one plugged in again.
    bool following_ = false;
    bool waiting_ = false;
    QString cableProduct_;
    QString cableSerial_;
    std::uint32_t cableInstance_ = 0;

    // The cable check's count of timer ticks without a decoded frame.
    int LinkIdleCount = 0;
    THidDevice* ActiveHidDevice = nullptr;

    // Declared before the devices: they go back to it when destroyed.
    std::unique_ptr<THidDeviceController> HidCtl;
    // The checked-out device of each item of DevListBox, in list order.
    std::vector<std::unique_ptr<THidDevice>> devices_;
    // The running cable, held while the list is rebuilt around it.
    std::unique_ptr<THidDevice> stayingCable_;

    QListWidget* DevListBox;
    QListWidget* HistoryListBox;
    QPushButton* ReadBtn;
    QPushButton* SetFeature;
    QPushButton* ClearBtn;
    QTimer* ConTimer;
};

} // namespace voltaro
