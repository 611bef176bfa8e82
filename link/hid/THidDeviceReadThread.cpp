#include "link/hid/THidDeviceReadThread.h"

#include "link/hid/THidDevice.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>

namespace voltaro {

THidDeviceReadThread::THidDeviceReadThread(THidDevice& device, std::size_t reportLength, bool numbered)
    : device_(device), report_(reportLength < 2 ? 2 : reportLength), numbered_(numbered),
      wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), handOverFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      handOverNotifier_(handOverFd_.get(), QSocketNotifier::Read) {
    QObject::connect(&handOverNotifier_, &QSocketNotifier::activated, [this] {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(handOverFd_.get(), &count, sizeof count);
        deliverPending();
    });
}

THidDeviceReadThread::~THidDeviceReadThread() {
    stop();
}

void THidDeviceReadThread::start() {
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
}

void THidDeviceReadThread::wake() {
    const std::uint64_t one = 1;
    // An eventfd write only fails when the counter is full, and then a wake-up is pending anyway.
    [[maybe_unused]] const ssize_t n = ::write(wake_.get(), &one, sizeof one);
}

void THidDeviceReadThread::drainWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wake_.get(), &count, sizeof count);
}

void THidDeviceReadThread::requestStop() {
    stop_ = true;
    wake();
}

void THidDeviceReadThread::stop() {
    if (!thread_.joinable())
        return;
    requestStop();
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return finished_ || pending_ != Pending::None; });
        if (finished_)
            break;
        // The thread is blocked handing a report over: deliver it here.
        lock.unlock();
        deliverPending();
        lock.lock();
    }
    lock.unlock();
    thread_.join();
}

void THidDeviceReadThread::deliverPending() {
    Pending what;
    {
        std::lock_guard lock(mutex_);
        what = pending_;
    }
    if (what == Pending::None || delivering_)
        return;
    delivering_ = true;
    if (what == Pending::Data)
        device_.deliverData(report_.data(), NumBytesRead);
    else
        device_.deliverError(ErrorCode);
    delivering_ = false;
    {
        std::lock_guard lock(mutex_);
        pending_ = Pending::None;
    }
    changed_.notify_all();
}

void THidDeviceReadThread::handOver(Pending what) {
    (what == Pending::Data ? reports_ : errors_).fetch_add(1);
    std::unique_lock lock(mutex_);
    pending_ = what;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(handOverFd_.get(), &one, sizeof one);
    changed_.notify_all();
    changed_.wait(lock, [this] { return pending_ == Pending::None; });
}

bool THidDeviceReadThread::pause() {
    pollfd fd{wake_.get(), POLLIN, 0};
    waits_.fetch_add(1);
    const int r = ::poll(&fd, 1, device_.ThreadSleepTime());
    if (r > 0) {
        drainWake();
        return true;
    }
    return false;
}

void THidDeviceReadThread::run() {
    // A device that numbers no reports gets them from hidraw without an ID:
    // they are read in behind byte 0, which stays 0.
    std::uint8_t* const target = numbered_ ? report_.data() : report_.data() + 1;
    const std::size_t length = numbered_ ? report_.size() : report_.size() - 1;

    while (!stop_) {
        int error = 0;
        const std::shared_ptr<HidNode> node = device_.readNode(error);
        if (!node) {
            ErrorCode = static_cast<std::uint32_t>(error);
            handOver(Pending::Error);
            // Retrying at once would hand over an error per microsecond
            // until the device list is rebuilt.
            if (!stop_)
                pause();
            continue;
        }
        pollfd fds[2] = {{node->pollFd(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        waits_.fetch_add(1);
        const int r = ::poll(fds, 2, device_.ThreadSleepTime());
        if (r < 0 && errno != EINTR) {
            ErrorCode = static_cast<std::uint32_t>(errno);
            handOver(Pending::Error);
            pause();
            continue;
        }
        if (r <= 0)
            continue; // slice over: look at the stop request and the node again
        if (fds[1].revents & POLLIN) {
            drainWake();
            continue;
        }
        if (!fds[0].revents)
            continue;
        std::memset(report_.data(), 0, report_.size());
        reads_.fetch_add(1);
        const long n = node->readReport(target, length, error);
        const bool hungUp = fds[0].revents & (POLLHUP | POLLERR | POLLNVAL);
        if (n > 0) {
            NumBytesRead = static_cast<std::uint32_t>(numbered_ ? n : n + 1);
            handOver(Pending::Data);
        } else if (n < 0 || hungUp) {
            // A node that hung up reads nothing for ever: the device is gone.
            ErrorCode = static_cast<std::uint32_t>(n < 0 ? error : ENODEV);
            handOver(Pending::Error);
            if (!stop_)
                pause();
        }
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

} // namespace voltaro
