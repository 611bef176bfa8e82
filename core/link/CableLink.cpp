#include "core/link/CableLink.h"

#include "core/link/CableAccess.h"
#include "core/link/hid/UsbCable.h"

#include <QCoreApplication>

#include <utility>

namespace voltaro {

CableLink::CableLink(std::shared_ptr<HidPlatform> platform, QObject* parent)
    : CableLink(std::make_shared<CableHub>(std::move(platform)), true, parent) {}

CableLink::CableLink(std::shared_ptr<CableHub> hub, QObject* parent)
    : CableLink(std::move(hub), false, parent) {}

CableLink::CableLink(std::shared_ptr<CableHub> hub, bool alone, QObject* parent)
    : QObject(parent), hub_(std::move(hub)), alone_(alone) {
    setObjectName(QStringLiteral("CableLink"));
    hub_->join(this);
}

CableLink::~CableLink() {
    handler_ = {};
    active_ = nullptr;
    // Handed back while the controller still lives.
    devices_.clear();
    staying_.reset();
    hub_->leave(this);
}

void CableLink::select(int index) {
    selected_ = index >= 0 && index < deviceCount() ? index : -1;
}

void CableLink::setChoice(const CableChoice& choice) {
    choice_ = choice;
    if (!alone_) {
        // Which devices the link keeps depends on the choice.
        hub_->relist();
        return;
    }
    selected_ = chosenIndex();
    emit listChanged();
}

int CableLink::chosenIndex() const {
    if (choice_.isDefault())
        return usbcable::preselect(texts_);
    for (int i = deviceCount() - 1; i >= 0; --i)
        if (choice_.matches(deviceAt(i)))
            return i;
    return -1;
}

bool CableLink::claim(THidDevice& device) {
    const QString key = LinkClaim::cableKey(device.PnPInfo().PortPath, device.PnPInfo().DevicePath);
    if (claim_ && claim_->key() == key)
        return true;
    holder_ = {};
    claimError_.clear();
    auto taken = LinkClaim::take(key, &holder_, &claimError_);
    // A claim that cannot be made (no folder for it) does not keep the meter
    // from being read; only a holder does.
    if (!taken && claimError_.isEmpty())
        return false;
    claim_ = std::move(taken);
    return true;
}

THidDevice* CableLink::selectedDevice() const {
    return selected_ >= 0 ? devices_[static_cast<std::size_t>(selected_)].get() : nullptr;
}

void CableLink::setReportHandler(ReportHandler handler) {
    // The devices keep calling through this link; an empty handler drops
    // what they still deliver.
    handler_ = std::move(handler);
}

QString CableLink::permissionAdvice() const {
    const THidDevice* d = selectedDevice();
    return cablePermissionAdvice(d ? d->PnPInfo().DevicePath : node_, QCoreApplication::applicationDirPath());
}

// --- Starting and stopping ----------------------------------------------------

CableLink::Start CableLink::start() {
    THidDevice* cable = selectedDevice();
    if (!cable)
        return Start::NotListed;
    cable->setOnData({});
    // Listed and described, but its node is closed to this user.
    if (!cable->HasReadWriteAccess())
        return Start::NoAccess;
    // Another instance reading the cable is told nothing: not even the configuration.
    claim_.reset();
    if (!claim(*cable))
        return Start::Held;
    if (!configure(*cable)) {
        claim_.reset();
        return Start::NotConfigured;
    }
    idleReports_ = 0;
    followedPort_ = choice_.isDefault() ? QString() : cable->PnPInfo().PortPath;
    product_ = cable->ProductName();
    serial_ = cable->SerialNumber();
    instance_ = cable->PnPInfo().DeviceInstance;
    attach(cable);
    enter(State::Open);
    return Start::Started;
}

void CableLink::stop() {
    if (active_)
        active_->setOnData({});
    if (THidDevice* chosen = selectedDevice())
        chosen->setOnData({});
    idleReports_ = 0;
    active_ = selectedDevice();
    claim_.reset();
    followedPort_.clear();
    enter(State::Idle);
}

void CableLink::stopReadingSelected() {
    if (THidDevice* chosen = selectedDevice(); chosen && chosen->HasReadWriteAccess())
        chosen->setOnData({});
}

bool CableLink::configureSelected() {
    THidDevice* chosen = selectedDevice();
    return chosen && configure(*chosen);
}

bool CableLink::configure(THidDevice& device) {
    const auto& report = usbcable::kConfigurationReport;
    const bool taken = device.SetFeature(report.data(), static_cast<std::uint16_t>(report.size()));
    // Bytes 1 to 10 of the report buffer, the last one beyond the report.
    QString line;
    for (std::size_t i = 1; i <= report.size(); ++i)
        line +=
            QStringLiteral("%1 ").arg(i < report.size() ? report[i] : 0, 2, 16, QLatin1Char('0')).toUpper();
    emit note(line);
    return taken;
}

void CableLink::attach(THidDevice* device) {
    active_ = device;
    node_ = device->PnPInfo().DevicePath;
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
            if (!handler_)
                return;
            if (std::exchange(deliveredStream_, stream) != stream)
                emit newStream();
            const auto* bytes = static_cast<const std::uint8_t*>(data);
            // A report's low nibble counts the meter bytes it carries (1 to 9).
            if (size > 0) {
                const int count = bytes[0] & 0x0F;
                idleReports_ = count >= 1 && count <= 9 ? 0 : idleReports_ + 1;
            }
            handler_(id, bytes, size);
        });
}

void CableLink::enter(State s) {
    state_ = s;
}

// --- The cable check ------------------------------------------------------------

bool CableLink::checkTick() {
    if (idleTicks_ != 2) {
        ++idleTicks_;
        return false;
    }
    // The third tick without a decoded frame.
    idleTicks_ = 0;
    if (idleReports_ < kIdleReportsToStop)
        return false;
    idleReports_ = 0;
    if (active_)
        active_->setOnData({});
    // Nothing reads the cable now: another instance may take it. A start
    // claims it again.
    claim_.reset();
    enter(State::Stopped);
    emit checkStopped();
    return true;
}

// --- The device list and the follow rule --------------------------------------

bool CableLink::keeps(THidDevice& device) const {
    if (alone_)
        return true;
    // Beside other links, only the cables this one may read: the one chosen
    // (any of the cable's product by default) and the one it follows.
    if (choice_.isDefault() ? device.ProductName() == usbcable::kProductName : choice_.matches(device))
        return true;
    return (state_ == State::Open || state_ == State::Waiting) && follows(device);
}

bool CableLink::holds(const THidDevice* device) const {
    if (staying_.get() == device)
        return true;
    for (const auto& d : devices_)
        if (d.get() == device)
            return true;
    return false;
}

bool CableLink::listed(THidDevice* device, std::int32_t index) {
    std::unique_ptr<THidDevice> lent;
    // The cable that stays is lent to this link already: it takes its place again.
    if (staying_.get() == device)
        lent = std::move(staying_);
    else if (keeps(*device))
        hub_->controller().CheckOutByIndex(lent, index);
    if (lent) {
        texts_ << usbcable::DescribeDevice(*lent);
        devices_.push_back(std::move(lent));
    }
    return true;
}

void CableLink::handBack() {
    // A change that is not the cable's leaves the running cable as it is:
    // its device, its node and its read thread, so no report is lost or
    // reordered. Every other device is handed back and lent out afresh.
    if (state_ == State::Open && active_ && active_->IsPluggedIn()) {
        for (auto& d : devices_)
            if (d.get() == active_)
                staying_ = std::move(d);
    }
    stayed_ = staying_.get();
    // Destroying a device hands it back to the controller.
    active_ = nullptr;
    devices_.clear();
    texts_.clear();
}

void CableLink::listDone() {
    if (staying_) {
        // Not offered again, so gone after all: it goes back like the others.
        staying_.reset();
        stayed_ = nullptr;
    }
    selected_ = chosenIndex();
}

void CableLink::follow() {
    const bool following = state_ == State::Open || state_ == State::Waiting;
    THidDevice* stayed = std::exchange(stayed_, nullptr);
    // Any device coming or going rebuilds the list; the link goes on with its
    // cable's fresh device, or waits for the cable to come back.
    const bool found = following && takeUp(stayed);
    emit listChanged();
    if (!following)
        return;
    if (found) {
        if (state_ == State::Waiting) {
            enter(State::Open);
            emit back();
        }
    } else if (state_ != State::Waiting) {
        enter(State::Waiting);
        emit lost();
    }
}

bool CableLink::follows(THidDevice& d) const {
    // A cable chosen by name is the meter in its socket; any other is known
    // by its strings wherever it is plugged in.
    if (!followedPort_.isEmpty())
        return d.PnPInfo().PortPath == followedPort_ && d.ProductName() == product_;
    return d.ProductName() == product_ && d.SerialNumber() == serial_;
}

bool CableLink::takeUp(THidDevice* stayed) {
    // The cable that stayed plugged in, else the last one like it, as the
    // list preselects, that no other instance reads.
    const bool waiting = state_ == State::Waiting;
    std::vector<int> candidates;
    for (int i = deviceCount() - 1; i >= 0; --i) {
        THidDevice& d = deviceAt(i);
        if (!d.HasReadWriteAccess() || !follows(d))
            continue;
        if (!waiting && d.PnPInfo().DeviceInstance == instance_)
            candidates.insert(candidates.begin(), i);
        else
            candidates.push_back(i);
    }
    int found = -1;
    for (const int i : candidates) {
        if (&deviceAt(i) == stayed || claim(deviceAt(i))) {
            found = i;
            break;
        }
    }
    if (found < 0)
        return false;
    selected_ = found;
    THidDevice* cable = &deviceAt(found);
    if (cable == stayed) {
        active_ = cable; // reading on as it was
        return true;
    }
    // Plugged in again, it has forgotten its configuration.
    const bool again = waiting || cable->PnPInfo().DeviceInstance != instance_;
    if (again)
        idleReports_ = 0;
    const bool refused = again && !configure(*cable);
    instance_ = cable->PnPInfo().DeviceInstance;
    attach(cable);
    if (refused)
        emit notConfigured();
    return true;
}

} // namespace voltaro
