#include "core/link/hid/THidDeviceReadThread.h"

#include "core/link/hid/THidDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <utility>

namespace voltaro {

THidDeviceReadThread::THidDeviceReadThread(THidDevice& device, std::size_t reportLength, bool numbered)
    : device_(device), buffer_(reportLength < 2 ? 2 : reportLength), numbered_(numbered),
      wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), handOverFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      handOverNotifier_(handOverFd_.get(), QSocketNotifier::Read), queue_(kQueueLength) {
    for (HandOver& h : queue_)
        h.report.resize(buffer_.size());
    QObject::connect(&handOverNotifier_, &QSocketNotifier::activated, [this] {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(handOverFd_.get(), &count, sizeof count);
        signalled();
    });
    paceTimer_.setSingleShot(true);
    QObject::connect(&paceTimer_, &QTimer::timeout, [this] { deliverQueued(); });
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
    paceTimer_.stop();
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return finished_ || count_ > 0; });
        if (count_ == 0)
            break;
        // The thread may be waiting for room: deliver what is queued here.
        lock.unlock();
        deliverQueued();
        lock.lock();
    }
    lock.unlock();
    thread_.join();
}

void THidDeviceReadThread::signalled() {
    if (paceTimer_.isActive() || delivering_)
        return;
    const qint64 since = lastDelivery_.isValid() ? lastDelivery_.elapsed() : kDeliveryPaceMs;
    if (since >= kDeliveryPaceMs)
        deliverQueued();
    else
        paceTimer_.start(static_cast<int>(kDeliveryPaceMs - since));
}

void THidDeviceReadThread::deliverQueued() {
    if (delivering_)
        return;
    std::size_t batch = 0;
    {
        std::lock_guard lock(mutex_);
        batch = count_;
        if (batch == 0)
            woken_ = false;
    }
    if (batch == 0)
        return;
    delivering_ = true;
    lastDelivery_.start();
    // What was queued when the batch began: reports that keep arriving
    // meanwhile wait for the next one, so the window gets to repaint.
    for (std::size_t i = 0; i < batch; ++i) {
        const HandOver* h = nullptr;
        {
            std::lock_guard lock(mutex_);
            h = &queue_[head_];
        }
        if (h->what == Pending::Data) {
            NumBytesRead = h->value;
            device_.deliverData(h->report.data(), h->value);
        } else {
            ErrorCode = h->value;
            device_.deliverError(h->value);
        }
        {
            std::lock_guard lock(mutex_);
            head_ = (head_ + 1) % queue_.size();
            --count_;
        }
        changed_.notify_all();
    }
    delivering_ = false;
    // While reports stream in, the next batch is taken when the pace allows,
    // without a wake-up for each report that arrives meanwhile; a timer that
    // finds nothing queued ends that, and the next report wakes this thread.
    if (!stop_)
        paceTimer_.start(kDeliveryPaceMs);
}

void THidDeviceReadThread::handOver(Pending what, std::uint32_t value) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return count_ < queue_.size(); });
    (what == Pending::Data ? reports_ : errors_).fetch_add(1);
    HandOver& h = queue_[(head_ + count_) % queue_.size()];
    h.what = what;
    h.value = value;
    if (what == Pending::Data)
        std::memcpy(h.report.data(), buffer_.data(), std::min<std::size_t>(value, buffer_.size()));
    ++count_;
    if (!std::exchange(woken_, true)) {
        wakeUps_.fetch_add(1);
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(handOverFd_.get(), &one, sizeof one);
    }
    changed_.notify_all();
}

bool THidDeviceReadThread::pause(int ms) {
    pollfd fd{wake_.get(), POLLIN, 0};
    waits_.fetch_add(1);
    const int r = ::poll(&fd, 1, ms < 0 ? device_.ThreadSleepTime() : ms);
    if (r > 0) {
        drainWake();
        return true;
    }
    return false;
}

int THidDeviceReadThread::readWaiting(HidNode& node, short revents) {
    // A device that numbers no reports gets them from hidraw without an ID:
    // they are read in behind byte 0, which stays 0.
    const std::size_t offset = numbered_ ? 0 : 1;
    const std::size_t length = buffer_.size() - offset;
    // Never more than hidraw keeps, so a stop is looked at in between. The
    // node does not block: a read that finds nothing ends the round, and the
    // next poll tells whether the node has only run dry or hung up.
    constexpr int kMostAtOnce = 64;
    int read = 0;
    for (int i = 0; i < kMostAtOnce && !stop_; ++i) {
        std::memset(buffer_.data(), 0, buffer_.size());
        reads_.fetch_add(1);
        int error = 0;
        const long n = node.readReport(buffer_.data() + offset, length, error);
        // Only the poll before the first read says anything about hanging up.
        const bool hungUp = i == 0 && (revents & (POLLHUP | POLLERR | POLLNVAL));
        if (n > 0) {
            handOver(Pending::Data, static_cast<std::uint32_t>(n + static_cast<long>(offset)));
            ++read;
        } else if (n < 0 || hungUp) {
            // A node that hung up reads nothing for ever: the device is gone.
            handOver(Pending::Error, static_cast<std::uint32_t>(n < 0 ? error : ENODEV));
            if (!stop_)
                pause();
            return 0;
        } else {
            break; // nothing there after all
        }
    }
    return read;
}

bool THidDeviceReadThread::readGoneNode() {
    const std::shared_ptr<HidNode> node = device_.takeGoneNode();
    if (!node)
        return false;
    // Whatever the node still gives, stop or not: these are reports the
    // device sent, and nobody can read them once the node is closed. The
    // node does not block, and a device that went away sends no more.
    const std::size_t offset = numbered_ ? 0 : 1;
    for (std::size_t i = 0; i < kMostLeftOver; ++i) {
        std::memset(buffer_.data(), 0, buffer_.size());
        reads_.fetch_add(1);
        int error = 0;
        const long n = node->readReport(buffer_.data() + offset, buffer_.size() - offset, error);
        if (n <= 0)
            break; // dry, or failing as a node does once its queue is read
        handOver(Pending::Data, static_cast<std::uint32_t>(n + static_cast<long>(offset)));
    }
    return true;
}

void THidDeviceReadThread::run() {
    while (!stop_) {
        if (readGoneNode())
            continue;
        int error = 0;
        const std::shared_ptr<HidNode> node = device_.readNode(error);
        if (!node) {
            // Gone since the look above: its node is read before anything fails.
            if (readGoneNode())
                continue;
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
        // While the cable streams, its reports come a millisecond apart:
        // after taking those waiting, let the next few gather.
        const int read = readWaiting(*node, fds[0].revents);
        busyRounds_ = read >= kLateReports ? kBusyRounds : std::max(busyRounds_ - 1, 0);
        if (read > 0 && !stop_)
            pause(busyRounds_ > 0 ? kBusyGatherMs : kGatherMs);
    }
    // A device that went away as the thread was told to stop still gives up
    // its node's reports. What is queued is delivered before the thread
    // counts as ended; a stopping user-interface thread delivers it itself.
    readGoneNode();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return count_ == 0; });
    finished_ = true;
    changed_.notify_all();
}

} // namespace voltaro
