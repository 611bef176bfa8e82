// Test main for widget tests: one QApplication for the whole run, headless
// unless a platform was chosen.
#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

// Each test starts with a journal folder of its own: what the windows of one
// test leave behind is never offered for recovery to the next.
class FreshStateFolder : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        folder_ = std::make_unique<QTemporaryDir>();
        setenv("XDG_STATE_HOME", qPrintable(folder_->path()), 1);
    }
    void OnTestEnd(const ::testing::TestInfo&) override { folder_.reset(); }
    std::unique_ptr<QTemporaryDir> folder_;
};

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Dialogs remember folders in the user's settings; tests keep their own,
    // so neither leaks into the other.
    QTemporaryDir settings;
    setenv("XDG_CONFIG_HOME", qPrintable(settings.path()), 1);
    // The claims on ports and cables are this run's own: test programs
    // running side by side use the same simulated device names.
    QTemporaryDir runtime;
    setenv("XDG_RUNTIME_DIR", qPrintable(runtime.path()), 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshStateFolder);
    return RUN_ALL_TESTS();
}
