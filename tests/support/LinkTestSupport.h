#pragma once

// Helpers for tests that drive the serial driver through pseudo-terminals:
// the test writes into the master side, the driver opens the slave device.

#include "support/Wait.h"
#include "tools/SimRunner.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <QThread>

#include <cerrno>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <unistd.h>

namespace voltaro::testing {

// A raw pseudo-terminal. The slave stays open here as well, so the terminal
// lives on between the driver's opens and keeps bytes nobody has read yet.
class Pty {
public:
    Pty() {
        std::string error;
        if (auto pty = sim::openMeterPty(error))
            pty_ = std::move(*pty);
        path_ = QString::fromStdString(pty_.slavePath);
        error_ = QString::fromStdString(error);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return pty_.master.valid(); }
    QString path() const { return path_; }
    QString error() const { return error_; }
    int slave() const { return pty_.slave.get(); }

    // Writes all of `bytes` into the master side; false when that failed or
    // the terminal stayed full for seconds (nobody reads while this waits).
    bool send(std::string_view bytes) const {
        const QDeadlineTimer deadline(3000);
        while (!bytes.empty()) {
            const ssize_t n = ::write(pty_.master.get(), bytes.data(), bytes.size());
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || deadline.hasExpired())
                return false;
            if (n > 0)
                bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // Closes both sides: to whoever still has the slave open, the device is gone.
    void close() {
        pty_.master.reset();
        pty_.slave.reset();
    }

private:
    sim::MeterPty pty_;
    QString path_;
    QString error_;
};

// Bytes waiting to be read from the terminal open as `fd`, or -1.
inline int pendingBytes(int fd) {
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// Waits, without running the event loop (so no poll can read them), until
// `count` bytes are queued for reading on `fd`: a pseudo-terminal hands
// written bytes to the reading side a moment later, not within write().
inline bool waitForQueued(int fd, int count, int timeoutMs = 3000) {
    const QDeadlineTimer deadline(timeoutMs);
    while (pendingBytes(fd) < count) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(1);
    }
    return pendingBytes(fd) == count;
}

} // namespace voltaro::testing
