// Real bridges on Linux: the USB devices with an interface bound to the kernel's cp210x driver
// (libudev, through platform::listCp210xBridges), named by the device's sysfs path, which differs
// between bridges and stays the same when one comes back on its port; restarted by a USB device
// reset through libusb, after which the kernel binds the driver again and the tty returns.
#include <libusb.h>

#include <cstdio>
#include <cstring>

#include "platform/os/usb_bridges.h"
#include "vendor/standin.h"

namespace vendor {
namespace {

// One entry per device: a dual bridge's second interface is the same device.
std::vector<platform::UsbBridge> devices() {
    std::vector<platform::UsbBridge> out;
    for (platform::UsbBridge& b : platform::listCp210xBridges()) {
        bool seen = false;
        for (const platform::UsbBridge& o : out) seen = seen || o.sysfsPath == b.sysfsPath;
        if (!seen) out.push_back(std::move(b));
    }
    return out;
}

uint32_t listBridges(void*, KoralBridge* bridges, uint32_t capacity) {
    const std::vector<platform::UsbBridge> found = devices();
    for (uint32_t i = 0; i < found.size() && i < capacity; ++i) {
        KoralBridge& b = bridges[i];
        b = KoralBridge{};
        std::snprintf(b.path, sizeof b.path, "%s", found[i].sysfsPath.c_str());
        std::snprintf(b.serial, sizeof b.serial, "%s", found[i].serial.c_str());
        b.vid = found[i].vid;
        b.pid = found[i].pid;
    }
    return uint32_t(found.size());
}

int resetDevice(int bus, int address) {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS) return 1;
    int result = 1;
    libusb_device** list = nullptr;
    ssize_t n = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < n; ++i) {
        if (libusb_get_bus_number(list[i]) != bus || libusb_get_device_address(list[i]) != address) continue;
        libusb_device_handle* handle = nullptr;
        if (libusb_open(list[i], &handle) == LIBUSB_SUCCESS) {
            // NOT_FOUND: the device came back as a new one, which is what a restart is.
            int r = libusb_reset_device(handle);
            result = r == LIBUSB_SUCCESS || r == LIBUSB_ERROR_NOT_FOUND ? 0 : 1;
            libusb_close(handle);
        }
        break;
    }
    // An empty list is still an allocation of its own.
    if (list) libusb_free_device_list(list, 1);
    libusb_exit(context);
    return result;
}

int resetBridge(void*, const char* path) {
    for (const platform::UsbBridge& b : devices())
        if (b.sysfsPath == path) return resetDevice(b.busNumber, b.deviceAddress);
    return 1;
}

}  // namespace

const KoralBridgeBackend* hostBackend() {
    static const KoralBridgeBackend udev{nullptr, &listBridges, &resetBridge};
    return &udev;
}

}  // namespace vendor
