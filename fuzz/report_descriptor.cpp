// The HID report-descriptor parser on any bytes.
#include "fuzz/FuzzInput.h"
#include "core/link/hid/ReportDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Any descriptor is read or refused; what the sanitizers see is the check.
    [[maybe_unused]] const auto info = voltaro::parseReportDescriptor(data, size);
    return 0;
}
