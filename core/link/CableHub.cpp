#include "core/link/CableHub.h"

#include "core/link/CableLink.h"
#include "core/link/hid/UsbCable.h"

#include <QString>

#include <algorithm>
#include <cstring>

namespace voltaro {

CableHub::CableHub(std::shared_ptr<HidPlatform> platform) {
    controller_ = std::make_unique<THidDeviceController>(nullptr, std::move(platform));
    controller_->setObjectName(QStringLiteral("HidCtl"));
    controller_->setOnEnumerate(
        [this](THidDevice* d, std::int32_t i) { return !listing_ || listing_->listed(d, i); });
    controller_->setOnArrival([this](THidDevice* d) {
        const QString line = QStringLiteral("Arrival of ") + usbcable::DescribeDevice(*d);
        for (CableLink* link : std::vector<CableLink*>(links_))
            emit link->note(line);
    });
    controller_->setOnRemoval([this](THidDevice* d) {
        const QString line = QStringLiteral("Removal of ") + usbcable::DescribeDevice(*d);
        for (CableLink* link : std::vector<CableLink*>(links_))
            emit link->note(line);
    });
    controller_->setOnDeviceDataError([this](THidDevice* d, std::uint32_t error) {
        const QString line = QStringLiteral("READ ERROR: %1 (%2)")
                                 .arg(QString::fromLocal8Bit(std::strerror(static_cast<int>(error))),
                                      QString::number(error, 16).toUpper());
        // Told to the link reading the device; a device nobody holds to every link.
        if (CableLink* holder = holderOf(d)) {
            emit holder->note(line);
            return;
        }
        for (CableLink* link : std::vector<CableLink*>(links_))
            emit link->note(line);
    });
    controller_->setOnDeviceChange([this](QObject*) { deviceChange(); });
}

CableHub::~CableHub() {
    controller_.reset();
}

int CableHub::pluggedIn() const {
    int n = 0;
    for (int i = 0; i < controller_->DeviceCount(); ++i)
        n += controller_->DeviceAt(i)->IsPluggedIn() ? 1 : 0;
    return n;
}

void CableHub::join(CableLink* link) {
    links_.push_back(link);
    relist();
}

void CableHub::leave(CableLink* link) {
    links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
    if (listing_ == link)
        listing_ = nullptr;
}

CableLink* CableHub::holderOf(THidDevice* device) const {
    for (CableLink* link : links_)
        if (link->holds(device))
            return link;
    return nullptr;
}

void CableHub::relist() {
    deviceChange();
}

void CableHub::deviceChange() {
    // A link told of the change may ask for the devices again: that is done
    // once this round is over.
    if (changing_) {
        again_ = true;
        return;
    }
    changing_ = true;
    do {
        again_ = false;
        const std::vector<CableLink*> links = links_;
        const auto present = [this](CableLink* link) {
            return std::find(links_.begin(), links_.end(), link) != links_.end();
        };
        // Every link's devices go back first (but each running cable), so a
        // device one link gave up can be taken by another.
        for (CableLink* link : links)
            if (present(link))
                link->handBack();
        // The links that name their cable list first, so one left to the
        // default rule never takes a cable another link names.
        std::vector<CableLink*> order = links;
        std::stable_partition(order.begin(), order.end(),
                              [](CableLink* link) { return !link->choice().isDefault(); });
        for (CableLink* link : order) {
            if (!present(link))
                continue;
            listing_ = link;
            controller_->Enumerate();
            listing_ = nullptr;
            link->listDone();
        }
        for (CableLink* link : links)
            if (present(link))
                link->follow();
    } while (again_);
    changing_ = false;
}

} // namespace voltaro
