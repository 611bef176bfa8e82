#include "widgets/recording/FileWork.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <limits>
#include <thread>

namespace voltaro {

namespace {

constexpr int kSteps = 1000;
constexpr int kUpdateMs = 100;

} // namespace

void FileWork::run(QWidget* parent, const QString& text,
                   const std::function<void(datafiles::Progress&)>& work) {
    datafiles::Progress progress;
    QEventLoop loop;
    std::thread worker([&] {
        work(progress);
        // Queued: the loop may not have started yet, and then ends at once.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
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
