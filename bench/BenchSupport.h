#pragma once

// What the benchmarks that drive the window or the HID stack share: CPU time
// of the process and of the calling thread, and the meter's frames as the
// simulated USB cable sends them.
#include "tools/MeterSimulator.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <sys/resource.h>
#include <vector>

namespace voltaro::bench {

inline double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

inline double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

inline const std::vector<std::uint8_t> kEmptyReport = {0xF0, 0, 0, 0, 0, 0, 0, 0};

// The meter's frame as the cable carries it: two data reports, then one
// without data that ends the burst.
inline std::vector<std::vector<std::uint8_t>> cableReports(const voltaro::sim::MeterFrame& f) {
    const auto bytes = f.wireBytes();
    std::vector<std::vector<std::uint8_t>> reports;
    for (int part = 0; part < 2; ++part) {
        std::vector<std::uint8_t> r(8, 0xF7);
        std::copy_n(bytes.begin() + part * 7, 7, r.begin() + 1);
        reports.push_back(std::move(r));
    }
    reports.push_back(kEmptyReport);
    return reports;
}

} // namespace voltaro::bench
