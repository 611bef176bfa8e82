#pragma once

#include "core/link/serial/TtyIdentity.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

class QTimer;

namespace voltaro {

// Waits for the device of a serial port that went away. It remembers which
// device the port opened (see TtyIdentity) and, while waiting, looks for that
// device at every tick under whatever device file it has now, and opens it.
// A device that is not there, or does not open yet, is looked for again at
// the next tick; no other device is ever opened in its place.
class SerialPortWait : public QObject {
    Q_OBJECT
public:
    // Opens a device file as the port; true when it is open.
    using Opener = std::function<bool(const QString& path)>;
    static constexpr int kIntervalMs = 500;

    explicit SerialPortWait(Opener open, std::string udevLibrary = TtyIdentity::kLibrary);
    ~SerialPortWait() override;
    SerialPortWait(const SerialPortWait&) = delete;
    SerialPortWait& operator=(const SerialPortWait&) = delete;

    // The port opened `path`: its device is the one waited for should it go away.
    void remember(const QString& path);
    // The device file the device was last opened as, and what it is known by.
    QString device() const { return device_; }
    QString identity() const { return identity_; }

    void start();
    void stop();
    bool waiting() const;
    int interval() const;
    // Looks made while waiting, since this was made.
    std::uint64_t pollCount() const { return polls_; }

signals:
    // The device was found and opened; the waiting has stopped.
    void back();

private:
    void poll();

    Opener open_;
    TtyIdentity tty_;
    QString device_;
    QString identity_;
    QTimer* timer_;
    std::uint64_t polls_ = 0;
};

} // namespace voltaro
