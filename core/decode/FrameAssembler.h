#pragma once

#include "core/decode/TraceLog.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace voltaro {

// Receives every frame end that assembly sees. `framingHolds` tells whether the
// frame string starts with "A" and ends with "D"; only such frames are decoded.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void frameEnded(std::string_view frameText, bool framingHolds) = 0;
};

// Turns the serial byte stream and the USB cable's input reports into frame
// strings of 14 characters: "A", the low hexadecimal digits of the 12 data
// bytes, "D". State carries over between calls, so a frame may arrive split
// over any number of reads and several frames may arrive in one.
class FrameAssembler {
public:
    static constexpr int kFrameLength = 14;
    // Characters kept of a frame in progress. Only the first 14 are ever
    // examined, so keeping a few more changes nothing but bounds the memory of a
    // stream that never ends a frame.
    static constexpr int kHeldDigits = 32;
    // Meter bytes kept of a USB burst; only the first 14 form the frame.
    static constexpr int kHeldUsbBytes = 32;

    explicit FrameAssembler(FrameSink& sink) : sink_(sink) {}

    // Serial path: the bytes read since the previous poll.
    void DX22KDATA(const std::uint8_t* data, int size);
    // USB path: one input report; `data` holds the `size` bytes after the report ID.
    void HidDataDX22K(std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size);

    // The stream broke off (the port or cable went away, or a link opened):
    // the frame in progress is dropped, so it is never finished with bytes of
    // another stream. A serial frame that has only its leading line feed yet
    // keeps it.
    void discardPartialFrame();

    // Diagnostic copies of USB reports and bursts; nothing is traced when unset.
    void setTrace(AssemblyTrace* trace) { trace_ = trace; }

    // The frame string last handed to the sink (empty between USB frames).
    std::string_view FrameText() const { return {frameText_, static_cast<std::size_t>(frameLength_)}; }
    // The low and the high hexadecimal digits of the held bytes of the frame in progress.
    std::string LowNibbles() const;
    std::string HighNibbles() const;
    std::string UsbHexBuffer() const;
    bool UsbBurstPending() const { return usbBurstPending_; }

private:
    int heldLength() const { return nibbleCount_ < kHeldDigits ? nibbleCount_ : kHeldDigits; }
    void holdSerialBytes(const std::uint8_t* data, std::size_t count);
    void serialFrameEnd();
    void usbFrameEnd();

    FrameSink& sink_;
    AssemblyTrace* trace_ = nullptr;

    // The bytes themselves are held; their digits are written out only for a
    // frame end and the diagnostic strings.
    std::uint8_t heldBytes_[kHeldDigits] = {};
    int nibbleCount_ = 0; // bytes received since the last frame end (may exceed what is held)

    char frameText_[kFrameLength] = {};
    int frameLength_ = 0;

    std::uint8_t usbBytes_[kHeldUsbBytes] = {};
    int usbByteCount_ = 0;
    bool usbBurstPending_ = false;
};

} // namespace voltaro
