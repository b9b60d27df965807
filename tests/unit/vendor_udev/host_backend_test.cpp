// The CP210x functions with the stand-in's libudev backend, over a faked /sys.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/cp210x.h"
#include "device/module_loader.h"
#include "tests/unit/udev/bridge_testbed.h"
#include "vendor/export_image.h"
#include "vendor/link.h"

namespace {

class HostBackend : public ::testing::Test {
protected:
    void SetUp() override {
        vendor::linkStandIn();
        const std::vector<uint8_t> image = vendor::standInExportImage();
        g_pVendorModule = LoadModuleFromMemory(image.data(), image.size());
        ASSERT_NE(g_pVendorModule, nullptr);
    }
    void TearDown() override {
        FreeLoadedModule(g_pVendorModule);
        g_pVendorModule = nullptr;
    }
    static uint32_t count() {
        uint32_t n = 0;
        EXPECT_EQ(CP210x_GetNumDevices(&n), 0);
        return n;
    }
    static std::string path(uint32_t index) {
        char buffer[CP210x_PRODUCT_STRING_SIZE] = {};
        return CP210x_GetProductString(index, buffer, CP210x_RETURN_DEVICE_PATH) == 0 ? buffer : "<failed>";
    }
    static std::string serial(uint32_t index) {
        CP210x_HANDLE h = nullptr;
        if (CP210x_Open(index, &h) != 0) return "<failed>";
        uint8_t bytes[CP210x_SERIAL_BUFFER_SIZE];
        uint8_t length = 0;
        std::string s = CP210x_GetDeviceSerialNumber(h, bytes, &length, 1) == 0
                            ? std::string(reinterpret_cast<char*>(bytes), length)
                            : "<failed>";
        CP210x_Close(h);
        return s;
    }
    testbed::BridgeTestbed bed;
};

TEST_F(HostBackend, NoneOneAndTwoBridgesWithTheirIdsAndSerials) {
    EXPECT_EQ(count(), 0u);
    bed.add({.usbName = "1-4", .vid = 0x0403, .pid = 0x6001, .driver = "ftdi_sio"});  // not ours
    EXPECT_EQ(count(), 0u);

    const std::string first = bed.add({.usbName = "1-2", .pid = 0xEA70, .serial = "KOR 42 A", .ttyNumber = 1});
    EXPECT_EQ(count(), 1u);
    EXPECT_EQ(path(0), first);
    CP210x_HANDLE h = nullptr;
    ASSERT_EQ(CP210x_Open(0, &h), 0);
    uint16_t vid = 0, pid = 0;
    EXPECT_EQ(CP210x_GetDeviceVid(h, &vid), 0);
    EXPECT_EQ(CP210x_GetDevicePid(h, &pid), 0);
    EXPECT_EQ(vid, 0x10C4);
    EXPECT_EQ(pid, 0xEA70);
    CP210x_Close(h);
    EXPECT_EQ(serial(0), "KOR 42 A");

    // A dual bridge is one device with two bound interfaces: one entry.
    const std::string second = bed.add({.usbName = "1-10", .serial = "B 2", .interfaceNumber = 0, .ttyNumber = 2});
    bed.add({.usbName = "1-10", .serial = "B 2", .interfaceNumber = 1, .ttyNumber = 3});
    EXPECT_EQ(count(), 2u);
    EXPECT_EQ(path(0), first);
    EXPECT_EQ(path(1), second);
    EXPECT_EQ(serial(1), "B 2");
}

TEST_F(HostBackend, UnplugAndReplugBetweenListings) {
    const std::string a = bed.add({.usbName = "1-1", .serial = "A", .ttyNumber = 0});
    const std::string b = bed.add({.usbName = "1-3", .serial = "B", .ttyNumber = 1});
    EXPECT_EQ(count(), 2u);
    bed.remove(a);
    EXPECT_EQ(count(), 1u);
    EXPECT_EQ(path(0), b);
    const std::string c = bed.add({.usbName = "1-2", .serial = "C", .ttyNumber = 2});
    EXPECT_EQ(count(), 2u);
    EXPECT_EQ(path(0), c) << "indices follow the ports";
    EXPECT_EQ(serial(0), "C");
    EXPECT_EQ(path(1), b);
}

TEST_F(HostBackend, AResetThatCannotReachTheDeviceIsAFailure) {
    bed.add({.usbName = "1-1", .serial = "A", .ttyNumber = 0});
    CP210x_HANDLE h = nullptr;
    ASSERT_EQ(CP210x_Open(0, &h), 0);
    EXPECT_NE(CP210x_Reset(h), 0) << "the faked /sys has no USB device node to reset";
    bed.remove("/sys/devices/usb1/1-1");
    EXPECT_NE(CP210x_Reset(h), 0) << "gone";
    EXPECT_EQ(CP210x_Close(h), 0);
}

}  // namespace
