#pragma once

#include "core/link/hid/HidTypes.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace voltaro {

// What the stack needs to know of a HID report descriptor.
struct ReportDescriptorInfo {
    HIDP_CAPS caps;
    // The device puts a report ID in front of its reports. The kernel's hidraw
    // hands such reports over with their ID and all others without one.
    bool numbersReports = false;
};

// Parses a report descriptor as the device sends it. The descriptor comes from
// the device, so anything malformed (a truncated item, a report ID of 0 or
// above 255, more pops than pushes or ends than collections, a report longer
// than 65535 bytes) gives nothing rather than a guess.
std::optional<ReportDescriptorInfo> parseReportDescriptor(const std::uint8_t* data, std::size_t size);

} // namespace voltaro
