#include "widgets/recording/FileWork.h"

#include "core/sys/UniqueFd.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProgressDialog>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace voltaro {

namespace {

constexpr int kSteps = 1000;
constexpr int kUpdateMs = 100;

} // namespace

void FileWork::run(QWidget* parent, const QString& text,
                   const std::function<void(datafiles::Progress&)>& work) {
    datafiles::Progress progress;
    QEventLoop loop;
    // The worker says it is done through an eventfd, not a posted call: a
    // write the loop reads is a handover every checker of threads can see.
    // Should no eventfd be had, the progress timer sees the flag instead.
    std::atomic<bool> finished{false};
    const UniqueFd doneFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    std::unique_ptr<QSocketNotifier> doneNotifier;
    if (doneFd.get() >= 0) {
        doneNotifier = std::make_unique<QSocketNotifier>(doneFd.get(), QSocketNotifier::Read);
        QObject::connect(doneNotifier.get(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    }
    std::thread worker([&] {
        work(progress);
        finished.store(true, std::memory_order_release);
        // Read by the loop when it runs, so a loop not yet started ends at once.
        if (doneFd.get() >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(doneFd.get(), &one, sizeof one);
        }
    });

    // Not modal: a modal one would run the event loop with the user's input
    // from setValue(). Shown by hand, never by its own estimate.
    QProgressDialog dialog(text, QString(), 0, kSteps, parent);
    dialog.setWindowModality(Qt::NonModal);
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    dialog.setMinimumDuration(std::numeric_limits<int>::max());
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer update;
    update.setInterval(kUpdateMs);
    QObject::connect(&update, &QTimer::timeout, &dialog, [&] {
        if (finished.load(std::memory_order_acquire)) {
            loop.quit();
            return;
        }
        if (elapsed.elapsed() >= kShowAfter.count() && !dialog.isVisible())
            dialog.show();
        const qint64 total = progress.total.load(std::memory_order_relaxed);
        const qint64 done = progress.done.load(std::memory_order_relaxed);
        dialog.setValue(total > 0 ? static_cast<int>(std::min(done, total) * kSteps / total) : 0);
    });
    update.start();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    // The loop also ends when the program is told to quit; the work cannot
    // be left running with the table it works on, so it is waited for.
    worker.join();
    QApplication::restoreOverrideCursor();
}

} // namespace voltaro
