// A stand-in for libudev that has every entry point the HID stack looks up
// but one (udev_monitor_receive_device, the last it looks for): binding to
// it must fail as a whole. Nothing here is ever called.
extern "C" {
#define VOLTARO_STUB(name)                                                                                   \
    void name() {}
VOLTARO_STUB(udev_new)
VOLTARO_STUB(udev_unref)
VOLTARO_STUB(udev_enumerate_new)
VOLTARO_STUB(udev_enumerate_unref)
VOLTARO_STUB(udev_enumerate_add_match_subsystem)
VOLTARO_STUB(udev_enumerate_scan_devices)
VOLTARO_STUB(udev_enumerate_get_list_entry)
VOLTARO_STUB(udev_list_entry_get_next)
VOLTARO_STUB(udev_list_entry_get_name)
VOLTARO_STUB(udev_device_new_from_syspath)
VOLTARO_STUB(udev_device_new_from_subsystem_sysname)
VOLTARO_STUB(udev_device_unref)
VOLTARO_STUB(udev_device_get_syspath)
VOLTARO_STUB(udev_device_get_devnode)
VOLTARO_STUB(udev_device_get_parent_with_subsystem_devtype)
VOLTARO_STUB(udev_device_get_property_value)
VOLTARO_STUB(udev_device_get_sysattr_value)
VOLTARO_STUB(udev_monitor_new_from_netlink)
VOLTARO_STUB(udev_monitor_unref)
VOLTARO_STUB(udev_monitor_filter_add_match_subsystem_devtype)
VOLTARO_STUB(udev_monitor_enable_receiving)
VOLTARO_STUB(udev_monitor_get_fd)
}
