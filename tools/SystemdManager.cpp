#include "tools/SystemdManager.h"

#include <cstdint>
#include <cstdlib>
#include <systemd/sd-daemon.h>

namespace voltaro {

ServiceManager systemdManager() {
    ServiceManager m;
    const char* socket = std::getenv("NOTIFY_SOCKET");
    if (!socket || !*socket)
        return m;
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0)
        m.watchdog = std::chrono::microseconds(usec);
    // The variables stay set (sd_notify's 0): voltaro-log starts no program that could take them for its own.
    m.send = [](const std::string& state) { sd_notify(0, state.c_str()); };
    return m;
}

} // namespace voltaro
