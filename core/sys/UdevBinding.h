#pragma once

#include <libudev.h>

#include <memory>
#include <string>

namespace voltaro {

// libudev, loaded at run time so that a system without it (or with a version
// lacking an entry point) still runs the program, only without HID devices.
// Only the header's declarations are used; nothing links against libudev.
class UdevBinding {
public:
    // Every entry point the HID stack and the serial port's identity call. All are found or none is kept.
    struct Api {
        decltype(&::udev_new) udev_new = nullptr;
        decltype(&::udev_unref) udev_unref = nullptr;
        decltype(&::udev_enumerate_new) udev_enumerate_new = nullptr;
        decltype(&::udev_enumerate_unref) udev_enumerate_unref = nullptr;
        decltype(&::udev_enumerate_add_match_subsystem) udev_enumerate_add_match_subsystem = nullptr;
        decltype(&::udev_enumerate_scan_devices) udev_enumerate_scan_devices = nullptr;
        decltype(&::udev_enumerate_get_list_entry) udev_enumerate_get_list_entry = nullptr;
        decltype(&::udev_list_entry_get_next) udev_list_entry_get_next = nullptr;
        decltype(&::udev_list_entry_get_name) udev_list_entry_get_name = nullptr;
        decltype(&::udev_device_new_from_syspath) udev_device_new_from_syspath = nullptr;
        decltype(&::udev_device_new_from_subsystem_sysname) udev_device_new_from_subsystem_sysname = nullptr;
        decltype(&::udev_device_unref) udev_device_unref = nullptr;
        decltype(&::udev_device_get_syspath) udev_device_get_syspath = nullptr;
        decltype(&::udev_device_get_devnode) udev_device_get_devnode = nullptr;
        decltype(&::udev_device_get_parent_with_subsystem_devtype)
            udev_device_get_parent_with_subsystem_devtype = nullptr;
        decltype(&::udev_device_get_property_value) udev_device_get_property_value = nullptr;
        decltype(&::udev_device_get_sysattr_value) udev_device_get_sysattr_value = nullptr;
        decltype(&::udev_monitor_new_from_netlink) udev_monitor_new_from_netlink = nullptr;
        decltype(&::udev_monitor_unref) udev_monitor_unref = nullptr;
        decltype(&::udev_monitor_filter_add_match_subsystem_devtype)
            udev_monitor_filter_add_match_subsystem_devtype = nullptr;
        decltype(&::udev_monitor_enable_receiving) udev_monitor_enable_receiving = nullptr;
        decltype(&::udev_monitor_get_fd) udev_monitor_get_fd = nullptr;
        decltype(&::udev_monitor_receive_device) udev_monitor_receive_device = nullptr;
    };

    UdevBinding() = default;
    ~UdevBinding() { unbind(); }
    UdevBinding(const UdevBinding&) = delete;
    UdevBinding& operator=(const UdevBinding&) = delete;

    // Loads `library` and looks up every entry point, then makes a udev
    // context. Any failure leaves nothing bound.
    bool bind(const std::string& library);
    void unbind();
    bool bound() const { return context_ != nullptr; }

    const Api& api() const { return api_; }
    struct udev* context() const {
        return context_;
    }

private:
    struct LibraryCloser {
        void operator()(void* handle) const;
    };
    std::unique_ptr<void, LibraryCloser> library_;
    Api api_;
    struct udev* context_ = nullptr;
};

} // namespace voltaro
