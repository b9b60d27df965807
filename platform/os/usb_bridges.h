#pragma once
// The CP210x USB-to-UART bridges the host has: one entry per USB interface bound to the kernel's
// cp210x driver (a dual bridge gives two). POSIX: libudev. Windows has no use for it (the vendor
// library and the registry answer there) and lists none.
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct UsbBridge {
    std::string sysfsPath;       // the USB device, e.g. /sys/devices/.../usb1/1-1
    uint16_t vid = 0, pid = 0;
    std::string serial;          // the device's USB serial string; empty when it has none
    int interfaceNumber = 0;     // bInterfaceNumber of the bound interface
    std::string ttyNode;         // its serial line, e.g. /dev/ttyUSB0; empty while it has none
    std::string interfacePath;   // the bound interface, e.g. /sys/devices/.../1-1/1-1:1.0
    int busNumber = 0;           // busnum and devnum, as libusb numbers the device
    int deviceAddress = 0;
};

// Ordered by device path (numbers in it compared as numbers, so 1-2 comes before 1-10), then by
// interface number: the order stays the same while the same bridges stay plugged in.
std::vector<UsbBridge> listCp210xBridges();

// The COM number the system gives a bridge's serial line: /dev/ttyUSB<N> is COM<N+1>. The kernel
// keeps N for as long as the bridge stays plugged in and gives it to no other line meanwhile.
// 0 for a node of another name.
int comNumberOfTty(const std::string& ttyNode);

// COM number -> device node of every bridge that has a serial line.
std::vector<std::pair<int, std::string>> bridgeComPorts(const std::vector<UsbBridge>& bridges);

}  // namespace platform
