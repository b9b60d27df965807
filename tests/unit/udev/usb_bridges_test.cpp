// The bridges libudev reports, over a faked /sys.
#include <gtest/gtest.h>

#include "platform/os/registry.h"
#include "platform/os/serial.h"
#include "platform/os/usb_bridges.h"
#include "tests/unit/udev/bridge_testbed.h"

using testbed::BridgeSpec;

TEST(UsbBridges, OnlyInterfacesBoundToCp210xWithTheirDeviceIdsAndLine) {
    testbed::BridgeTestbed bed;
    EXPECT_TRUE(platform::listCp210xBridges().empty());
    bed.add({.usbName = "1-3", .vid = 0x10C4, .pid = 0xEA60, .serial = "KX 0042", .ttyNumber = 2, .busNumber = 1,
             .deviceAddress = 7});
    bed.add({.usbName = "1-4", .vid = 0x0403, .pid = 0x6001, .ttyNumber = 0, .driver = "ftdi_sio"});
    bed.add({.usbName = "1-5", .ttyNumber = -1, .driver = ""});  // not bound to any driver
    auto bridges = platform::listCp210xBridges();
    ASSERT_EQ(bridges.size(), 1u);
    const platform::UsbBridge& b = bridges[0];
    EXPECT_EQ(b.sysfsPath, "/sys/devices/usb1/1-3");
    EXPECT_EQ(b.interfacePath, "/sys/devices/usb1/1-3/1-3:1.0");
    EXPECT_EQ(b.vid, 0x10C4);
    EXPECT_EQ(b.pid, 0xEA60);
    EXPECT_EQ(b.serial, "KX 0042");
    EXPECT_EQ(b.interfaceNumber, 0);
    EXPECT_EQ(b.ttyNode, "/dev/ttyUSB2");
    EXPECT_EQ(b.busNumber, 1);
    EXPECT_EQ(b.deviceAddress, 7);
}

TEST(UsbBridges, OrderIsByDevicePathNumbersAsNumbersThenInterface) {
    testbed::BridgeTestbed bed;
    bed.add({.usbName = "1-10", .serial = "C", .ttyNumber = 0});
    bed.add({.usbName = "1-2", .serial = "B", .interfaceNumber = 1, .ttyNumber = 3});
    bed.add({.usbName = "1-2", .serial = "B", .interfaceNumber = 0, .ttyNumber = 4});
    bed.add({.usbName = "1-1.4", .serial = "", .ttyNumber = -1});
    auto bridges = platform::listCp210xBridges();
    ASSERT_EQ(bridges.size(), 4u);
    EXPECT_EQ(bridges[0].sysfsPath, "/sys/devices/usb1/1-1.4");
    EXPECT_EQ(bridges[0].serial, "");
    EXPECT_EQ(bridges[0].ttyNode, "");
    EXPECT_EQ(bridges[1].ttyNode, "/dev/ttyUSB4");
    EXPECT_EQ(bridges[1].interfaceNumber, 0);
    EXPECT_EQ(bridges[2].ttyNode, "/dev/ttyUSB3");
    EXPECT_EQ(bridges[2].interfaceNumber, 1);
    EXPECT_EQ(bridges[3].sysfsPath, "/sys/devices/usb1/1-10");

    bed.remove("/sys/devices/usb1/1-2");
    bridges = platform::listCp210xBridges();
    ASSERT_EQ(bridges.size(), 2u);
    EXPECT_EQ(bridges[1].sysfsPath, "/sys/devices/usb1/1-10");
}

TEST(UsbBridges, ComNumberIsTheTtyNumberPlusOne) {
    EXPECT_EQ(platform::comNumberOfTty("/dev/ttyUSB0"), 1);
    EXPECT_EQ(platform::comNumberOfTty("/dev/ttyUSB11"), 12);
    EXPECT_EQ(platform::comNumberOfTty("ttyUSB3"), 4);
    for (const char* other : {"", "/dev/ttyUSB", "/dev/ttyACM0", "/dev/ttyUSB1x", "/dev/ttyUSB-1", "/dev/ttyS0"})
        EXPECT_EQ(platform::comNumberOfTty(other), 0) << other;
    std::vector<platform::UsbBridge> bridges(3);
    bridges[0].ttyNode = "/dev/ttyUSB1";
    bridges[2].ttyNode = "/dev/ttyUSB0";
    auto ports = platform::bridgeComPorts(bridges);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0], std::make_pair(2, std::string("/dev/ttyUSB1")));
    EXPECT_EQ(ports[1], std::make_pair(1, std::string("/dev/ttyUSB0")));
}

TEST(UsbBridges, SerialLayerResolvesComNamesToTheBridgesLines) {
    testbed::BridgeTestbed bed;
    bed.add({.usbName = "1-3", .ttyNumber = 2});
    EXPECT_EQ(platform::posixDevicePath("\\\\.\\COM3"), "/dev/ttyUSB2");
    EXPECT_EQ(platform::posixDevicePath("\\\\.\\COM1"), "");
    platform::setComPortTable({{3, "/dev/ttyS9"}});  // an installed table is asked first
    EXPECT_EQ(platform::posixDevicePath("\\\\.\\COM3"), "/dev/ttyS9");
    platform::setComPortTable({});
}

namespace {

// "PortName" of the key the system names for a bridge, through the host's registry.
std::string portName(const char* deviceKey) {
    std::shared_ptr<platform::Registry> r = platform::hostRegistry();
    platform::RegKey system = nullptr, usb = nullptr, device = nullptr;
    std::string result = "<no key>";
    if (r->openKeyEx(platform::regKey::LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\", 0, platform::regAccess::READ,
                     &system) != platform::regError::SUCCESS)
        return result;
    if (r->openKey(system, "Enum\\USB\\", &usb) == platform::regError::SUCCESS) {
        if (r->openKeyEx(usb, deviceKey, 0, platform::regAccess::READ, &device) == platform::regError::SUCCESS) {
            char text[101] = {};
            uint32_t size = 100;
            result = r->queryValueEx(device, "PortName", nullptr, nullptr, reinterpret_cast<uint8_t*>(text), &size) ==
                             platform::regError::SUCCESS
                         ? text
                         : "<no value>";
            r->closeKey(device);
        }
        r->closeKey(usb);
    }
    r->closeKey(system);
    return result;
}

}  // namespace

TEST(UsbBridges, RegistryViewGivesEachBridgeTheKeyAndPortNameWindowsWould) {
    testbed::BridgeTestbed bed;
    std::string single = bed.add({.usbName = "1-3", .serial = "KX 0042", .ttyNumber = 2});
    bed.add({.usbName = "1-4", .pid = 0xEA70, .serial = "dual", .interfaceNumber = 0, .ttyNumber = 0});
    bed.add({.usbName = "1-4", .pid = 0xEA70, .serial = "dual", .interfaceNumber = 1, .ttyNumber = 1});
    bed.add({.usbName = "1-5", .serial = "", .ttyNumber = 5});

    EXPECT_EQ(portName("Vid_10c4&Pid_ea60\\KX_0042\\Device Parameters\\"), "COM3");
    EXPECT_EQ(portName("Vid_10c4&Pid_ea60&Mi_00\\KX_0042_00\\Device Parameters\\"), "<no key>");
    EXPECT_EQ(portName("Vid_10c4&Pid_ea70&Mi_00\\dual_00\\Device Parameters\\"), "COM1");
    EXPECT_EQ(portName("VID_10C4&PID_EA70&MI_01\\DUAL_01\\Device Parameters"), "COM2");
    EXPECT_EQ(portName("Vid_10c4&Pid_ea70\\dual\\Device Parameters\\"), "<no key>");
    EXPECT_EQ(platform::bridgeRegistryValues(platform::listCp210xBridges()).size(), 3u);  // not the serial-less one

    bed.remove(single);
    EXPECT_EQ(portName("Vid_10c4&Pid_ea60\\KX_0042\\Device Parameters\\"), "<no key>");
}
