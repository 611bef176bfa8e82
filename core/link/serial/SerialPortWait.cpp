#include "core/link/serial/SerialPortWait.h"

#include <QTimer>

namespace voltaro {

SerialPortWait::SerialPortWait(Opener open, std::string udevLibrary)
    : open_(std::move(open)), tty_(std::move(udevLibrary)), timer_(new QTimer(this)) {
    timer_->setInterval(kIntervalMs);
    connect(timer_, &QTimer::timeout, this, &SerialPortWait::poll);
}

SerialPortWait::~SerialPortWait() = default;

void SerialPortWait::remember(const QString& path) {
    device_ = path;
    // Asked now, while the device is there: once it has gone, udev no longer knows it.
    identity_ = tty_.of(path);
}

void SerialPortWait::start() {
    timer_->start();
}

void SerialPortWait::stop() {
    timer_->stop();
}

bool SerialPortWait::waiting() const {
    return timer_->isActive();
}

int SerialPortWait::interval() const {
    return timer_->interval();
}

void SerialPortWait::poll() {
    ++polls_;
    const QString path = tty_.find(identity_);
    if (path.isEmpty() || !open_(path))
        return;
    timer_->stop();
    device_ = path;
    emit back();
}

} // namespace voltaro
