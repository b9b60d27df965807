// The CP210x functions through the export lookup to the stand-in, over the simulated bus.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/cp210x.h"
#include "device/export_lookup.h"
#include "platform/os/clock.h"
#include "vendor/export_image.h"
#include "vendor/link.h"
#include "vendor/simulated.h"
#include "vendor/standin.h"

namespace {

sim::InstrumentConfig bridge(const std::string& serial) {
    sim::InstrumentConfig c;
    c.bridgeSerial = serial;
    return c;
}

std::string productPath(uint32_t index) {
    char buffer[CP210x_PRODUCT_STRING_SIZE];
    std::memset(buffer, 'x', sizeof buffer);
    if (CP210x_GetProductString(index, buffer, CP210x_RETURN_DEVICE_PATH) != 0) return "<failed>";
    return buffer;
}

class Cp210x : public ::testing::Test {
protected:
    platform::VirtualClock clock;
    platform::ScopedClock scoped{clock};
    sim::Instrument first{bridge("0001")}, second{bridge("KOR 42 A")};
    sim::UsbBus bus;
    void SetUp() override {
        bus.add(first);
        bus.add(second);
    }
};

TEST_F(Cp210x, ListsOpensAndIdentifiesEveryBridgeOnTheBus) {
    vendor::SimulatedVendor vendor(bus);
    ASSERT_TRUE(vendor.installed());
    uint32_t n = 0;
    ASSERT_EQ(CP210x_GetNumDevices(&n), 0);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(productPath(0), first.bridgePath());
    EXPECT_EQ(productPath(1), second.bridgePath());
    EXPECT_NE(productPath(0), productPath(1));
    EXPECT_NE(CP210x_GetProductString(2, nullptr, CP210x_RETURN_DEVICE_PATH), 0);

    CP210x_HANDLE h = nullptr;
    ASSERT_EQ(CP210x_Open(1, &h), 0);
    uint16_t vid = 0, pid = 0;
    EXPECT_EQ(CP210x_GetDeviceVid(h, &vid), 0);
    EXPECT_EQ(CP210x_GetDevicePid(h, &pid), 0);
    EXPECT_EQ(vid, 0x10C4);
    EXPECT_EQ(pid, 0xEA60);
    uint8_t serial[CP210x_SERIAL_BUFFER_SIZE];
    uint8_t length = 0;
    ASSERT_EQ(CP210x_GetDeviceSerialNumber(h, serial, &length, 1), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(serial), length), "KOR 42 A");
    ASSERT_EQ(CP210x_GetDeviceSerialNumber(h, serial, &length, 0), 0);
    EXPECT_EQ(length, 16);
    EXPECT_EQ(serial[0], 'K');
    EXPECT_EQ(serial[1], 0);
    EXPECT_EQ(CP210x_Close(h), 0);

    EXPECT_NE(CP210x_Open(2, &h), 0);
    EXPECT_EQ(h, nullptr);
}

TEST_F(Cp210x, ResetTakesTheBridgeOffTheBusAndBringsItBackUnderTheSamePath) {
    vendor::SimulatedVendor vendor(bus);
    const std::string path = productPath(0);
    CP210x_HANDLE h = nullptr;
    ASSERT_EQ(CP210x_Open(0, &h), 0);
    ASSERT_EQ(CP210x_Reset(h), 0);
    EXPECT_EQ(CP210x_Close(h), 0);

    uint32_t n = 0;
    CP210x_GetNumDevices(&n);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(productPath(0), second.bridgePath()) << "indices follow the bridges present";
    clock.advanceMs(first.config().bridgeResetMs + 10);
    CP210x_GetNumDevices(&n);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(productPath(0), path);

    first.unplug();
    ASSERT_EQ(CP210x_Open(0, &h), 0);  // the second, now alone
    first.plug();
    EXPECT_EQ(CP210x_GetDeviceSerialNumber(h, nullptr, nullptr, 1), vendor::INVALID_PARAMETER);
    second.unplug();
    EXPECT_NE(CP210x_Reset(h), 0) << "a bridge that went away cannot be restarted";
    CP210x_Close(h);
}

TEST_F(Cp210x, LongSerialNumbersLeaveRoomForTheCallersTerminator) {
    sim::Instrument longSerial{bridge(std::string(100, 'S'))};
    sim::UsbBus alone;
    alone.add(longSerial);
    vendor::SimulatedVendor vendor(alone);
    CP210x_HANDLE h = nullptr;
    ASSERT_EQ(CP210x_Open(0, &h), 0);
    uint8_t serial[CP210x_SERIAL_BUFFER_SIZE];
    uint8_t length = 0;
    ASSERT_EQ(CP210x_GetDeviceSerialNumber(h, serial, &length, 1), 0);
    EXPECT_EQ(length, CP210x_SERIAL_BUFFER_SIZE - 1);
    CP210x_Close(h);
}

TEST_F(Cp210x, StaleOrNullHandlesAreRefused) {
    vendor::SimulatedVendor vendor(bus);
    uint16_t vid = 0;
    EXPECT_EQ(CP210x_GetDeviceVid(nullptr, &vid), vendor::INVALID_HANDLE);
    EXPECT_EQ(CP210x_Close(nullptr), vendor::INVALID_HANDLE);
    EXPECT_EQ(CP210x_GetNumDevices(nullptr), vendor::INVALID_PARAMETER);
}

TEST(Cp210xLookup, AMissingExportOrLibraryGivesAStatusInsteadOfACall) {
    vendor::linkStandIn();
    LoadedModule* saved = g_pVendorModule;
    g_pVendorModule = nullptr;
    uint32_t n = 7;
    EXPECT_EQ(CP210x_GetNumDevices(&n), CP210x_NO_EXPORT);

    // A library that lacks one of the eight: the others still work.
    auto image = vendor::exportOnlyImage({"CP210x_GetNumDevices", "CP210x_Close"}, "partial.dll");
    g_pVendorModule = LoadModuleFromMemory(image.data(), image.size());
    ASSERT_NE(g_pVendorModule, nullptr);
    EXPECT_EQ(CP210x_GetNumDevices(&n), 0);
    CP210x_HANDLE h = nullptr;
    EXPECT_EQ(CP210x_Open(0, &h), CP210x_NO_EXPORT);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(FindCallableExport(g_pVendorModule, "cp210x_close"),
              FindCallableExport(g_pVendorModule, "CP210x_Close"));

    // Exported by the image, but nothing linked in under the name: still no call into the image.
    auto foreign = vendor::exportOnlyImage({"CP210x_Frobnicate"}, "foreign.dll");
    LoadedModule* other = LoadModuleFromMemory(foreign.data(), foreign.size());
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(FindCallableExport(other, "CP210x_Frobnicate"), nullptr);
    FreeLoadedModule(other);
    FreeLoadedModule(g_pVendorModule);
    g_pVendorModule = saved;
}

}  // namespace
