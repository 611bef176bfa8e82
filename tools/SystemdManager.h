#pragma once

#include "tools/ServiceNotifier.h"

namespace voltaro {

// systemd as voltaro-log's service manager, through libsystemd's sd_notify:
// a manager only when NOTIFY_SOCKET names one, with the watchdog period
// WATCHDOG_USEC asks for (when it is meant for this process). Linked into
// voltaro-log alone: the library and the tests do without libsystemd.
ServiceManager systemdManager();

} // namespace voltaro
