#include "core/decode/FrameAssembler.h"

#include <algorithm>
#include <cstring>

namespace voltaro {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kLineFeed = 0x0A;

void appendByteHex(std::string& s, std::uint8_t b) {
    s += kHex[b >> 4];
    s += kHex[b & 0x0F];
}

} // namespace

void FrameAssembler::DX22KDATA(const std::uint8_t* data, int size) {
    const std::uint8_t* p = data;
    const std::uint8_t* const end = data + (size > 0 ? size : 0);
    while (p < end) {
        // Everything up to and with the next carriage return, or the rest of the read.
        const auto* cr = static_cast<const std::uint8_t*>(std::memchr(p, kCarriageReturn, end - p));
        const std::uint8_t* const stop = cr ? cr + 1 : end;
        holdSerialBytes(p, static_cast<std::size_t>(stop - p));
        p = stop;
        if (cr)
            serialFrameEnd();
    }
}

void FrameAssembler::holdSerialBytes(const std::uint8_t* data, std::size_t count) {
    if (nibbleCount_ < kHeldDigits)
        std::memcpy(heldBytes_ + nibbleCount_, data,
                    std::min<std::size_t>(count, kHeldDigits - nibbleCount_));
    const std::int64_t total = static_cast<std::int64_t>(nibbleCount_) + static_cast<std::int64_t>(count);
    nibbleCount_ = total < INT32_MAX ? static_cast<int>(total) : INT32_MAX;
}

void FrameAssembler::serialFrameEnd() {
    const int n = heldLength() < kFrameLength ? heldLength() : kFrameLength;
    for (int i = 0; i < n; ++i)
        frameText_[i] = kHex[heldBytes_[i] & 0x0F];
    frameLength_ = n;
    const bool holds = n == kFrameLength && frameText_[0] == 'A' && frameText_[kFrameLength - 1] == 'D';
    // The strings are emptied before the sink runs: whatever the decoder makes
    // of this frame, the next byte starts a new one.
    nibbleCount_ = 0;
    sink_.frameEnded(FrameText(), holds);
}

std::string FrameAssembler::LowNibbles() const {
    std::string s(static_cast<std::size_t>(heldLength()), '\0');
    for (int i = 0; i < heldLength(); ++i)
        s[i] = kHex[heldBytes_[i] & 0x0F];
    return s;
}

std::string FrameAssembler::HighNibbles() const {
    std::string s(static_cast<std::size_t>(heldLength()), '\0');
    for (int i = 0; i < heldLength(); ++i)
        s[i] = kHex[heldBytes_[i] >> 4];
    return s;
}

void FrameAssembler::discardPartialFrame() {
    // A stream broken off right after a frame keeps the line feed that ended
    // it: it starts the next frame as it would have on the same stream, and
    // bytes from the middle of a frame cannot make up a whole one behind it.
    const bool onlyLineFeed = nibbleCount_ == 1 && heldBytes_[0] == kLineFeed;
    if (!onlyLineFeed)
        nibbleCount_ = 0;
    usbByteCount_ = 0;
    usbBurstPending_ = false;
}

std::string FrameAssembler::UsbHexBuffer() const {
    std::string s;
    for (int i = 0; i < usbByteCount_ && i < kHeldUsbBytes; ++i)
        appendByteHex(s, usbBytes_[i]);
    return s;
}

void FrameAssembler::HidDataDX22K(std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size) {
    if (size > 0) {
        const int count = data[0] & 0x0F;
        if (count >= 1 && count <= 9) {
            usbBurstPending_ = true;
            // A count larger than the bytes present takes only those present.
            for (int k = 0; k < count && k + 1 < size; ++k) {
                if (usbByteCount_ < kHeldUsbBytes)
                    usbBytes_[usbByteCount_] = data[k + 1];
                if (usbByteCount_ < INT32_MAX)
                    ++usbByteCount_;
            }
            if (trace_) {
                std::string line = "R ";
                appendByteHex(line, reportId);
                line += "  ";
                for (int i = 0; i < size; ++i) {
                    appendByteHex(line, data[i]);
                    line += ' ';
                }
                trace_->HistoryListBox.add(line);
            }
            return;
        }
    }
    if (usbBurstPending_)
        usbFrameEnd();
    usbBurstPending_ = false;
}

void FrameAssembler::usbFrameEnd() {
    const int held = usbByteCount_ < kHeldUsbBytes ? usbByteCount_ : kHeldUsbBytes;
    const int n = held < kFrameLength ? held : kFrameLength;
    char digits[kFrameLength];
    for (int i = 0; i < n; ++i)
        digits[i] = kHex[usbBytes_[i] & 0x0F];
    if (trace_) {
        trace_->Memo2.add(UsbHexBuffer());
        trace_->Memo1.add(std::string_view(digits, n));
    }
    // A burst holds the 12 data bytes, CR and LF; bringing the line feed's "A"
    // to the front gives the serial path's layout. A short burst has no 14th
    // digit to move and keeps its first 13.
    if (n == kFrameLength) {
        frameText_[0] = digits[kFrameLength - 1];
        for (int i = 1; i < kFrameLength; ++i)
            frameText_[i] = digits[i - 1];
    } else {
        for (int i = 0; i < n; ++i)
            frameText_[i] = digits[i];
    }
    frameLength_ = n;
    const bool holds = n == kFrameLength && frameText_[0] == 'A' && frameText_[kFrameLength - 1] == 'D';
    usbByteCount_ = 0;
    usbBurstPending_ = false;
    sink_.frameEnded(FrameText(), holds);
    // On the USB path the frame string is empty between frames.
    frameLength_ = 0;
}

} // namespace voltaro
