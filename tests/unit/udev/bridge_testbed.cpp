#include "tests/unit/udev/bridge_testbed.h"

#include <umockdev.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace testbed {
namespace {

// Before main: without the preload library libudev would see the real /sys.
[[maybe_unused]] const bool g_underPreload = [] {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::string(preload).find("libumockdev-preload") != std::string::npos) return true;
    std::string libs = std::string("libumockdev-preload.so.0") + (preload ? std::string(":") + preload : "");
    setenv("LD_PRELOAD", libs.c_str(), 1);
    // The sanitizer runtime would refuse to come after the preloaded library.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string options = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return false;
    self[n] = 0;
    FILE* cmdline = std::fopen("/proc/self/cmdline", "rb");
    if (!cmdline) return false;
    std::string args;
    int c;
    while ((c = std::fgetc(cmdline)) != EOF) args.push_back(char(c));
    std::fclose(cmdline);
    std::vector<char*> argv;
    for (size_t i = 0; i < args.size(); i += std::string(args.c_str() + i).size() + 1) argv.push_back(args.data() + i);
    argv.push_back(nullptr);
    execv(self, argv.data());
    std::perror("re-running under umockdev");
    return false;
}();

}  // namespace

BridgeTestbed::BridgeTestbed() : bed_(umockdev_testbed_new()) {}

BridgeTestbed::~BridgeTestbed() { g_object_unref(bed_); }

std::string BridgeTestbed::add(const BridgeSpec& s) {
    std::string& device = devices_[s.usbName];
    if (device.empty()) {
        char vid[8], pid[8];
        std::snprintf(vid, sizeof vid, "%04x", s.vid);
        std::snprintf(pid, sizeof pid, "%04x", s.pid);
        std::string bus = std::to_string(s.busNumber), address = std::to_string(s.deviceAddress);
        std::string name = "usb1/" + s.usbName;
        // A device without a serial string has no such attribute at all.
        gchar* path = s.serial.empty()
            ? umockdev_testbed_add_device(bed_, "usb", name.c_str(), nullptr, "idVendor", vid, "idProduct", pid, "busnum",
                                          bus.c_str(), "devnum", address.c_str(), nullptr, "DEVTYPE", "usb_device",
                                          nullptr)
            : umockdev_testbed_add_device(bed_, "usb", name.c_str(), nullptr, "idVendor", vid, "idProduct", pid, "busnum",
                                          bus.c_str(), "devnum", address.c_str(), "serial", s.serial.c_str(), nullptr,
                                          "DEVTYPE", "usb_device", nullptr);
        device = path;
        g_free(path);
    }
    char number[4];
    std::snprintf(number, sizeof number, "%02x", s.interfaceNumber);
    std::string name = s.usbName + ":1." + std::to_string(s.interfaceNumber);
    gchar* interface = umockdev_testbed_add_device(bed_, "usb", name.c_str(), device.c_str(), "bInterfaceNumber",
                                                   number, nullptr, "DEVTYPE", "usb_interface", nullptr);
    if (!s.driver.empty())
        umockdev_testbed_set_attribute_link(bed_, interface, "driver", ("../../../../bus/usb/drivers/" + s.driver).c_str());
    if (s.ttyNumber >= 0) {
        std::string tty = "ttyUSB" + std::to_string(s.ttyNumber);
        gchar* port = umockdev_testbed_add_device(bed_, "usb-serial", tty.c_str(), interface, nullptr, nullptr);
        gchar* line = umockdev_testbed_add_device(bed_, "tty", tty.c_str(), port, nullptr, "DEVNAME",
                                                  ("/dev/" + tty).c_str(), nullptr);
        g_free(line);
        g_free(port);
    }
    g_free(interface);
    return device;
}

void BridgeTestbed::remove(const std::string& sysfsPath) {
    umockdev_testbed_remove_device(bed_, sysfsPath.c_str());
    for (auto it = devices_.begin(); it != devices_.end(); ++it)
        if (it->second == sysfsPath) {
            devices_.erase(it);
            break;
        }
}

}  // namespace testbed
