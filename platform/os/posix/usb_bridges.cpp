// The bridges through libudev: USB interfaces whose driver is cp210x, their device's ids and
// serial, and the tty below each interface.
#include <libudev.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

#include "platform/os/usb_bridges.h"

namespace platform {
namespace {

struct UdevFree {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevFree>;

std::string attribute(udev_device* device, const char* name) {
    const char* value = udev_device_get_sysattr_value(device, name);
    return value ? value : "";
}

long numberAttribute(udev_device* device, const char* name, int base) {
    std::string text = attribute(device, name);
    return text.empty() ? 0 : std::strtol(text.c_str(), nullptr, base);
}

// The serial line below `interface`: its device node, or /dev/<kernel name> when udev gives none.
std::string ttyBelow(udev* u, udev_device* interface) {
    UdevPtr<udev_enumerate> e(udev_enumerate_new(u));
    if (!e) return {};
    udev_enumerate_add_match_subsystem(e.get(), "tty");
    udev_enumerate_add_match_parent(e.get(), interface);
    udev_enumerate_scan_devices(e.get());
    std::vector<std::string> nodes;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
        UdevPtr<udev_device> tty(udev_device_new_from_syspath(u, udev_list_entry_get_name(entry)));
        if (!tty) continue;
        const char* node = udev_device_get_devnode(tty.get());
        nodes.push_back(node ? node : std::string("/dev/") + udev_device_get_sysname(tty.get()));
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes.empty() ? std::string() : nodes.front();
}

// Orders paths with their digit runs compared as numbers.
bool naturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
            std::string_view da = std::string_view(a).substr(i, ei - i), db = std::string_view(b).substr(j, ej - j);
            while (da.size() > 1 && da[0] == '0') da.remove_prefix(1);
            while (db.size() > 1 && db[0] == '0') db.remove_prefix(1);
            if (da.size() != db.size()) return da.size() < db.size();
            if (da != db) return da < db;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

std::vector<UsbBridge> listCp210xBridges() {
    std::vector<UsbBridge> bridges;
    UdevPtr<udev> u(udev_new());
    if (!u) return bridges;
    UdevPtr<udev_enumerate> e(udev_enumerate_new(u.get()));
    if (!e) return bridges;
    udev_enumerate_add_match_subsystem(e.get(), "usb");
    udev_enumerate_scan_devices(e.get());
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
        UdevPtr<udev_device> interface(udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(entry)));
        if (!interface) continue;
        const char* type = udev_device_get_devtype(interface.get());
        const char* driver = udev_device_get_driver(interface.get());
        if (!type || std::string_view(type) != "usb_interface" || !driver || std::string_view(driver) != "cp210x")
            continue;
        // The parent is owned by the child; no unref.
        udev_device* device = udev_device_get_parent_with_subsystem_devtype(interface.get(), "usb", "usb_device");
        if (!device) continue;
        UsbBridge b;
        b.sysfsPath = udev_device_get_syspath(device);
        b.interfacePath = udev_device_get_syspath(interface.get());
        b.vid = uint16_t(numberAttribute(device, "idVendor", 16));
        b.pid = uint16_t(numberAttribute(device, "idProduct", 16));
        b.serial = attribute(device, "serial");
        b.busNumber = int(numberAttribute(device, "busnum", 10));
        b.deviceAddress = int(numberAttribute(device, "devnum", 10));
        b.interfaceNumber = int(numberAttribute(interface.get(), "bInterfaceNumber", 16));
        b.ttyNode = ttyBelow(u.get(), interface.get());
        bridges.push_back(std::move(b));
    }
    std::sort(bridges.begin(), bridges.end(), [](const UsbBridge& a, const UsbBridge& b) {
        if (a.sysfsPath != b.sysfsPath) return naturalLess(a.sysfsPath, b.sysfsPath);
        return a.interfaceNumber < b.interfaceNumber;
    });
    return bridges;
}

}  // namespace platform
