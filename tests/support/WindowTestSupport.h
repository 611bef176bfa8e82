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
#include <memory>
#include <vector>

namespace voltaro::testing {

// Arms a timer that waits for a modal message box, records its text and
// presses the given button. Returns the recorded text through `seen`.
inline void answerMessageBox(QMessageBox::StandardButton button, QString* seen = nullptr,
                             QMessageBox::Icon* icon = nullptr) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(10);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, poll, [=]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            // A box that never comes must not be answered in a later test.
            if (started->elapsed() > 5000) {
                poll->stop();
                poll->deleteLater();
            }
            return;
        }
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

#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

#include <memory>

namespace voltaro::testing {

// Arms a timer that waits for a modal file dialog, types `path` into its
// name field (as a user may type a whole path) and accepts it; an empty path
// cancels the dialog instead. Gives up after a few seconds.
inline void answerFileDialog(const QString& path) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(20);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, poll, [=]() {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            if (started->elapsed() > 5000) {
                poll->stop();
                poll->deleteLater();
            }
            return;
        }
        poll->stop();
        poll->deleteLater();
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        const QFileInfo info(path);
        // Open the nearest existing folder above the file.
        QFileInfo folder(info.absolutePath());
        while (!folder.isDir() && folder.absoluteFilePath() != folder.absolutePath())
            folder.setFile(folder.absolutePath());
        dialog->setDirectory(folder.absoluteFilePath());
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(info.absoluteFilePath());
        else
            dialog->selectFile(info.absoluteFilePath());
        QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
    });
    poll->start();
}

} // namespace voltaro::testing
