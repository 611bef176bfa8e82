// The rules of the link state: at most one link open, and every way in and
// out ending in a state the link bar can show.
#include "core/link/LinkState.h"

#include <gtest/gtest.h>

#include <string>

using namespace voltaro;
using S = LinkState::State;

namespace {

// Links that log what was done to them and whose opening can be made to fail.
struct FakeLinks : LinkState::Links {
    bool serialOpens = true;
    bool usbStarts = true;
    bool serialIsOpen = false;
    bool usbIsRunning = false;
    std::string log;

    bool openSerial() override {
        log += "open-serial ";
        serialIsOpen = serialOpens;
        return serialOpens;
    }
    void closeSerial() override {
        log += "close-serial ";
        serialIsOpen = false;
    }
    bool startUsb() override {
        log += "start-usb ";
        usbIsRunning = usbStarts;
        return usbStarts;
    }
    void stopUsb() override {
        log += "stop-usb ";
        usbIsRunning = false;
    }
};

class LinkStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        state.onChanged = [this] {
            ++changes;
            // Whatever the bar is told, at most one link is open at that moment.
            EXPECT_FALSE(links.serialIsOpen && links.usbIsRunning);
        };
    }
    FakeLinks links;
    LinkState state{links};
    int changes = 0;
};

} // namespace

TEST_F(LinkStateTest, SerialOpensAndClosesAndRemembersHowItWasOpened) {
    EXPECT_EQ(state.state(), S::Idle);
    EXPECT_TRUE(state.connectSerial(true));
    EXPECT_EQ(state.state(), S::SerialOpen);
    EXPECT_TRUE(state.serialFromMenu());
    // "COM Connect" on a port opened from the menu opens nothing twice.
    EXPECT_TRUE(state.connectSerial(false));
    EXPECT_FALSE(state.serialFromMenu());
    state.disconnectSerial();
    EXPECT_EQ(state.state(), S::Idle);
    EXPECT_FALSE(state.serialFromMenu());
    EXPECT_EQ(links.log, "open-serial close-serial ");
    EXPECT_EQ(changes, 3);
}

TEST_F(LinkStateTest, APortThatDoesNotOpenLeavesIdle) {
    links.serialOpens = false;
    EXPECT_FALSE(state.connectSerial(false));
    EXPECT_EQ(state.state(), S::Idle);
    EXPECT_EQ(changes, 1);
}

TEST_F(LinkStateTest, UsbClosesAnOpenPortFirst) {
    state.connectSerial(true);
    links.log.clear();
    EXPECT_TRUE(state.connectUsb());
    EXPECT_EQ(links.log, "close-serial start-usb ");
    EXPECT_EQ(state.state(), S::UsbRunning);
    EXPECT_FALSE(links.serialIsOpen);

    // Even when the cable does not start, the port it replaced stays closed.
    state.disconnectUsb();
    state.connectSerial(false);
    links.usbStarts = false;
    EXPECT_FALSE(state.connectUsb());
    EXPECT_EQ(state.state(), S::Idle);
    EXPECT_FALSE(links.serialIsOpen);
}

TEST_F(LinkStateTest, SerialStopsARunningOrCheckedCableFirst) {
    state.connectUsb();
    links.log.clear();
    EXPECT_TRUE(state.connectSerial(true));
    EXPECT_EQ(links.log, "stop-usb open-serial ");
    EXPECT_EQ(state.state(), S::SerialOpen);

    // A cable the check has stopped, or one that is waiting for its cable, holds nothing open
    // and still lets the port open; only the waiting one has something to stop.
    state.disconnectSerial();
    state.connectUsb();
    links.usbIsRunning = false; // the check stops the reading itself
    state.cableCheckFired();
    links.log.clear();
    EXPECT_TRUE(state.connectSerial(false));
    EXPECT_EQ(links.log, "open-serial ");
    state.disconnectSerial();
    state.connectUsb();
    state.cableLost();
    links.log.clear();
    EXPECT_TRUE(state.connectSerial(false));
    EXPECT_EQ(links.log, "stop-usb open-serial ");
}

TEST_F(LinkStateTest, CableCheckStopsOnlyARunningCableAndAPressStartsItAgain) {
    state.cableCheckFired();
    EXPECT_EQ(state.state(), S::Idle);
    state.connectSerial(false);
    state.cableCheckFired();
    EXPECT_EQ(state.state(), S::SerialOpen);
    state.connectUsb();
    state.cableCheckFired();
    EXPECT_EQ(state.state(), S::UsbStopped);
    EXPECT_FALSE(state.usbActive());
    links.log.clear();
    EXPECT_TRUE(state.connectUsb());
    EXPECT_EQ(links.log, "start-usb ");
    EXPECT_EQ(state.state(), S::UsbRunning);
    state.disconnectUsb();
    EXPECT_EQ(state.state(), S::Idle);
    EXPECT_FALSE(links.usbIsRunning);
}

TEST_F(LinkStateTest, ALostCableWaitsUntilItIsBackOrTheButtonIsReleased) {
    state.cableLost();
    EXPECT_EQ(state.state(), S::Idle);
    state.connectUsb();
    state.cableLost();
    EXPECT_EQ(state.state(), S::UsbWaiting);
    EXPECT_TRUE(state.usbActive());
    state.cableCheckFired(); // nothing arrives while waiting, and that is no reason to stop
    EXPECT_EQ(state.state(), S::UsbWaiting);
    state.cableBack();
    EXPECT_EQ(state.state(), S::UsbRunning);
    state.cableLost();
    links.log.clear();
    state.disconnectUsb();
    EXPECT_EQ(links.log, "stop-usb ");
    EXPECT_EQ(state.state(), S::Idle);
    state.cableBack(); // too late: released
    EXPECT_EQ(state.state(), S::Idle);
}

TEST_F(LinkStateTest, StopFromTheMenuAndALostPortLeaveTheCableAlone) {
    state.connectUsb();
    links.log.clear();
    state.disconnectSerial();
    state.serialLost();
    EXPECT_EQ(links.log, "");
    EXPECT_EQ(state.state(), S::UsbRunning);
}

TEST_F(LinkStateTest, ALostPortWaitsUntilItIsBackOrReleasedAndACablePressEndsTheWaiting) {
    state.serialBack(); // nothing waits
    EXPECT_EQ(state.state(), S::Idle);
    state.connectSerial(true);
    links.log.clear();
    links.serialIsOpen = false; // the driver has closed the port itself
    state.serialLost();
    EXPECT_EQ(state.state(), S::SerialWaiting);
    EXPECT_TRUE(state.serialActive());
    EXPECT_TRUE(state.serialFromMenu());
    // Connecting while waiting opens nothing in the lost device's place.
    EXPECT_FALSE(state.connectSerial(true));
    EXPECT_EQ(state.state(), S::SerialWaiting);
    EXPECT_EQ(links.log, "");
    links.serialIsOpen = true;
    state.serialBack();
    EXPECT_EQ(state.state(), S::SerialOpen);
    EXPECT_TRUE(state.serialFromMenu());

    links.serialIsOpen = false;
    state.serialLost();
    state.disconnectSerial();
    EXPECT_EQ(links.log, "close-serial ");
    EXPECT_EQ(state.state(), S::Idle);
    EXPECT_FALSE(state.serialFromMenu());
    state.serialBack(); // too late: released
    EXPECT_EQ(state.state(), S::Idle);

    state.connectSerial(false);
    links.serialIsOpen = false;
    state.serialLost();
    links.log.clear();
    EXPECT_TRUE(state.connectUsb());
    EXPECT_EQ(links.log, "close-serial start-usb ");
    EXPECT_EQ(state.state(), S::UsbRunning);
}
