// Records every tcsetattr() request of the test program before passing it on
// to the C library, so a test can tell what the driver asked for even where
// a pseudo-terminal drops part of it.
#include "support/TerminalProbe.h"

#include <dlfcn.h>
#include <map>
#include <mutex>
#include <termios.h>

namespace {

std::mutex requestsLock;
std::map<int, tcflag_t> requests;

} // namespace

extern "C" int tcsetattr(int fd, int action, const struct termios* attributes) noexcept {
    using Next = int (*)(int, int, const struct termios*);
    static const auto next = reinterpret_cast<Next>(::dlsym(RTLD_NEXT, "tcsetattr"));
    if (attributes) {
        const std::lock_guard guard(requestsLock);
        requests[fd] = attributes->c_cflag;
    }
    return next(fd, action, attributes);
}

namespace voltaro::testing {

std::optional<unsigned> requestedControlFlags(int fd) {
    const std::lock_guard guard(requestsLock);
    const auto it = requests.find(fd);
    if (it == requests.end())
        return std::nullopt;
    return it->second;
}

} // namespace voltaro::testing
