#pragma once
// A faked /sys for libudev (umockdev): USB serial bridges added and removed by tests. A test
// program linking this re-runs itself under umockdev's preload library before main when it is
// not there yet, so it runs the same from CTest and by hand.
#include <cstdint>
#include <map>
#include <string>

struct _UMockdevTestbed;

namespace testbed {

struct BridgeSpec {
    std::string usbName = "1-1";  // the device's kernel name below usb1
    uint16_t vid = 0x10C4, pid = 0xEA60;
    std::string serial = "0001";  // empty: the device has no serial attribute
    int interfaceNumber = 0;
    int ttyNumber = 0;            // ttyUSB<n>; -1: no serial line below the interface
    std::string driver = "cp210x";
    int busNumber = 1, deviceAddress = 2;
};

class BridgeTestbed {
public:
    BridgeTestbed();
    ~BridgeTestbed();
    BridgeTestbed(const BridgeTestbed&) = delete;
    BridgeTestbed& operator=(const BridgeTestbed&) = delete;

    // Adds the interface (and the device, the first time its name is used); returns the
    // device's sysfs path.
    std::string add(const BridgeSpec& spec);
    // Unplugs the device and everything below it.
    void remove(const std::string& sysfsPath);

private:
    _UMockdevTestbed* bed_;
    std::map<std::string, std::string> devices_;  // kernel name -> sysfs path
};

}  // namespace testbed
