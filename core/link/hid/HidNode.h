#pragma once

#include <cstddef>
#include <cstdint>

namespace voltaro {

// One open device node. Closing happens in the destructor; the read thread
// keeps its own reference while it waits or reads, so a node closed by the
// user-interface thread is only released once the thread has let go of it.
class HidNode {
public:
    virtual ~HidNode() = default;

    // Readable when a report waits (or the device is gone).
    virtual int pollFd() const = 0;
    // Reads one report into `buffer`: the bytes read, 0 when the node has
    // nothing (or hung up), -1 with `error` set when the read failed.
    virtual long readReport(std::uint8_t* buffer, std::size_t length, int& error) = 0;
    // Sends one feature report; byte 0 of `report` is the report ID.
    virtual bool setFeature(const std::uint8_t* report, std::size_t length, int& error) = 0;
};

} // namespace voltaro
