#pragma once

#include "core/sys/UniqueFd.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace voltaro {

class HidNode;
class THidDevice;

// Reads a checked-out device's input reports and hands each one, or each
// failed read, to the user-interface thread, one at a time and in order. The
// thread queues up to `kQueueLength` hand-overs; only a full queue makes it
// wait for the handlers. The queue is long because the system keeps few
// reports for a reader (hidraw 64, a sixteenth of a second of the cable's)
// and drops the rest: while the user-interface thread is busy (saving a long
// table, preparing a report) the reports wait here, as the serial line's
// bytes wait in the terminal's buffers. The user-interface thread takes the queue at most
// once every `kDeliveryPaceMs`: a cable sends a report every millisecond,
// and delivering them in small batches lets the window repaint once for
// several frames instead of once for each, as it does for the serial line's
// polled reads. The thread waits in poll on the node and on a wake-up
// descriptor, so a stop or a closed node is noticed at once. Once reports
// stream in it takes every one waiting and then lets the next few gather
// for `kGatherMs` (hidraw keeps 64), instead of waking for each report;
// `ThreadSleepTime` only bounds one wait and sets the pause after a failed
// read.
//
// Created and stopped by the device on the user-interface thread.
class THidDeviceReadThread {
public:
    // Half a minute of the cable's 1000 reports a second, about 2 MB.
    static constexpr std::size_t kQueueLength = 32768;
    // Longer would save the window a little more but keep a frame from the
    // LCD for longer: at 50 ms the median frame took 46 ms, at 40 ms 32 ms.
    static constexpr int kDeliveryPaceMs = 40;
    // Twenty reports of the cable's, well within what hidraw keeps (64) and
    // within the delivery pace; each round is a wake-up of this thread, and
    // at 10 ms they took a fifth of the link's CPU time.
    static constexpr int kGatherMs = 20;
    // A round that found this many reports waiting (half of what hidraw
    // keeps) woke late: the machine is busy, and for the next
    // `kBusyRounds` rounds (about a second) the thread lets reports gather
    // for only `kBusyGatherMs`, so a late wake-up then has most of hidraw's
    // 64 reports of room, not 44.
    static constexpr int kLateReports = 32;
    static constexpr int kBusyGatherMs = 4;
    static constexpr int kBusyRounds = 200;
    // Reads at most of a device's node once it went away: hidraw keeps 64.
    static constexpr std::size_t kMostLeftOver = 1024;

    // `reportLength`: the input report length with its report-ID byte;
    // `numbered`: the device puts report IDs in front of its reports.
    THidDeviceReadThread(THidDevice& device, std::size_t reportLength, bool numbered);
    ~THidDeviceReadThread();
    THidDeviceReadThread(const THidDeviceReadThread&) = delete;
    THidDeviceReadThread& operator=(const THidDeviceReadThread&) = delete;

    void start();
    // Returns once the thread has ended. While it waits, the reports and
    // errors still queued are delivered here, so neither side waits for the
    // other for ever.
    void stop();
    // Asks the thread to end without waiting for it (used from inside a
    // handler of this thread, where waiting could never finish).
    void requestStop();
    bool stopRequested() const { return stop_.load(); }
    // The device's handles changed: the thread looks at them again now.
    void wake();

    // Delivers the hand-overs queued now, in order (user-interface thread).
    void deliverQueued();
    bool delivering() const { return delivering_; }

    // Counters for tests and benchmarks: waits begun, reads made, reports and
    // errors handed over, wake-ups of the user-interface thread.
    std::uint64_t waits() const { return waits_.load(); }
    std::uint64_t reads() const { return reads_.load(); }
    std::uint64_t reportsHanded() const { return reports_.load(); }
    std::uint64_t errorsHanded() const { return errors_.load(); }
    std::uint64_t wakeUps() const { return wakeUps_.load(); }

    // The report or error handed over last (its bytes with the report-ID byte).
    std::uint32_t NumBytesRead = 0;
    std::uint32_t ErrorCode = 0;

private:
    enum class Pending { None, Data, Error };
    struct HandOver {
        Pending what = Pending::None;
        std::uint32_t value = 0;
        std::vector<std::uint8_t> report;
    };

    void run();
    // Queues a report (the bytes just read) or an error, waiting only while
    // the queue is full, and wakes the user-interface thread if it has not
    // been woken for what is queued already.
    void handOver(Pending what, std::uint32_t value);
    // The user-interface thread was woken: it delivers now, or once the
    // pace allows.
    void signalled();
    // Waits `ms` (one sleep slice by default) unless woken; true when woken.
    bool pause(int ms = -1);
    // Reads the reports waiting on `node` (poll said one is there): how
    // many; after a failed read it has handed the error over and paused,
    // and returns 0.
    int readWaiting(HidNode& node, short revents);
    // Reads the node of a device that went away until it gives no more,
    // hands the reports over and closes it; false when there is none.
    bool readGoneNode();
    void drainWake();

    THidDevice& device_;
    std::vector<std::uint8_t> buffer_; // the read thread's
    const bool numbered_;
    UniqueFd wake_;
    // The thread signals a waiting hand-over through this descriptor, which
    // the user-interface thread watches. Nothing but the signal crosses over
    // it: what is handed over sits under `mutex_`, so a signal that a stop
    // has already served finds nothing to do, and none outlives this object.
    UniqueFd handOverFd_;
    QSocketNotifier handOverNotifier_;
    QTimer paceTimer_;
    QElapsedTimer lastDelivery_;
    std::atomic<bool> stop_{false};
    std::thread thread_;

    std::mutex mutex_;
    std::condition_variable changed_;
    // A ring of hand-overs: `count_` of them from `head_` on are queued; the
    // thread writes only free slots, the user-interface thread reads only
    // queued ones.
    std::vector<HandOver> queue_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    bool woken_ = false; // the user-interface thread knows of what is queued
    int busyRounds_ = 0; // the read thread's: rounds left at the busy pace
    bool finished_ = false;
    bool delivering_ = false; // user-interface thread only

    std::atomic<std::uint64_t> waits_{0};
    std::atomic<std::uint64_t> reads_{0};
    std::atomic<std::uint64_t> reports_{0};
    std::atomic<std::uint64_t> errors_{0};
    std::atomic<std::uint64_t> wakeUps_{0};
};

} // namespace voltaro
