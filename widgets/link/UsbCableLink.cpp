#include "widgets/link/UsbCableLink.h"

#include "core/decode/TraceLog.h"
#include "core/link/CableAccess.h"
#include "core/link/hid/EControllerError.h"
#include "core/link/hid/UsbCable.h"
#include "widgets/ui/Layout.h"

#include <QCoreApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstring>
#include <utility>

namespace voltaro {

using ui::place;

namespace {

const QString kNotConnected =
    QStringLiteral("USB interface cable is not securely connected, please check and re-try.");

} // namespace

UsbCableLink::UsbCableLink(QWidget* parent, QWidget* outside, std::shared_ptr<HidPlatform> platform,
                           std::int32_t& idleReports, TraceLog& history)
    : QObject(parent), window_(parent), UsbIdleReports(idleReports), history_(history) {
    setObjectName(QStringLiteral("UsbCableLink"));
    DevListBox = place(new QListWidget(outside), "DevListBox", 730, 230, 360, 60);
    HistoryListBox = place(new QListWidget(outside), "HistoryListBox", 730, 295, 360, 60);
    ReadBtn = place(new QPushButton(QStringLiteral("Read"), outside), "ReadBtn", 730, 360, 75, 25);
    ReadBtn->setCheckable(true);
    SetFeature =
        place(new QPushButton(QStringLiteral("SetFeature"), outside), "SetFeature", 810, 360, 75, 25);
    ClearBtn = place(new QPushButton(QStringLiteral("Clear"), outside), "ClearBtn", 890, 360, 75, 25);
    connect(ReadBtn, &QPushButton::clicked, this, &UsbCableLink::ReadBtnClick);
    connect(SetFeature, &QPushButton::clicked, this, &UsbCableLink::SetFeatureClick);
    connect(ClearBtn, &QPushButton::clicked, this, &UsbCableLink::ClearBtnClick);

    ConTimer = new QTimer(this);
    ConTimer->setObjectName(QStringLiteral("ConTimer"));
    ConTimer->setInterval(300);
    connect(ConTimer, &QTimer::timeout, this, &UsbCableLink::ConTimerTimer);
    ConTimer->start();

    HidCtl = std::make_unique<THidDeviceController>(nullptr, std::move(platform));
    HidCtl->setObjectName(QStringLiteral("HidCtl"));
    HidCtl->setOnEnumerate([this](THidDevice* d, std::int32_t i) { return HidCtlEnumerate(d, i); });
    HidCtl->setOnArrival([this](THidDevice* d) { HidCtlArrival(d); });
    HidCtl->setOnRemoval([this](THidDevice* d) { HidCtlRemoval(d); });
    HidCtl->setOnDeviceDataError([this](THidDevice* d, std::uint32_t e) { HidCtlDeviceDataError(d, e); });
    // Assigned last: it lists the devices at once, so the list is there before start-up goes on.
    HidCtl->setOnDeviceChange([this](QObject* sender) { HidCtlDeviceChange(sender); });
}

UsbCableLink::~UsbCableLink() {
    ActiveHidDevice = nullptr;
    devices_.clear(); // handed back while the controller still lives
}

void UsbCableLink::setReportHandler(ReportHandler handler) {
    // The devices keep calling through this link; an empty handler drops
    // what they still deliver, as a window being taken down needs.
    handler_ = std::move(handler);
}

THidDevice* UsbCableLink::selectedDevice() const {
    const int row = DevListBox->currentRow();
    if (row < 0 || row >= static_cast<int>(devices_.size()) || !DevListBox->currentItem()->isSelected())
        return nullptr;
    return devices_[static_cast<std::size_t>(row)].get();
}

// --- Starting and stopping ----------------------------------------------------

bool UsbCableLink::start() {
    ReadBtnClick();
    if (!SetFeatureClick())
        return false;
    UsbIdleReports = 0;
    ActiveHidDevice = selectedDevice();
    if (!ActiveHidDevice->HasReadWriteAccess()) {
        // Listed and described, but its node is closed to this user: say
        // which node and how to open it, rather than doing nothing.
        QString advice = cablePermissionAdvice(ActiveHidDevice->PnPInfo().DevicePath,
                                               QCoreApplication::applicationDirPath());
        advice[0] = advice[0].toUpper();
        tellLater([advice](QWidget* parent) {
            QMessageBox::warning(parent, QStringLiteral("USB cable"), advice + QLatin1Char('.'),
                                 QMessageBox::Ok);
        });
        return false;
    }
    attachReading(ActiveHidDevice);
    following_ = true;
    waiting_ = false;
    cableProduct_ = ActiveHidDevice->ProductName();
    cableSerial_ = ActiveHidDevice->SerialNumber();
    cableInstance_ = ActiveHidDevice->PnPInfo().DeviceInstance;
    return true;
}

void UsbCableLink::stop() {
    const bool waiting = std::exchange(waiting_, false);
    following_ = false;
    ReadBtnClick();
    // Released while waiting for the cable: there is nothing to configure,
    // and the user was told already that it is gone.
    if (!waiting)
        SetFeatureClick();
    UsbIdleReports = 0;
    ActiveHidDevice = selectedDevice();
}

void UsbCableLink::attachReading(THidDevice* device) {
    // Setting the handler starts the device's read thread; with nothing to
    // take the reports, no thread reads them.
    if (!handler_) {
        device->setOnData({});
        return;
    }
    // Each reading taken up is a stream of its own: a fresh device, a node
    // opened afresh, a cable configured again. Its first report says so, so
    // a frame begun on another stream is not finished with its bytes.
    device->setOnData(
        [this, stream = ++streams_](THidDevice*, std::uint8_t id, const void* data, std::uint16_t size) {
            // Nothing reaches a window that is being taken down.
            if (!handler_)
                return;
            if (std::exchange(deliveredStream_, stream) != stream)
                emit newStream();
            handler_(id, static_cast<const std::uint8_t*>(data), size);
        });
}

void UsbCableLink::tellLater(std::function<void(QWidget*)> message) {
    pending_ = std::move(message);
}

void UsbCableLink::reportPending(QWidget* parent) {
    if (const auto tell = std::exchange(pending_, {}))
        tell(parent);
}

// --- The hidden buttons -------------------------------------------------------

void UsbCableLink::ReadBtnClick() {
    ActiveHidDevice = selectedDevice();
    if (!ActiveHidDevice)
        return;
    if (!ActiveHidDevice->HasReadWriteAccess()) {
        ReadBtn->setChecked(false);
        return;
    }
    // Down, the button would read another meter's reports, whose handler is
    // not part of this program; up, it stops the reading.
    ActiveHidDevice->setOnData({});
}

bool UsbCableLink::SetFeatureClick() {
    ActiveHidDevice = selectedDevice();
    if (!ActiveHidDevice) {
        tellLater([](QWidget* parent) {
            QMessageBox::information(parent, QString(), kNotConnected, QMessageBox::Ok);
        });
        return false;
    }
    const auto& report = usbcable::kConfigurationReport;
    ActiveHidDevice->SetFeature(report.data(), static_cast<std::uint16_t>(report.size()));
    // Bytes 1 to 10 of the report buffer, the last one beyond the report.
    QString line;
    for (std::size_t i = 1; i <= report.size(); ++i)
        line +=
            QStringLiteral("%1 ").arg(i < report.size() ? report[i] : 0, 2, 16, QLatin1Char('0')).toUpper();
    addHistory(line);
    return true;
}

void UsbCableLink::ClearBtnClick() {
    history_.clear();
    historyShown_ = history_.added();
    HistoryListBox->clear();
}

// --- The cable check ------------------------------------------------------------

void UsbCableLink::ConTimerTimer() {
    showHistory();
    if (LinkIdleCount != 2) {
        ++LinkIdleCount;
        return;
    }
    // The third tick without a decoded frame.
    if (UsbIdleReports >= 1900) {
        UsbIdleReports = 0;
        if (ActiveHidDevice)
            ActiveHidDevice->setOnData({});
        following_ = false;
        emit cableCheckFired();
        QMessageBox::information(
            window_->window(), QString(),
            QStringLiteral("USB interface cable is securely connected, please check if the meter is ready."),
            QMessageBox::Ok);
    }
    LinkIdleCount = 0;
}

// --- The device list ------------------------------------------------------------

bool UsbCableLink::HidCtlEnumerate(THidDevice* HidDev, std::int32_t Idx) {
    DevListBox->addItem(usbcable::DescribeDevice(*HidDev));
    std::unique_ptr<THidDevice> device;
    // The cable that stays is lent to this link already: it takes its place again.
    if (!HidCtl->CheckOutByIndex(device, Idx) && stayingCable_.get() == HidDev)
        device = std::move(stayingCable_);
    devices_.push_back(std::move(device));
    return true;
}

void UsbCableLink::HidCtlDeviceChange(QObject*) {
    ReadBtn->setChecked(false);
    // A change that is not the cable's leaves the running cable as it is:
    // its device, its node and its read thread, so no report is lost or
    // reordered. Every other device is handed back and lent out afresh.
    if (following_ && !waiting_ && ActiveHidDevice && ActiveHidDevice->IsPluggedIn()) {
        for (auto& d : devices_)
            if (d.get() == ActiveHidDevice)
                stayingCable_ = std::move(d);
    }
    THidDevice* stayed = stayingCable_.get();
    if (!stayed)
        ReadBtnClick();
    // Destroying a device hands it back to the controller.
    ActiveHidDevice = nullptr;
    devices_.clear();
    DevListBox->clear();
    HidCtl->Enumerate();
    if (stayingCable_) {
        // Not offered again, so gone after all: it goes back like the others.
        stayingCable_.reset();
        stayed = nullptr;
    }
    QStringList items;
    for (int i = 0; i < DevListBox->count(); ++i)
        items << DevListBox->item(i)->text();
    if (const int cable = usbcable::preselect(items); cable >= 0)
        DevListBox->setCurrentRow(cable);
    if (!following_)
        return;
    // Any device coming or going rebuilds the list; the link goes on with
    // its cable's fresh device, or waits for the cable to come back.
    if (takeUpCable(stayed)) {
        if (std::exchange(waiting_, false))
            emit cableBack();
        return;
    }
    if (!waiting_) {
        waiting_ = true;
        tellLater([](QWidget* parent) {
            QMessageBox::information(parent, QString(), kNotConnected, QMessageBox::Ok);
        });
        emit cableLost();
    }
}

bool UsbCableLink::takeUpCable(THidDevice* stayed) {
    // The cable that stayed plugged in, else the last one like it, as the list preselects.
    int found = -1;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        THidDevice& d = *devices_[i];
        if (!d.HasReadWriteAccess() || d.ProductName() != cableProduct_ || d.SerialNumber() != cableSerial_)
            continue;
        const bool stayed = !waiting_ && d.PnPInfo().DeviceInstance == cableInstance_;
        if (stayed) {
            found = static_cast<int>(i);
            break;
        }
        found = static_cast<int>(i);
    }
    if (found < 0)
        return false;
    DevListBox->setCurrentRow(found);
    THidDevice* cable = devices_[static_cast<std::size_t>(found)].get();
    if (cable == stayed) {
        ActiveHidDevice = cable; // reading on as it was
        return true;
    }
    if (waiting_ || cable->PnPInfo().DeviceInstance != cableInstance_) {
        // Plugged in again: it has forgotten its configuration.
        SetFeatureClick();
        UsbIdleReports = 0;
    }
    ActiveHidDevice = cable;
    cableInstance_ = cable->PnPInfo().DeviceInstance;
    attachReading(cable);
    return true;
}

// --- The history ----------------------------------------------------------------

void UsbCableLink::HidCtlArrival(THidDevice* HidDev) {
    addHistory(QStringLiteral("Arrival of ") + usbcable::DescribeDevice(*HidDev));
}

void UsbCableLink::HidCtlRemoval(THidDevice* HidDev) {
    addHistory(QStringLiteral("Removal of ") + usbcable::DescribeDevice(*HidDev));
}

void UsbCableLink::HidCtlDeviceDataError(THidDevice*, std::uint32_t Error) {
    addHistory(QStringLiteral("READ ERROR: %1 (%2)")
                   .arg(QString::fromLocal8Bit(std::strerror(static_cast<int>(Error))),
                        QString::number(Error, 16).toUpper()));
}

void UsbCableLink::addHistory(const QString& line) {
    history_.add(line.toStdString());
    showHistory();
}

void UsbCableLink::showHistory() {
    // The trace keeps the newest lines; the list shows them, appending only
    // what it has not shown yet, so a report line costs a string, not a widget.
    const std::uint64_t added = history_.added();
    if (added == historyShown_)
        return;
    const auto& lines = history_.lines();
    const std::size_t fresh = std::min<std::uint64_t>(added - historyShown_, lines.size());
    historyShown_ = added;
    for (std::size_t i = lines.size() - fresh; i < lines.size(); ++i)
        HistoryListBox->addItem(QString::fromStdString(lines[i]));
    while (static_cast<std::size_t>(HistoryListBox->count()) > history_.capacity())
        delete HistoryListBox->takeItem(0);
    HistoryListBox->setCurrentRow(HistoryListBox->count() - 1);
}

} // namespace voltaro
