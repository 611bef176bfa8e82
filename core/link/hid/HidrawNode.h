#pragma once

#include "core/link/hid/HidNode.h"
#include "core/sys/UniqueFd.h"

namespace voltaro {

// An open /dev/hidrawN. Opened non-blocking: the read thread waits in poll,
// never in read, so that a stop is noticed at once.
class HidrawNode : public HidNode {
public:
    explicit HidrawNode(UniqueFd fd) : fd_(std::move(fd)) {}

    int pollFd() const override { return fd_.get(); }
    long readReport(std::uint8_t* buffer, std::size_t length, int& error) override;
    bool setFeature(const std::uint8_t* report, std::size_t length, int& error) override;

private:
    UniqueFd fd_;
};

} // namespace voltaro
