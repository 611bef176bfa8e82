#pragma once

#include "core/link/serial/SerialPortWait.h"
#include "core/link/serial/TComPortDriver.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

namespace voltaro {

// The link to the meter through a serial port, for the window and
// voltaro-log alike: the driver set to the meter's line, the port chosen
// (COM1 to COM4, or a device file), and the wait for a port whose device
// went away while open, which takes the same device up again under
// whatever device file it has when it is back. Runs on the thread of its
// event loop; the bytes are handed over there.
class SerialLink : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,
        Open,
        Waiting, // the port's device went away while open: taken up again when it is back
    };
    // Why a port did not open.
    enum class Failure { None, Missing, Permission, Busy };
    using ByteHandler = std::function<void(const std::uint8_t* data, int size)>;

    explicit SerialLink(QObject* parent = nullptr);
    ~SerialLink() override;

    TComPortDriver& driver() { return driver_; }
    const TComPortDriver& driver() const { return driver_; }
    const SerialPortWait& portWait() const { return wait_; }

    // The port: one of the four choices, or a name given by the user, which
    // is "COM1" to "COM4" (any case) or a device file.
    void choosePort(TComPortNumber port) { driver_.setComPort(port); }
    void choosePort(const QString& name);
    // Whether the port was given as a device file rather than a COM name.
    bool namedDevice() const { return byName_; }
    // The chosen port for messages: "COMn (device file)", or the device file
    // given by name.
    QString label() const;
    // Whether a port that fails is waited for (it is unless told otherwise);
    // without, the link is idle after it failed.
    void setWaitWhenLost(bool wait) { waitWhenLost_ = wait; }

    void setByteHandler(ByteHandler handler);

    // Opens the chosen port; on false nothing is open, and failure() and
    // lastError() say why.
    bool open();
    // Closes the port, or stops waiting for it.
    void close();
    State state() const { return state_; }
    Failure failure() const { return failure_; }
    QString lastError() const { return driver_.lastError(); }
    // The device file open, or waited for.
    QString device() const;

signals:
    // The open port failed and was closed (`device`, `reason`); the link
    // now waits for it, or is idle when it does not wait.
    void lost(const QString& device, const QString& reason);
    // The device waited for is open again as `device`: the bytes that come
    // next are of another stream than a frame in progress.
    void back(const QString& device);

private:
    void failed(const QString& reason);

    TComPortDriver driver_;
    SerialPortWait wait_{[this](const QString& path) { return driver_.ConnectTo(path); }};
    ByteHandler handler_;
    State state_ = State::Idle;
    Failure failure_ = Failure::None;
    bool waitWhenLost_ = true;
    bool byName_ = false;
    QString name_;
};

} // namespace voltaro
