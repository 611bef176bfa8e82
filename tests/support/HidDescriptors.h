#pragma once

// Report descriptors of the scripted devices, written from the USB HID
// class definition's own examples and from the meter cable's layout.

#include <cstdint>
#include <vector>

namespace voltaro::testing {

// Vendor-defined page, no report IDs: an 8-byte input report (a count byte
// and up to seven meter bytes) and a 9-byte feature report (the line setup).
inline const std::vector<std::uint8_t> kCableDescriptor = {
    0x06, 0xA0, 0xFF, // Usage Page (vendor 0xFFA0)
    0x09, 0x01,       // Usage (1)
    0xA1, 0x01,       // Collection (Application)
    0x09, 0x02,       //   Usage (2)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x08,       //   Report Count (8)
    0x81, 0x02,       //   Input (Data, Variable, Absolute)
    0x09, 0x03,       //   Usage (3)
    0x95, 0x09,       //   Report Count (9)
    0xB1, 0x02,       //   Feature (Data, Variable, Absolute)
    0xC0,             // End Collection
};

// The boot mouse of the class definition's examples: three buttons and two
// relative axes, one 3-byte input report.
inline const std::vector<std::uint8_t> kMouseDescriptor = {
    0x05, 0x01, // Usage Page (Generic Desktop)
    0x09, 0x02, // Usage (Mouse)
    0xA1, 0x01, // Collection (Application)
    0x09, 0x01, //   Usage (Pointer)
    0xA1, 0x00, //   Collection (Physical)
    0x05, 0x09, //     Usage Page (Buttons)
    0x19, 0x01, //     Usage Minimum (1)
    0x29, 0x03, //     Usage Maximum (3)
    0x15, 0x00, //     Logical Minimum (0)
    0x25, 0x01, //     Logical Maximum (1)
    0x95, 0x03, //     Report Count (3)
    0x75, 0x01, //     Report Size (1)
    0x81, 0x02, //     Input (Data, Variable, Absolute)
    0x95, 0x01, //     Report Count (1)
    0x75, 0x05, //     Report Size (5)
    0x81, 0x01, //     Input (Constant)
    0x05, 0x01, //     Usage Page (Generic Desktop)
    0x09, 0x30, //     Usage (X)
    0x09, 0x31, //     Usage (Y)
    0x15, 0x81, //     Logical Minimum (-127)
    0x25, 0x7F, //     Logical Maximum (127)
    0x75, 0x08, //     Report Size (8)
    0x95, 0x02, //     Report Count (2)
    0x81, 0x06, //     Input (Data, Variable, Relative)
    0xC0,       //   End Collection
    0xC0,       // End Collection
};

// The boot keyboard of the examples: an 8-byte input report (modifiers,
// reserved byte, six key codes) and a 1-byte output report (five LEDs and padding).
inline const std::vector<std::uint8_t> kKeyboardDescriptor = {
    0x05, 0x01, // Usage Page (Generic Desktop)
    0x09, 0x06, // Usage (Keyboard)
    0xA1, 0x01, // Collection (Application)
    0x05, 0x07, //   Usage Page (Key Codes)
    0x19, 0xE0, //   Usage Minimum (224)
    0x29, 0xE7, //   Usage Maximum (231)
    0x15, 0x00, //   Logical Minimum (0)
    0x25, 0x01, //   Logical Maximum (1)
    0x75, 0x01, //   Report Size (1)
    0x95, 0x08, //   Report Count (8)
    0x81, 0x02, //   Input (Data, Variable, Absolute): modifier byte
    0x95, 0x01, //   Report Count (1)
    0x75, 0x08, //   Report Size (8)
    0x81, 0x01, //   Input (Constant): reserved byte
    0x95, 0x05, //   Report Count (5)
    0x75, 0x01, //   Report Size (1)
    0x05, 0x08, //   Usage Page (LEDs)
    0x19, 0x01, //   Usage Minimum (1)
    0x29, 0x05, //   Usage Maximum (5)
    0x91, 0x02, //   Output (Data, Variable, Absolute): LED report
    0x95, 0x01, //   Report Count (1)
    0x75, 0x03, //   Report Size (3)
    0x91, 0x01, //   Output (Constant): LED report padding
    0x95, 0x06, //   Report Count (6)
    0x75, 0x08, //   Report Size (8)
    0x15, 0x00, //   Logical Minimum (0)
    0x25, 0x65, //   Logical Maximum (101)
    0x05, 0x07, //   Usage Page (Key Codes)
    0x19, 0x00, //   Usage Minimum (0)
    0x29, 0x65, //   Usage Maximum (101)
    0x81, 0x00, //   Input (Data, Array): key codes
    0xC0,       // End Collection
};

// The joystick of the examples: throttle, X and Y in a pushed and popped
// global state, a hat switch and four buttons; 4 bytes of input.
inline const std::vector<std::uint8_t> kJoystickDescriptor = {
    0x05, 0x01,       // Usage Page (Generic Desktop)
    0x09, 0x04,       // Usage (Joystick)
    0xA1, 0x01,       // Collection (Application)
    0x05, 0x02,       //   Usage Page (Simulation Controls)
    0x09, 0xBB,       //   Usage (Throttle)
    0x15, 0x81,       //   Logical Minimum (-127)
    0x25, 0x7F,       //   Logical Maximum (127)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x01,       //   Report Count (1)
    0x81, 0x02,       //   Input (Data, Variable, Absolute)
    0x05, 0x01,       //   Usage Page (Generic Desktop)
    0x09, 0x01,       //   Usage (Pointer)
    0xA1, 0x00,       //   Collection (Physical)
    0x09, 0x30,       //     Usage (X)
    0x09, 0x31,       //     Usage (Y)
    0x95, 0x02,       //     Report Count (2)
    0x81, 0x02,       //     Input (Data, Variable, Absolute)
    0xC0,             //   End Collection
    0x09, 0x39,       //   Usage (Hat switch)
    0x15, 0x00,       //   Logical Minimum (0)
    0x25, 0x03,       //   Logical Maximum (3)
    0x35, 0x00,       //   Physical Minimum (0)
    0x46, 0x0E, 0x01, //   Physical Maximum (270)
    0x65, 0x14,       //   Unit (English Rotation: Angular Position)
    0xA4,             //   Push
    0x75, 0x04,       //   Report Size (4)
    0x95, 0x01,       //   Report Count (1)
    0x81, 0x42,       //   Input (Data, Variable, Absolute, Null State)
    0xB4,             //   Pop: the report size is 8 again
    0x05, 0x09,       //   Usage Page (Buttons)
    0x19, 0x01,       //   Usage Minimum (1)
    0x29, 0x04,       //   Usage Maximum (4)
    0x15, 0x00,       //   Logical Minimum (0)
    0x25, 0x01,       //   Logical Maximum (1)
    0x75, 0x01,       //   Report Size (1)
    0x95, 0x04,       //   Report Count (4)
    0x81, 0x02,       //   Input (Data, Variable, Absolute)
    0xC0,             // End Collection
};

// Numbered reports: input report 1 of 4 bytes, input report 2 of 6 bytes,
// feature report 3 of 2 bytes.
inline const std::vector<std::uint8_t> kNumberedDescriptor = {
    0x06, 0x00, 0xFF, // Usage Page (vendor 0xFF00)
    0x09, 0x01,       // Usage (1)
    0xA1, 0x01,       // Collection (Application)
    0x75, 0x08,       //   Report Size (8)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x85, 0x01,       //   Report ID (1)
    0x95, 0x04,       //   Report Count (4)
    0x09, 0x02,       //   Usage (2)
    0x81, 0x02,       //   Input
    0x85, 0x02,       //   Report ID (2)
    0x95, 0x06,       //   Report Count (6)
    0x09, 0x03,       //   Usage (3)
    0x81, 0x02,       //   Input
    0x85, 0x03,       //   Report ID (3)
    0x95, 0x02,       //   Report Count (2)
    0x09, 0x04,       //   Usage (4)
    0xB1, 0x02,       //   Feature
    0xC0,             // End Collection
};

} // namespace voltaro::testing
