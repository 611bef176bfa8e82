#pragma once

// What the fuzz targets share: the entry point libFuzzer calls, which the
// replay driver calls too, and a way to stop on a fault a check has found.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace voltaro::fuzz {

// A check failed: the input shows a fault. Aborting makes libFuzzer keep the
// input and the replay test fail.
[[noreturn]] inline void fault(const char* what) {
    std::fprintf(stderr, "fault: %s\n", what);
    std::abort();
}

} // namespace voltaro::fuzz
