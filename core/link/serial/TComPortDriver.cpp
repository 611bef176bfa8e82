#include "core/link/serial/TComPortDriver.h"

#include "core/link/serial/CustomBaud.h"
#include "core/link/serial/PortMap.h"

#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace voltaro {

namespace {

struct Speed {
    int value;
    speed_t code; // 0: no standard code, set through the custom-speed call
};

constexpr Speed kSpeeds[] = {{110, B110},      {300, B300},     {600, B600},   {1200, B1200},
                             {2400, B2400},    {4800, B4800},   {9600, B9600}, {14400, 0},
                             {19200, B19200},  {38400, B38400}, {56000, 0},    {57600, B57600},
                             {115200, B115200}};

QString describeOpenError(int err, const QString& path, bool& permission) {
    permission = err == EACCES || err == EPERM;
    QString reason = QString::fromLocal8Bit(std::strerror(err));
    if (permission)
        reason += QStringLiteral(
                      ". Your user may not use %1: add it to the group that owns the device "
                      "(usually \"dialout\": sudo usermod -aG dialout $USER), then log out and in again.")
                      .arg(path);
    else if (err == EBUSY || err == EWOULDBLOCK)
        reason = QStringLiteral("The port is in use by another program.");
    else if (err == ENOENT || err == ENXIO || err == ENODEV)
        reason += QStringLiteral(". Is the adapter plugged in?");
    return reason;
}

} // namespace

int baudRateValue(TComPortBaudRate rate) {
    return kSpeeds[static_cast<int>(rate)].value;
}

TComPortDriver::TComPortDriver(QObject* parent)
    : QObject(parent), buffer_(inBufSize_), timer_(new QTimer(this)), resolver_(&PortMap::devicePath) {
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &TComPortDriver::poll);
}

TComPortDriver::~TComPortDriver() {
    Disconnect();
}

QString TComPortDriver::devicePath() const {
    if (Connected())
        return openPath_;
    return devicePathOf(port_);
}

QString TComPortDriver::devicePathOf(TComPortNumber p) const {
    return resolver_ ? resolver_(static_cast<int>(p) + 1) : QString();
}

bool TComPortDriver::Connect() {
    return ConnectTo(devicePath());
}

bool TComPortDriver::ConnectTo(const QString& path) {
    if (Connected())
        return true;
    permissionDenied_ = false;
    if (path.isEmpty()) {
        lastError_ = QStringLiteral("No device file is assigned to this port.");
        return false;
    }
    LinkClaim::Holder holder;
    QString claimError;
    auto claim = LinkClaim::take(LinkClaim::serialKey(path), &holder, &claimError);
    // Only a holder refuses the port; without a folder for claims the port's
    // own lock still keeps it to one reader.
    if (!claim && claimError.isEmpty()) {
        lastError_ =
            QStringLiteral("The port is in use by another program: %1 reads it.").arg(holder.describe());
        return false;
    }
    const QByteArray native = path.toLocal8Bit();
    UniqueFd port(::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    const int fd = port.get();
    if (!port) {
        lastError_ = describeOpenError(errno, path, permissionDenied_);
        return false;
    }
    termios probe{};
    if (::tcgetattr(fd, &probe) != 0) {
        const int err = errno;
        lastError_ = QStringLiteral("%1 is not a serial port (%2).")
                         .arg(path, QString::fromLocal8Bit(std::strerror(err)));
        return false;
    }
    // Exclusive use: no other open of the terminal, and no other program
    // that honours the advisory lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        lastError_ = describeOpenError(err, path, permissionDenied_);
        return false;
    }
    ::ioctl(fd, TIOCEXCL);
    device_ = std::move(port);
    claim_ = std::move(claim);
    openPath_ = path;
    lastError_.clear();
    applyCount_ = 0;
    applyLineSettings();
    timer_->start(pollingDelay_);
    return true;
}

void TComPortDriver::Disconnect() {
    if (!Connected())
        return;
    timer_->stop();
    ::ioctl(device_.get(), TIOCNXCL);
    device_.reset();
    claim_.reset();
}

void TComPortDriver::FlushBuffers(bool input, bool output) {
    if (!Connected())
        return;
    if (input && output)
        ::tcflush(device_.get(), TCIOFLUSH);
    else if (input)
        ::tcflush(device_.get(), TCIFLUSH);
    else if (output)
        ::tcflush(device_.get(), TCOFLUSH);
}

void TComPortDriver::applyLineSettings() {
    termios t{};
    ::tcgetattr(device_.get(), &t);
    // Raw bytes in both directions; the receiver is on and ignores the modem
    // status lines, so a meter without handshake lines is read at once.
    ::cfmakeraw(&t);
    t.c_cflag |= CREAD | CLOCAL | HUPCL;
    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[static_cast<int>(dataBits_)];
    // POSIX has no 1.5 stop bits; 2 is the nearest a terminal can send.
    if (stopBits_ != TComPortStopBits::sb1BITS)
        t.c_cflag |= CSTOPB;
    switch (parity_) {
    case TComPortParity::ptNONE: break;
    case TComPortParity::ptODD: t.c_cflag |= PARENB | PARODD; break;
    case TComPortParity::ptEVEN: t.c_cflag |= PARENB; break;
    case TComPortParity::ptMARK: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case TComPortParity::ptSPACE: t.c_cflag |= PARENB | CMSPAR; break;
    }
    // Parity is generated but received bytes are not checked, as on the meter's own line.
    t.c_iflag &= ~(INPCK | PARMRK | IGNPAR | IXON | IXOFF | IXANY);
    if (hw_ == TComPortHwHandshaking::hhRTSCTS)
        t.c_cflag |= CRTSCTS;
    if (sw_ == TComPortSwHandshaking::shXONXOFF) {
        t.c_iflag |= IXON | IXOFF;
        t.c_cc[VSTART] = 0x11;
        t.c_cc[VSTOP] = 0x13;
    }
    // With O_NONBLOCK a read returns at once with what has arrived (or EAGAIN);
    // a read of 0 bytes then means the line hung up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    const Speed s = kSpeeds[static_cast<int>(speed_)];
    const speed_t code = s.code ? s.code : B38400;
    ::cfsetispeed(&t, code);
    ::cfsetospeed(&t, code);
    ::tcsetattr(device_.get(), TCSANOW, &t);
    if (!s.code)
        setCustomBaudRate(device_.get(), s.value);

    // Modem lines: DTR as configured, RTS low unless the handshake drives it.
    int dtr = TIOCM_DTR;
    ::ioctl(device_.get(), enableDtr_ ? TIOCMBIS : TIOCMBIC, &dtr);
    if (hw_ != TComPortHwHandshaking::hhRTSCTS) {
        int rts = TIOCM_RTS;
        ::ioctl(device_.get(), TIOCMBIC, &rts);
    }
    FlushBuffers(true, true);
    ++applyCount_;
}

void TComPortDriver::poll() {
    if (!Connected())
        return;
    ++polls_;
    const ssize_t n = ::read(device_.get(), buffer_.data(), buffer_.size());
    if (n > 0) {
        if (onReceiveData_)
            onReceiveData_(this, buffer_.data(), static_cast<std::int32_t>(n));
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    // End of file on a terminal is a hang-up; an error is a device that went
    // away (an adapter pulled out, the other end of a pseudo-terminal closed).
    failWhileOpen(n == 0 ? QStringLiteral("The line hung up.")
                         : QString::fromLocal8Bit(std::strerror(errno)) + QStringLiteral("."));
}

void TComPortDriver::failWhileOpen(const QString& reason) {
    lastError_ = reason;
    permissionDenied_ = false;
    Disconnect();
    emit portFailed(reason);
}

void TComPortDriver::setComPort(TComPortNumber p) {
    if (!Connected())
        port_ = p;
}

void TComPortDriver::setComPortSpeed(TComPortBaudRate v) {
    setLineSetting(speed_, v);
}
void TComPortDriver::setComPortDataBits(TComPortDataBits v) {
    setLineSetting(dataBits_, v);
}
void TComPortDriver::setComPortStopBits(TComPortStopBits v) {
    setLineSetting(stopBits_, v);
}
void TComPortDriver::setComPortParity(TComPortParity v) {
    setLineSetting(parity_, v);
}
void TComPortDriver::setComPortHwHandshaking(TComPortHwHandshaking v) {
    setLineSetting(hw_, v);
}
void TComPortDriver::setComPortSwHandshaking(TComPortSwHandshaking v) {
    setLineSetting(sw_, v);
}

void TComPortDriver::setComPortInBufSize(std::uint16_t v) {
    if (Connected())
        return;
    inBufSize_ = v;
    // A zero-sized buffer could never receive; one byte is the least that works.
    buffer_.assign(v > 0 ? v : 1, 0);
}

void TComPortDriver::setComPortOutBufSize(std::uint16_t v) {
    outBufSize_ = v;
}

void TComPortDriver::setComPortPollingDelay(std::uint16_t v) {
    if (!Connected()) {
        pollingDelay_ = v;
        return;
    }
    if (v == pollingDelay_)
        return;
    timer_->stop();
    pollingDelay_ = v;
    timer_->start(pollingDelay_);
}

void TComPortDriver::setEnableDTROnOpen(bool v) {
    enableDtr_ = v;
}

bool TComPortDriver::isPolling() const {
    return timer_->isActive();
}
int TComPortDriver::pollingInterval() const {
    return timer_->interval();
}

void configureMeterLine(TComPortDriver& driver) {
    driver.setComPortSpeed(TComPortBaudRate::br19200);
    driver.setComPortDataBits(TComPortDataBits::db7BITS);
    driver.setComPortParity(TComPortParity::ptODD);
    driver.setComPortStopBits(TComPortStopBits::sb1BITS);
    driver.setComPortHwHandshaking(TComPortHwHandshaking::hhNONE);
    driver.setComPortSwHandshaking(TComPortSwHandshaking::shNONE);
}

} // namespace voltaro
