#pragma once

#include <functional>

namespace voltaro {

// Which link to the meter is open, and the rule that at most one is: opening
// one link first closes the other. The link bar renders this state; the
// opening and closing itself is done by whoever owns the links.
class LinkState {
public:
    enum class State {
        Idle,
        SerialOpen,
        SerialWaiting, // the port's device went away while open: the link goes on when it is back
        UsbRunning,
        UsbWaiting, // the cable went away while running: the link goes on when it comes back
        UsbStopped, // stopped by the cable check: nothing runs, a press starts the cable again
    };

    // The two links, as their owner opens and closes them.
    class Links {
    public:
        virtual ~Links() = default;
        // True when the port opened; on false it is closed and nothing is open.
        virtual bool openSerial() = 0;
        virtual void closeSerial() = 0;
        // True when the cable runs; on false nothing of it is left running.
        virtual bool startUsb() = 0;
        virtual void stopUsb() = 0;
    };

    explicit LinkState(Links& links) : links_(links) {}
    LinkState(const LinkState&) = delete;
    LinkState& operator=(const LinkState&) = delete;

    State state() const { return state_; }
    // The serial link was opened from the Connect menu or its hidden panel,
    // which leaves "USB Connect" in view.
    bool serialFromMenu() const { return serialFromMenu_; }
    bool serialOpen() const { return state_ == State::SerialOpen; }
    // The serial link holds "COM Connect" down: open, or waiting for its device.
    bool serialActive() const { return state_ == State::SerialOpen || state_ == State::SerialWaiting; }
    // The cable link holds the button down: running, or waiting for its cable.
    bool usbActive() const { return state_ == State::UsbRunning || state_ == State::UsbWaiting; }

    // Each of these ends in a consistent state and then tells `onChanged`.
    // Opening the serial link closes a running cable first; true when the port opened.
    // While waiting for the port's device it goes on waiting (and returns false).
    bool connectSerial(bool fromMenu);
    // Closes the port, or stops waiting for it.
    void disconnectSerial();
    // The open port failed and its owner closed it: the link waits for the device.
    void serialLost();
    // The device waited for is back and its owner has the port open again.
    void serialBack();
    // Starting the cable closes an open port (or stops waiting for it) first; true when the cable runs.
    bool connectUsb();
    // The user released "USB Connect": whatever of the cable runs stops.
    void disconnectUsb();
    // The cable delivered only empty reports: reading has stopped.
    void cableCheckFired();
    // The running cable was unplugged, and is back (its owner has it reading again).
    void cableLost();
    void cableBack();

    std::function<void()> onChanged;

private:
    void enter(State s);

    Links& links_;
    State state_ = State::Idle;
    bool serialFromMenu_ = false;
};

} // namespace voltaro
