// The HID report-descriptor parser on any bytes.
#include "core/link/hid/ReportDescriptor.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Any descriptor is read or refused; what the sanitizers see is the check.
    [[maybe_unused]] const auto info = voltaro::parseReportDescriptor(data, size);
    return 0;
}
