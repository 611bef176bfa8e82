#pragma once

// The one way tests wait: run the event loop until a condition holds.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

namespace voltaro::testing {

// Runs the event loop until `done` holds or `timeoutMs` passes; true when done.
template <typename Done> bool waitUntil(Done done, int timeoutMs = 3000) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Runs the event loop until a timer of `intervalMs` has fired `ticks` times:
// long enough for that many polls of a poller with the same interval, for
// checks that a poller has stopped.
inline bool runTicks(int intervalMs, int ticks) {
    QTimer reference;
    int fired = 0;
    QObject::connect(&reference, &QTimer::timeout, [&fired] { ++fired; });
    reference.start(intervalMs);
    return waitUntil([&] { return fired >= ticks; }, intervalMs * ticks + 3000);
}

} // namespace voltaro::testing
