// Test main for core tests that need an event loop (timers, queued calls):
// one QCoreApplication for the whole run.
#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    // The claims on ports and cables are this run's own: test programs
    // running side by side use the same simulated device names.
    QTemporaryDir runtime;
    setenv("XDG_RUNTIME_DIR", qPrintable(runtime.path()), 1);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
