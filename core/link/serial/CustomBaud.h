#pragma once

namespace voltaro {

// Sets a speed that has no standard termios code (14400, 56000 baud) through
// the kernel's arbitrary-speed interface. Returns whether the kernel took it.
bool setCustomBaudRate(int fd, int baud);

} // namespace voltaro
