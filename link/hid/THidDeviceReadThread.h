#pragma once

#include "link/UniqueFd.h"

#include <QSocketNotifier>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace voltaro {

class THidDevice;

// Reads a checked-out device's input reports and hands each one, or each
// failed read, to the user-interface thread, one at a time and in order: a
// hand-over waits until the handler of the one before has returned. The
// thread reads the next report into a second buffer meanwhile, so a handler
// that returns before the next report arrives costs the thread no wake-up of
// its own. It waits in poll on the node and on a wake-up descriptor, so a
// stop or a closed node is noticed at once; `ThreadSleepTime` only bounds one
// wait and sets the pause after a failed read.
//
// Created and stopped by the device on the user-interface thread.
class THidDeviceReadThread {
public:
    // `reportLength`: the input report length with its report-ID byte;
    // `numbered`: the device puts report IDs in front of its reports.
    THidDeviceReadThread(THidDevice& device, std::size_t reportLength, bool numbered);
    ~THidDeviceReadThread();
    THidDeviceReadThread(const THidDeviceReadThread&) = delete;
    THidDeviceReadThread& operator=(const THidDeviceReadThread&) = delete;

    void start();
    // Returns once the thread has ended. While it waits, the report or error
    // the thread is handing over is delivered here, so neither side waits
    // for the other for ever.
    void stop();
    // Asks the thread to end without waiting for it (used from inside a
    // handler of this thread, where waiting could never finish).
    void requestStop();
    bool stopRequested() const { return stop_.load(); }
    // The device's handles changed: the thread looks at them again now.
    void wake();

    // Delivers the hand-over that is waiting, if any (user-interface thread).
    void deliverPending();
    bool delivering() const { return delivering_; }

    // Counters for tests and benchmarks: waits begun, reads made, reports and
    // errors handed over.
    std::uint64_t waits() const { return waits_.load(); }
    std::uint64_t reads() const { return reads_.load(); }
    std::uint64_t reportsHanded() const { return reports_.load(); }
    std::uint64_t errorsHanded() const { return errors_.load(); }

    // The report or error handed over last (its bytes with the report-ID byte).
    std::uint32_t NumBytesRead = 0;
    std::uint32_t ErrorCode = 0;

private:
    enum class Pending { None, Data, Error };

    void run();
    // Waits until the hand-over before has been delivered, then hands this
    // one over and returns at once: data from the buffer just filled.
    void handOver(Pending what, std::uint32_t value);
    // Waits one sleep slice unless woken; true when woken.
    bool pause();
    void drainWake();

    THidDevice& device_;
    // The thread fills one buffer while the other may be being delivered.
    std::vector<std::uint8_t> buffers_[2];
    int filling_ = 0; // the read thread's
    int pendingBuffer_ = 0;
    const bool numbered_;
    UniqueFd wake_;
    // The thread signals a waiting hand-over through this descriptor, which
    // the user-interface thread watches. Nothing but the signal crosses over
    // it: what is handed over sits under `mutex_`, so a signal that a stop
    // has already served finds nothing to do, and none outlives this object.
    UniqueFd handOverFd_;
    QSocketNotifier handOverNotifier_;
    std::atomic<bool> stop_{false};
    std::thread thread_;

    std::mutex mutex_;
    std::condition_variable changed_;
    Pending pending_ = Pending::None;
    std::uint32_t pendingValue_ = 0;
    bool finished_ = false;
    bool delivering_ = false; // user-interface thread only

    std::atomic<std::uint64_t> waits_{0};
    std::atomic<std::uint64_t> reads_{0};
    std::atomic<std::uint64_t> reports_{0};
    std::atomic<std::uint64_t> errors_{0};
};

} // namespace voltaro
