#pragma once

// What a terminal was asked to do and what it keeps. A pseudo-terminal keeps
// the speed, stop bits and most flags but always reports 8 data bits without
// parity, so tests read those from the request the program made instead.

#include <optional>

namespace voltaro::testing {

// The control flags (c_cflag) last handed to tcsetattr() for `fd` by this
// process, or nothing when none were.
std::optional<unsigned> requestedControlFlags(int fd);

struct ArbitrarySpeed {
    unsigned input;
    unsigned output;
};

// The speeds of a terminal set as plain numbers rather than standard codes,
// or nothing when its speed is a standard code (or cannot be read).
std::optional<ArbitrarySpeed> arbitrarySpeed(int fd);

// Whether the terminal `fd` takes an arbitrary speed; sets it as a side effect.
bool acceptsArbitrarySpeed(int fd, unsigned baud);

} // namespace voltaro::testing
