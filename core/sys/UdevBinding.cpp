#include "core/sys/UdevBinding.h"

#include <dlfcn.h>

namespace voltaro {

namespace {

template <typename F> bool lookUp(void* library, const char* name, F& target) {
    void* address = ::dlsym(library, name);
    target = reinterpret_cast<F>(address);
    return address != nullptr;
}

} // namespace

void UdevBinding::LibraryCloser::operator()(void* handle) const {
    if (handle)
        ::dlclose(handle);
}

bool UdevBinding::bind(const std::string& library) {
    if (bound())
        return true;
    // RTLD_LOCAL: the lookups below must find the names in this library and
    // its own dependencies, never in whatever else the process has loaded.
    library_.reset(::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!library_)
        return false;
    Api api;
    void* lib = library_.get();
    const bool found =
        lookUp(lib, "udev_new", api.udev_new) && lookUp(lib, "udev_unref", api.udev_unref) &&
        lookUp(lib, "udev_enumerate_new", api.udev_enumerate_new) &&
        lookUp(lib, "udev_enumerate_unref", api.udev_enumerate_unref) &&
        lookUp(lib, "udev_enumerate_add_match_subsystem", api.udev_enumerate_add_match_subsystem) &&
        lookUp(lib, "udev_enumerate_scan_devices", api.udev_enumerate_scan_devices) &&
        lookUp(lib, "udev_enumerate_get_list_entry", api.udev_enumerate_get_list_entry) &&
        lookUp(lib, "udev_list_entry_get_next", api.udev_list_entry_get_next) &&
        lookUp(lib, "udev_list_entry_get_name", api.udev_list_entry_get_name) &&
        lookUp(lib, "udev_device_new_from_syspath", api.udev_device_new_from_syspath) &&
        lookUp(lib, "udev_device_new_from_subsystem_sysname", api.udev_device_new_from_subsystem_sysname) &&
        lookUp(lib, "udev_device_unref", api.udev_device_unref) &&
        lookUp(lib, "udev_device_get_syspath", api.udev_device_get_syspath) &&
        lookUp(lib, "udev_device_get_devnode", api.udev_device_get_devnode) &&
        lookUp(lib, "udev_device_get_parent_with_subsystem_devtype",
               api.udev_device_get_parent_with_subsystem_devtype) &&
        lookUp(lib, "udev_device_get_property_value", api.udev_device_get_property_value) &&
        lookUp(lib, "udev_device_get_sysattr_value", api.udev_device_get_sysattr_value) &&
        lookUp(lib, "udev_monitor_new_from_netlink", api.udev_monitor_new_from_netlink) &&
        lookUp(lib, "udev_monitor_unref", api.udev_monitor_unref) &&
        lookUp(lib, "udev_monitor_filter_add_match_subsystem_devtype",
               api.udev_monitor_filter_add_match_subsystem_devtype) &&
        lookUp(lib, "udev_monitor_enable_receiving", api.udev_monitor_enable_receiving) &&
        lookUp(lib, "udev_monitor_get_fd", api.udev_monitor_get_fd) &&
        lookUp(lib, "udev_monitor_receive_device", api.udev_monitor_receive_device);
    struct udev* context = found ? api.udev_new() : nullptr;
    if (!context) {
        library_.reset();
        return false;
    }
    api_ = api;
    context_ = context;
    return true;
}

void UdevBinding::unbind() {
    if (context_)
        api_.udev_unref(context_);
    context_ = nullptr;
    api_ = Api{};
    library_.reset();
}

} // namespace voltaro
