#pragma once

// Stands between the whole test program and read(2), so a test can act at an
// exact point of a load: once a read of a given file has returned data, the
// test's action runs before that read returns to its caller, and the caller's
// next read sees what the action did. Link ReadInterposer.cpp into the test
// program itself, and export `read` from it (see tests/CMakeLists.txt).

#include <functional>
#include <sys/types.h>

namespace voltaro::testing {

class AfterFirstRead {
public:
    // Runs `action` once, after the first read of the file at `path` (as it
    // is now: a file renamed over it later is another) that returns data.
    AfterFirstRead(const char* path, std::function<void()> action);
    ~AfterFirstRead();
    AfterFirstRead(const AfterFirstRead&) = delete;
    AfterFirstRead& operator=(const AfterFirstRead&) = delete;

    // Reads of the file that returned data; the action ran if this is > 0.
    int reads() const;
};

} // namespace voltaro::testing
