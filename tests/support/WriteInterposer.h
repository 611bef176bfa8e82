#pragma once

// Stands between the whole test program and write(2), as ReadInterposer.h
// does for read(2): once a write into a regular file in a given folder has
// written data, the test's action runs before that write returns, so a test
// acts at an exact point of a save (whose file is made under a name of its
// own and renamed when done). Link WriteInterposer.cpp into the test program
// itself, and export `write` from it (see tests/CMakeLists.txt).

#include <functional>

namespace voltaro::testing {

class AfterFirstWrite {
public:
    // Runs `action` once, after the first write into a regular file in
    // `folder` (an absolute path without a trailing slash) that wrote data.
    AfterFirstWrite(const char* folder, std::function<void()> action);
    ~AfterFirstWrite();
    AfterFirstWrite(const AfterFirstWrite&) = delete;
    AfterFirstWrite& operator=(const AfterFirstWrite&) = delete;

    // Writes into the folder's files that wrote data; the action ran if this is > 0.
    int writes() const;
};

} // namespace voltaro::testing
