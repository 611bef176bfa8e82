#pragma once

#include "core/sys/LinkClaim.h"
#include "core/sys/UniqueFd.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QTimer;

namespace voltaro {

enum class TComPortNumber { pnCOM1, pnCOM2, pnCOM3, pnCOM4 };
enum class TComPortBaudRate {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200
};
enum class TComPortDataBits { db5BITS, db6BITS, db7BITS, db8BITS };
enum class TComPortStopBits { sb1BITS, sb1HALFBITS, sb2BITS };
enum class TComPortParity { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum class TComPortHwHandshaking { hhNONE, hhRTSCTS };
enum class TComPortSwHandshaking { shNONE, shXONXOFF };

int baudRateValue(TComPortBaudRate rate);

class TComPortDriver;
// The bytes are valid only during the call.
using TComPortReceiveDataEvent =
    std::function<void(TComPortDriver* sender, const void* dataPtr, std::int32_t dataSize)>;

// A receive-only serial port on POSIX termios, polled by a timer on the
// thread that owns the driver (the user-interface thread): each tick makes
// one non-blocking read into the one receive buffer and hands what arrived
// to `OnReceiveData`. The port is held exclusively while open, with DTR
// raised (unless disabled) and RTS held low.
class TComPortDriver : public QObject {
    Q_OBJECT
public:
    // Maps a port choice (1..4) to its device file.
    using PortResolver = std::function<QString(int number)>;

    explicit TComPortDriver(QObject* parent = nullptr);
    ~TComPortDriver() override;
    TComPortDriver(const TComPortDriver&) = delete;
    TComPortDriver& operator=(const TComPortDriver&) = delete;

    bool Connect();
    // Opens `path` instead of the chosen port's device file: the port's
    // device taken up again under the name it has now.
    bool ConnectTo(const QString& path);
    void Disconnect();
    bool Connected() const { return device_.valid(); }
    void FlushBuffers(bool input, bool output);

    TComPortNumber ComPort() const { return port_; }
    void setComPort(TComPortNumber p);
    TComPortBaudRate ComPortSpeed() const { return speed_; }
    void setComPortSpeed(TComPortBaudRate v);
    TComPortDataBits ComPortDataBits() const { return dataBits_; }
    void setComPortDataBits(TComPortDataBits v);
    TComPortStopBits ComPortStopBits() const { return stopBits_; }
    void setComPortStopBits(TComPortStopBits v);
    TComPortParity ComPortParity() const { return parity_; }
    void setComPortParity(TComPortParity v);
    TComPortHwHandshaking ComPortHwHandshaking() const { return hw_; }
    void setComPortHwHandshaking(TComPortHwHandshaking v);
    TComPortSwHandshaking ComPortSwHandshaking() const { return sw_; }
    void setComPortSwHandshaking(TComPortSwHandshaking v);
    std::uint16_t ComPortInBufSize() const { return inBufSize_; }
    void setComPortInBufSize(std::uint16_t v);
    std::uint16_t ComPortOutBufSize() const { return outBufSize_; }
    void setComPortOutBufSize(std::uint16_t v);
    std::uint16_t ComPortPollingDelay() const { return pollingDelay_; }
    void setComPortPollingDelay(std::uint16_t v);
    bool EnableDTROnOpen() const { return enableDtr_; }
    void setEnableDTROnOpen(bool v);
    void setOnReceiveData(TComPortReceiveDataEvent handler) { onReceiveData_ = std::move(handler); }

    // The open file descriptor, or -1 while closed.
    int handle() const { return device_.get(); }
    // The device file the chosen port opens (or opened, while open).
    QString devicePath() const;
    // The device file a port choice opens, as the port map has it now.
    QString devicePathOf(TComPortNumber p) const;
    // Why the last Connect failed, or why the open port was closed.
    QString lastError() const { return lastError_; }
    // Whether the last failure was a missing permission on the device file.
    bool lastErrorIsPermission() const { return permissionDenied_; }
    // Replaces the port map (tests use a map of their own).
    void setPortResolver(PortResolver r) { resolver_ = std::move(r); }
    bool isPolling() const;
    int pollingInterval() const;
    // Reads the poll timer has made on an open port, since the driver was made.
    std::uint64_t pollCount() const { return polls_; }
    // Line settings applied since the port was opened (counts re-applications).
    int lineSettingsApplied() const { return applyCount_; }

signals:
    // The open port failed (the device went away or hung up) and was closed.
    void portFailed(const QString& reason);

private:
    void poll();
    void applyLineSettings();
    void failWhileOpen(const QString& reason);
    // Stores a line setting; while open, all line settings are applied again.
    template <typename T> void setLineSetting(T& member, T value) {
        member = value;
        if (Connected())
            applyLineSettings();
    }

    TComPortNumber port_ = TComPortNumber::pnCOM2;
    TComPortBaudRate speed_ = TComPortBaudRate::br9600;
    TComPortDataBits dataBits_ = TComPortDataBits::db8BITS;
    TComPortStopBits stopBits_ = TComPortStopBits::sb1BITS;
    TComPortParity parity_ = TComPortParity::ptNONE;
    TComPortHwHandshaking hw_ = TComPortHwHandshaking::hhNONE;
    TComPortSwHandshaking sw_ = TComPortSwHandshaking::shNONE;
    std::uint16_t inBufSize_ = 2048;
    std::uint16_t outBufSize_ = 2048;
    std::uint16_t pollingDelay_ = 50;
    bool enableDtr_ = true;
    TComPortReceiveDataEvent onReceiveData_;

    UniqueFd device_;
    // Held while the port is open: another instance of the program is told
    // who reads it (the port's own exclusive lock names no one).
    std::unique_ptr<LinkClaim> claim_;
    QString openPath_;
    QString lastError_;
    bool permissionDenied_ = false;
    int applyCount_ = 0;
    std::uint64_t polls_ = 0;
    std::vector<std::uint8_t> buffer_;
    QTimer* timer_;
    PortResolver resolver_;
};

// Sets the meter's line: 19200 baud, 7 data bits, odd parity, one stop bit,
// no handshaking. Both programs read the meter with these settings.
void configureMeterLine(TComPortDriver& driver);

} // namespace voltaro
