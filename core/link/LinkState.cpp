#include "core/link/LinkState.h"

namespace voltaro {

void LinkState::enter(State s) {
    state_ = s;
    if (s != State::SerialOpen && s != State::SerialWaiting)
        serialFromMenu_ = false;
    if (onChanged)
        onChanged();
}

bool LinkState::connectSerial(bool fromMenu) {
    if (usbActive())
        links_.stopUsb();
    if (serialActive()) {
        // Already open, or waiting for the device it had: only how it was
        // opened changes what the bar shows.
        serialFromMenu_ = fromMenu;
        enter(state_);
        return state_ == State::SerialOpen;
    }
    if (!links_.openSerial()) {
        enter(State::Idle);
        return false;
    }
    serialFromMenu_ = fromMenu;
    enter(State::SerialOpen);
    return true;
}

void LinkState::disconnectSerial() {
    // Closing is harmless when nothing is open, and the menu's STOP can come
    // at any time; only a running cable is left alone.
    if (usbActive())
        return;
    links_.closeSerial();
    enter(State::Idle);
}

void LinkState::serialLost() {
    if (state_ == State::SerialOpen)
        enter(State::SerialWaiting);
}

void LinkState::serialBack() {
    if (state_ == State::SerialWaiting)
        enter(State::SerialOpen);
}

bool LinkState::connectUsb() {
    if (serialActive())
        links_.closeSerial();
    if (!links_.startUsb()) {
        enter(State::Idle);
        return false;
    }
    enter(State::UsbRunning);
    return true;
}

void LinkState::disconnectUsb() {
    if (usbActive())
        links_.stopUsb();
    enter(State::Idle);
}

void LinkState::cableCheckFired() {
    if (state_ == State::UsbRunning)
        enter(State::UsbStopped);
}

void LinkState::cableLost() {
    if (state_ == State::UsbRunning)
        enter(State::UsbWaiting);
}

void LinkState::cableBack() {
    if (state_ == State::UsbWaiting)
        enter(State::UsbRunning);
}

} // namespace voltaro
