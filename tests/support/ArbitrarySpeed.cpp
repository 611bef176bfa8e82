// Kept apart: the kernel's termios2 header cannot be included next to <termios.h>.
#include "support/TerminalProbe.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace voltaro::testing {

std::optional<ArbitrarySpeed> arbitrarySpeed(int fd) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0 || (t.c_cflag & CBAUD) != BOTHER)
        return std::nullopt;
    return ArbitrarySpeed{t.c_ispeed, t.c_ospeed};
}

bool acceptsArbitrarySpeed(int fd, unsigned baud) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_cflag = (t.c_cflag & ~CBAUD) | BOTHER;
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    if (ioctl(fd, TCSETS2, &t) != 0)
        return false;
    const auto kept = arbitrarySpeed(fd);
    return kept && kept->input == baud && kept->output == baud;
}

} // namespace voltaro::testing
