// Test main for widget tests: one QApplication for the whole run, headless
// unless a platform was chosen.
#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Dialogs remember folders in the user's settings; tests keep their own,
    // so neither leaks into the other.
    QTemporaryDir settings;
    setenv("XDG_CONFIG_HOME", qPrintable(settings.path()), 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
