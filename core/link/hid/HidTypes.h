#pragma once

#include <cstdint>

namespace voltaro {

// Vendor, product and version of a HID device interface. `Size` is kept so
// callers that fill it before a query keep working; it is 12 once read.
struct HIDD_ATTRIBUTES {
    std::uint32_t Size = 12;
    std::uint16_t VendorID = 0;
    std::uint16_t ProductID = 0;
    std::uint16_t VersionNumber = 0;
};

// What a device's report descriptor says about its reports. Report byte
// lengths count one byte for the report ID, also for a device that numbers
// no reports; a kind of report the device does not have has length 0.
struct HIDP_CAPS {
    std::uint16_t Usage = 0;
    std::uint16_t UsagePage = 0;
    std::uint16_t InputReportByteLength = 0;
    std::uint16_t OutputReportByteLength = 0;
    std::uint16_t FeatureReportByteLength = 0;
    std::uint16_t NumberLinkCollectionNodes = 0;
};

} // namespace voltaro
