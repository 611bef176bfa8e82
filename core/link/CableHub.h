#pragma once

#include "core/link/hid/THidDeviceController.h"

#include <memory>
#include <vector>

namespace voltaro {

class CableLink;
class HidPlatform;

// The one HID device controller of a process, shared by the cable links
// that read through it (one meter each). It hears of devices coming and
// going once and tells every link: first each hands back the devices it
// holds but its running cable, then each lists the devices in turn, taking
// those it keeps, then each follows its cable (takes it up again, or waits
// for it). A link alone on its hub keeps every device it is offered, as
// the window's list needs; links sharing a hub keep only the cables they
// are told to read, so the others can have theirs.
// Runs on the thread of its event loop.
class CableHub {
public:
    // `platform`: the system's HID stack when empty. Only one hub (one
    // controller) may exist at a time in a process.
    explicit CableHub(std::shared_ptr<HidPlatform> platform = nullptr);
    ~CableHub();
    CableHub(const CableHub&) = delete;
    CableHub& operator=(const CableHub&) = delete;

    THidDeviceController& controller() { return *controller_; }
    // False without the system's HID services: nothing is ever listed.
    bool hidAvailable() const { return controller_->HidServicesBound(); }
    // The devices plugged in, whoever holds them.
    int pluggedIn() const;

private:
    friend class CableLink;
    // A link joins when it is made (and is listed at once) and leaves when it goes.
    void join(CableLink* link);
    void leave(CableLink* link);
    // The devices are listed again for every link, as after a device change.
    void relist();
    void deviceChange();
    CableLink* holderOf(THidDevice* device) const;

    std::unique_ptr<THidDeviceController> controller_;
    std::vector<CableLink*> links_;
    // The link the devices are offered to while they are listed.
    CableLink* listing_ = nullptr;
    bool changing_ = false;
    bool again_ = false;
};

} // namespace voltaro
