#include "link/hid/THidDeviceReadThread.h"

#include "link/hid/THidDevice.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>

namespace voltaro {

THidDeviceReadThread::THidDeviceReadThread(THidDevice& device, std::size_t reportLength, bool numbered)
    : device_(device), buffers_{std::vector<std::uint8_t>(reportLength < 2 ? 2 : reportLength),
                                std::vector<std::uint8_t>(reportLength < 2 ? 2 : reportLength)},
      numbered_(numbered), wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      handOverFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
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
    std::uint32_t value = 0;
    const std::uint8_t* report = nullptr;
    {
        std::lock_guard lock(mutex_);
        what = pending_;
        value = pendingValue_;
        report = buffers_[pendingBuffer_].data();
    }
    if (what == Pending::None || delivering_)
        return;
    delivering_ = true;
    if (what == Pending::Data) {
        NumBytesRead = value;
        device_.deliverData(report, value);
    } else {
        ErrorCode = value;
        device_.deliverError(value);
    }
    delivering_ = false;
    {
        std::lock_guard lock(mutex_);
        pending_ = Pending::None;
    }
    changed_.notify_all();
}

void THidDeviceReadThread::handOver(Pending what, std::uint32_t value) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pending_ == Pending::None; });
    (what == Pending::Data ? reports_ : errors_).fetch_add(1);
    pending_ = what;
    pendingValue_ = value;
    pendingBuffer_ = filling_;
    filling_ ^= 1;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(handOverFd_.get(), &one, sizeof one);
    changed_.notify_all();
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
    const std::size_t offset = numbered_ ? 0 : 1;
    const std::size_t length = buffers_[0].size() - offset;

    while (!stop_) {
        int error = 0;
        const std::shared_ptr<HidNode> node = device_.readNode(error);
        if (!node) {
            handOver(Pending::Error, static_cast<std::uint32_t>(error));
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
            handOver(Pending::Error, static_cast<std::uint32_t>(errno));
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
        // The buffer being filled is never the one being delivered.
        std::vector<std::uint8_t>& report = buffers_[filling_];
        std::memset(report.data(), 0, report.size());
        reads_.fetch_add(1);
        const long n = node->readReport(report.data() + offset, length, error);
        const bool hungUp = fds[0].revents & (POLLHUP | POLLERR | POLLNVAL);
        if (n > 0) {
            handOver(Pending::Data, static_cast<std::uint32_t>(n + static_cast<long>(offset)));
        } else if (n < 0 || hungUp) {
            // A node that hung up reads nothing for ever: the device is gone.
            handOver(Pending::Error, static_cast<std::uint32_t>(n < 0 ? error : ENODEV));
            if (!stop_)
                pause();
        }
    }
    // The last hand-over is delivered before the thread counts as ended;
    // a stopping user-interface thread delivers it itself.
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pending_ == Pending::None; });
    finished_ = true;
    changed_.notify_all();
}

} // namespace voltaro
