// The bridge list through the vendor functions, and the two COM-port lookups over registry
// tables shaped as the cases need.
#include <gtest/gtest.h>

#include <cstring>

#include "device/cp210x.h"
#include "device/discovery.h"
#include "platform/os/clock.h"
#include "platform/os/registry.h"
#include "sim/registry.h"
#include "vendor/simulated.h"

using platform::RegistryValue;

namespace {

const std::string NT = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";
const std::string INTERFACE_KEY = NT + "VID_10C4&PID_EA60&MI_00\\KX_42_a_00\\Device Parameters";
const std::string PLAIN_KEY = NT + "VID_10C4&PID_EA60\\KX_42_a\\Device Parameters";
const std::string WANTED_9X = "USB\\VID_10C4&PID_EA60&MI_00\\KX_42_A_00";

std::string slabcr(int n) {
    char key[32];
    std::snprintf(key, sizeof key, "Enum\\SLABCR\\guid\\%.4d", n);
    return key;
}

class Lookup : public ::testing::Test {
protected:
    std::vector<RegistryValue> values;
    std::shared_ptr<platform::ValueRegistry> registry =
        std::make_shared<platform::ValueRegistry>([this] { return values; });
    std::shared_ptr<platform::Registry> previous = platform::setRegistry(registry);
    void TearDown() override {
        EXPECT_EQ(registry->openKeys(), 0u);  // every key closed
        platform::setRegistry(previous);
    }
    int nt(const char* serial = "KX 42 a") {
        std::strcpy(buffer, serial);
        return GetPortFromUsbEnum(0x10C4, 0xEA60, buffer);
    }
    int win9x(const char* serial = "KX 42 a") {
        std::strcpy(buffer, serial);
        return GetPortFromSlabcrEnum(0x10C4, 0xEA60, buffer);
    }
    char buffer[64];
};

}  // namespace

TEST(DeviceList, ListsThePresentBridgesInDeviceIndexOrder) {
    platform::VirtualClock clock;
    platform::ScopedClock scoped(clock);
    sim::InstrumentConfig a, b;
    a.bridgeSerial = "A";
    b.bridgeSerial = "B";
    sim::Instrument first(a), second(b);
    sim::UsbBus bus;
    bus.add(first);
    bus.add(second);
    DeviceList list = {"stale"};
    {
        vendor::SimulatedVendor vendor(bus);
        EXPECT_TRUE(GetDeviceList(list));
        EXPECT_EQ(list, (DeviceList{first.bridgePath(), second.bridgePath()}));
        first.unplug();
        EXPECT_TRUE(GetDeviceList(list));
        EXPECT_EQ(list, DeviceList{second.bridgePath()});
    }
    // Without a vendor library the count cannot be read: an empty list.
    LoadedModule* loaded = g_pVendorModule;
    g_pVendorModule = nullptr;
    EXPECT_FALSE(GetDeviceList(list));
    EXPECT_TRUE(list.empty());
    g_pVendorModule = loaded;
}

TEST_F(Lookup, NtSpacesBecomeUnderscoresCaseKeptPlainKeyWhenNoInterfaceKey) {
    values = {{PLAIN_KEY, "PortName", "COM12"}};
    EXPECT_EQ(nt(), 12);
    EXPECT_STREQ(buffer, "KX_42_a");  // rewritten in place
    EXPECT_EQ(nt("KX 42 A"), 12);      // the registry compares names ignoring case
    EXPECT_EQ(nt("KX 43 a"), -1);
}

TEST_F(Lookup, NtInterfaceKeyWinsWheneverItOpens) {
    values = {{INTERFACE_KEY, "PortName", "COM5"}, {PLAIN_KEY, "PortName", "COM7"}};
    EXPECT_EQ(nt(), 5);
    values = {{INTERFACE_KEY, "FriendlyName", "CP210x"}, {PLAIN_KEY, "PortName", "COM7"}};
    EXPECT_EQ(nt(), -1);
}

TEST_F(Lookup, PortNumberIsReadAfterTheFirstThreeCharacters) {
    const std::pair<const char*, int> cases[] = {{"COM3", 3}, {"COM", 0}, {"COM12x", 12}, {"XYZ7", 7}, {"C", 0},
                                                 {"", 0},     {"COM99999999999", -1}};
    for (auto [text, port] : cases) {
        values = {{PLAIN_KEY, "PortName", text}};
        EXPECT_EQ(nt(), port) << text;
    }
}

TEST_F(Lookup, NtValueLongerThanTheBufferIsRefused) {
    values = {{PLAIN_KEY, "PortName", "COM4" + std::string(95, ' ')}};  // 99 characters and NUL fit
    EXPECT_EQ(nt(), 4);
    values = {{PLAIN_KEY, "PortName", "COM4" + std::string(96, ' ')}};
    EXPECT_EQ(nt(), -1);
}

TEST_F(Lookup, Win9xRaisesLettersMatchesExactlyAndTheLastMatchDecides) {
    values = {{slabcr(0), "CRLowerDeviceID", WANTED_9X}, {slabcr(0), "Portname", "COM3"},
              {slabcr(1), "CRLowerDeviceID", "USB\\VID_10C4&PID_EA60&MI_00\\kx_42_a_00"}, {slabcr(1), "Portname", "COM4"},
              {slabcr(2), "CRLowerDeviceID", WANTED_9X}, {slabcr(2), "Portname", "COM8"},
              {slabcr(4), "CRLowerDeviceID", WANTED_9X}, {slabcr(4), "Portname", "COM9"}};  // after the gap
    EXPECT_EQ(win9x(), 8);
    EXPECT_STREQ(buffer, "KX_42_A");
    values.resize(2);
    values[1].value = "COM";
    EXPECT_EQ(win9x(), 0);
    values.resize(1);  // a match without a readable "Portname"
    EXPECT_EQ(win9x(), -1);
}

TEST_F(Lookup, Win9xRereadsAKeyWhoseValueOutgrewTheSharedCount) {
    // The first key leaves 2 in the shared count; the second one's id needs 36 bytes and is read
    // again with them.
    values = {{slabcr(0), "CRLowerDeviceID", "X"}, {slabcr(1), "CRLowerDeviceID", WANTED_9X},
              {slabcr(1), "Portname", "COM6"}};
    EXPECT_EQ(win9x(), 6);
}

TEST_F(Lookup, Win9xValueLongerThanTheBufferIsSkippedNotRead) {
    values = {{slabcr(0), "CRLowerDeviceID", std::string(150, 'U')}, {slabcr(1), "CRLowerDeviceID", WANTED_9X},
              {slabcr(1), "Portname", "COM6"}};
    EXPECT_EQ(win9x(), 6);
    values[1].value = WANTED_9X + std::string(70, 'x');
    EXPECT_EQ(win9x(), -1);
}

TEST_F(Lookup, SimulatedBridgesEntriesInAllThreeForms) {
    platform::VirtualClock clock;
    platform::ScopedClock scoped(clock);
    sim::InstrumentConfig c;
    c.bridgeSerial = "KX 42 a";
    c.comPort = 11;
    c.registryInterfaceKey = true;
    sim::Instrument instrument(c);
    auto simulated = sim::makeRegistry(instrument);
    platform::setRegistry(simulated);
    EXPECT_EQ(nt(), 11);
    EXPECT_EQ(win9x(), 11);
    EXPECT_EQ(simulated->openKeys(), 0u);
}
