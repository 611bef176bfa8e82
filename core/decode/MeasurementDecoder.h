#pragma once

#include "core/decode/Reading.h"

#include <string_view>

namespace voltaro {

// Turns one frame string into a reading and the panel's display state. It
// holds no state between frames and touches no widget.
class MeasurementDecoder {
public:
    struct Context {
        std::string_view decimalSep = ".";
        int fullScaleCount = 22000;
        int barOverloadPos = 22;
    };

    // Decodes `frameText` ("A", 12 hexadecimal digits, "D") into `out`.
    // Returns false, leaving `out` in an unspecified state, when the frame
    // cannot be decoded: wrong length, a character that is no hexadecimal
    // digit, or a digit position that is not a decimal digit while the reading
    // is not an overload.
    static bool decode(std::string_view frameText, const Context& ctx, DecodedFrame& out);
};

} // namespace voltaro
