#include "core/link/SerialLink.h"

#include "core/link/serial/PortMap.h"

#include <QFileInfo>

namespace voltaro {

SerialLink::SerialLink(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("SerialLink"));
    driver_.setObjectName(QStringLiteral("COMM2"));
    driver_.setComPort(TComPortNumber::pnCOM1);
    configureMeterLine(driver_);
    connect(&driver_, &TComPortDriver::portFailed, this, &SerialLink::failed);
    connect(&wait_, &SerialPortWait::back, this, [this] {
        state_ = State::Open;
        emit back(wait_.device());
    });
}

SerialLink::~SerialLink() {
    handler_ = {};
    close();
}

void SerialLink::choosePort(const QString& name) {
    for (int i = 0; i < PortMap::kChoices; ++i) {
        if (name.compare(QStringLiteral("COM%1").arg(i + 1), Qt::CaseInsensitive) == 0) {
            byName_ = false;
            driver_.setPortResolver({});
            driver_.setComPort(static_cast<TComPortNumber>(i));
            return;
        }
    }
    byName_ = true;
    name_ = name;
    driver_.setPortResolver([name](int) { return name; });
}

QString SerialLink::label() const {
    if (byName_)
        return driver_.devicePath();
    return QStringLiteral("COM%1 (%2)").arg(static_cast<int>(driver_.ComPort()) + 1).arg(device());
}

void SerialLink::setByteHandler(ByteHandler handler) {
    handler_ = std::move(handler);
    if (!handler_) {
        driver_.setOnReceiveData({});
        return;
    }
    driver_.setOnReceiveData([this](TComPortDriver*, const void* data, std::int32_t size) {
        handler_(static_cast<const std::uint8_t*>(data), size);
    });
}

QString SerialLink::device() const {
    return state_ == State::Idle ? driver_.devicePath() : wait_.device();
}

bool SerialLink::open() {
    if (driver_.Connect()) {
        failure_ = Failure::None;
        wait_.remember(driver_.devicePath());
        state_ = State::Open;
        return true;
    }
    const QString path = driver_.devicePath();
    failure_ = path.isEmpty() || !QFileInfo::exists(path) ? Failure::Missing
               : driver_.lastErrorIsPermission()          ? Failure::Permission
                                                          : Failure::Busy;
    return false;
}

void SerialLink::close() {
    wait_.stop();
    driver_.Disconnect();
    state_ = State::Idle;
}

void SerialLink::failed(const QString& reason) {
    if (state_ != State::Open)
        return;
    // The driver has closed the port.
    const QString device = wait_.device();
    state_ = waitWhenLost_ ? State::Waiting : State::Idle;
    if (waitWhenLost_)
        wait_.start();
    emit lost(device, reason);
}

} // namespace voltaro
