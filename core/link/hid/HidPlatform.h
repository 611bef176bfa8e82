#pragma once

#include "core/link/hid/HidNode.h"
#include "core/link/hid/HidTypes.h"
#include "core/link/hid/THidPnPInfo.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace voltaro {

// How the HID stack reaches the system. The controller, the devices and their
// read threads use nothing else, so the same code runs over the real Linux
// platform and over the simulated one of the tests.
//
// Everything but HidNode's calls runs on the user-interface thread; a node is
// used by one read thread at a time, and `open` may be called from it.
class HidPlatform {
public:
    enum class Description { Ok, CannotOpen, CannotIdentify };
    enum class Access { ReadWrite, ReadOnly };

    virtual ~HidPlatform() = default;

    // Binds the system services; false leaves the stack without devices.
    virtual bool bind() = 0;
    virtual void unbind() = 0;
    virtual bool bound() const = 0;

    // The HID interfaces present now, in the system's order.
    virtual std::vector<THidPnPInfo> listInterfaces() = 0;

    // Describing never opens the device node. `attributes` gives CannotOpen
    // when the device is gone and CannotIdentify when it has no readable ids.
    virtual Description attributes(const THidPnPInfo& info, HIDD_ATTRIBUTES& out) = 0;
    // Empty when the device has none.
    virtual QString productString(const THidPnPInfo& info) = 0;
    virtual QString serialString(const THidPnPInfo& info) = 0;
    // Empty when it cannot be read.
    virtual std::vector<std::uint8_t> reportDescriptor(const THidPnPInfo& info) = 0;
    // Whether the user may open the node for reading and writing, found
    // without opening it.
    virtual bool mayReadWrite(const THidPnPInfo& info) = 0;

    // Opens the node; null with `error` set when that fails.
    virtual std::unique_ptr<HidNode> open(const THidPnPInfo& info, Access access, int& error) = 0;

    // Starts watching for devices that come and go: a descriptor that turns
    // readable on a change, or -1 when changes cannot be watched.
    virtual int startWatching() = 0;
    // Takes the changes that made the descriptor readable: the number of
    // events taken, each of which is one device change.
    virtual int takeChanges() = 0;
    virtual void stopWatching() = 0;
};

} // namespace voltaro
