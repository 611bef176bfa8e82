#pragma once

// Helpers for tests that drive the real main window: answering the modal
// dialogs a handler opens, and feeding meter frames into the window.

#include "tools/MeterSimulator.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include <functional>
#include <vector>

namespace voltaro::testing {

// Arms a timer that waits for a modal message box, records its text and
// presses the given button. Returns the recorded text through `seen`.
inline void answerMessageBox(QMessageBox::StandardButton button, QString* seen = nullptr,
                             QMessageBox::Icon* icon = nullptr) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [=]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (seen)
            *seen = box->text();
        if (icon)
            *icon = box->icon();
        if (QAbstractButton* b = box->button(button))
            b->click();
        else
            box->reject();
        poll->stop();
        poll->deleteLater();
    });
    poll->start();
}

// Runs the event loop until `done` holds or `timeoutMs` passes; true when done.
inline bool processUntil(const std::function<bool()>& done, int timeoutMs = 3000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// The serial bytes of `frames`, after the line feed of the frame before them.
inline std::vector<std::uint8_t> serialBytes(const std::vector<sim::MeterFrame>& frames) {
    std::vector<std::uint8_t> bytes = {0x0A};
    for (const auto& f : frames) {
        const auto w = f.wireBytes();
        bytes.insert(bytes.end(), w.begin(), w.end());
    }
    return bytes;
}

inline sim::MeterFrame meterFrame(std::uint8_t function, std::uint8_t range, const char* digits,
                                  std::uint8_t status = 0, std::uint8_t option3 = 10) {
    sim::MeterFrame f;
    f.function = function;
    f.range = range;
    f.status = status;
    f.option3 = option3;
    f.withDigits(digits);
    return f;
}

} // namespace voltaro::testing
