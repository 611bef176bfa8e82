#pragma once

#include "core/link/hid/HidPlatform.h"
#include "core/sys/UdevBinding.h"

#include <map>
#include <string>

namespace voltaro {

// HID on Linux: libudev lists the hidraw interfaces and describes them from
// sysfs, the hidraw nodes carry the reports, and a udev monitor on the hidraw
// subsystem tells when devices come and go.
//
// Describing never opens a node: a desktop gives its user no access to most
// HID nodes (keyboards, mice), and listing must not touch them anyway.
class LinuxHidPlatform : public HidPlatform {
public:
    static constexpr const char* kLibrary = "libudev.so.1";

    explicit LinuxHidPlatform(std::string library = kLibrary) : library_(std::move(library)) {}
    ~LinuxHidPlatform() override;

    bool bind() override;
    void unbind() override;
    bool bound() const override { return udev_.bound(); }

    std::vector<THidPnPInfo> listInterfaces() override;
    Description attributes(const THidPnPInfo& info, HIDD_ATTRIBUTES& out) override;
    QString productString(const THidPnPInfo& info) override;
    QString serialString(const THidPnPInfo& info) override;
    std::vector<std::uint8_t> reportDescriptor(const THidPnPInfo& info) override;
    bool mayReadWrite(const THidPnPInfo& info) override;
    std::unique_ptr<HidNode> open(const THidPnPInfo& info, Access access, int& error) override;

    int startWatching() override;
    int takeChanges() override;
    void stopWatching() override;

private:
    struct DeviceRef;
    // The string of the USB device above `info` (`product`, `serial`), or,
    // for a HID device that is not on USB, the hid device's property
    // `hidProperty` (HID_NAME, HID_UNIQ).
    QString deviceString(const THidPnPInfo& info, const char* usbAttribute, const char* hidProperty);
    // The port path of the USB device `dev` is on; empty when it is not on USB.
    QString portPath(const DeviceRef& dev) const;

    std::string library_;
    UdevBinding udev_;
    struct udev_monitor* monitor_ = nullptr;
    // DeviceInstance numbers by sysfs path and the inode of its directory: a
    // device plugged in again gets a new directory, so a new number, even
    // when it takes the same hidraw name.
    std::map<std::string, std::uint32_t> instances_;
    std::uint32_t nextInstance_ = 1;
};

} // namespace voltaro
