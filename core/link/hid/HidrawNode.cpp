#include "core/link/hid/HidrawNode.h"

#include <cerrno>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <vector>

namespace voltaro {

long HidrawNode::readReport(std::uint8_t* buffer, std::size_t length, int& error) {
    for (;;) {
        const ssize_t n = ::read(fd_.get(), buffer, length);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return 0;
        error = errno;
        return -1;
    }
}

bool HidrawNode::setFeature(const std::uint8_t* report, std::size_t length, int& error) {
    // The request carries the length in its size bits, which hold at most
    // 14 bits; hidraw itself takes no more than that either.
    if (length == 0 || length >= (1u << 14)) {
        error = EINVAL;
        return false;
    }
    // The kernel is handed a copy, so the caller's buffer stays as it was
    // whatever the driver below does with it.
    std::vector<std::uint8_t> copy(report, report + length);
    const int sent = ::ioctl(fd_.get(), HIDIOCSFEATURE(length), copy.data());
    if (sent < 0) {
        error = errno;
        return false;
    }
    // A device that took only part of the report did not get the report.
    if (static_cast<std::size_t>(sent) != length) {
        error = EIO;
        return false;
    }
    return true;
}

} // namespace voltaro
