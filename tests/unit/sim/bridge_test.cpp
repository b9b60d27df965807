// The CP210x in front of the part: presence, paths, reset, registry, several on one bus.
#include "host.h"

using namespace simtest;

TEST(Bridge, ResetMakesItVanishAndReturnWithTheSamePath) {
    Host h;
    std::string path = h.instrument.bridgePath();
    EXPECT_EQ(path, "\\\\?\\usb#vid_10c4&pid_ea60#0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
    ASSERT_TRUE(h.open());
    EXPECT_TRUE(h.instrument.resetBridge());
    EXPECT_FALSE(h.instrument.bridgePresent());
    platform::QueueCounts q;
    EXPECT_FALSE(h.line->queueCounts(q));  // the handle is dead
    EXPECT_EQ(h.instrument.openLine(), nullptr);
    EXPECT_FALSE(h.instrument.resetBridge());
    h.wait(1400);
    EXPECT_FALSE(h.instrument.bridgePresent());
    h.wait(100);
    EXPECT_TRUE(h.instrument.bridgePresent());
    EXPECT_EQ(h.instrument.bridgePath(), path);
    EXPECT_TRUE(h.line->close());
    EXPECT_NE(h.instrument.openLine(), nullptr);
}

TEST(Bridge, ThatNeverReturns) {
    sim::InstrumentConfig c;
    c.faults.bridgeNeverReturns = true;
    Host h(c);
    EXPECT_TRUE(h.instrument.resetBridge());
    h.wait(60'000);
    EXPECT_FALSE(h.instrument.bridgePresent());
}

TEST(Bridge, UnplugKillsTheLineAndOnlyOneLineOpensAtATime) {
    Host h;
    ASSERT_TRUE(h.open());
    EXPECT_EQ(h.instrument.openLine(), nullptr);  // no sharing
    h.instrument.unplug();
    uint32_t done = 0;
    uint8_t b = 0x80;
    EXPECT_FALSE(h.line->write(&b, 1, done));
    EXPECT_EQ(h.instrument.openLine(), nullptr);
    h.instrument.plug();
    EXPECT_TRUE(h.open());
}

TEST(Bridge, OpenerReachesTheInstrumentByComPortOrPathOnly) {
    Host h;
    platform::SerialOpener open = sim::makeOpener(h.instrument);
    EXPECT_EQ(open("\\\\.\\COM4"), nullptr);
    EXPECT_EQ(open("\\\\.\\COM31"), nullptr);
    EXPECT_EQ(open("COM"), nullptr);
    auto line = open("\\\\.\\com3");
    EXPECT_NE(line, nullptr);
    line.reset();
    EXPECT_NE(open(h.instrument.bridgePath()), nullptr);

    sim::InstrumentConfig missing;
    missing.comPort = -1;
    sim::Instrument none(missing);
    EXPECT_EQ(sim::makeOpener(none)("\\\\.\\COM-1"), nullptr);
    EXPECT_TRUE(none.registryEntries().empty());
}

TEST(Bridge, RegistryEntriesInBothKeyFormsAndThe9xForm) {
    sim::InstrumentConfig c;
    c.bridgeSerial = "ab 12";
    c.comPort = 12;
    c.registryInterfaceKey = true;
    sim::Instrument i(c);
    std::vector<sim::RegistryEntry> expected = {
        {"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_10C4&PID_EA60&MI_00\\ab_12_00\\Device Parameters", "PortName", "COM12"},
        {"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_10C4&PID_EA60\\ab_12\\Device Parameters", "PortName", "COM12"},
        {"Enum\\SLABCR\\guid\\0003", "CRLowerDeviceID", "USB\\VID_10C4&PID_EA60&MI_00\\AB_12_00"},
        {"Enum\\SLABCR\\guid\\0003", "Portname", "COM12"},
    };
    EXPECT_EQ(i.registryEntries(3), expected);
    EXPECT_EQ(i.bridgeSerial(), "ab 12");
    EXPECT_EQ(i.vid(), 0x10C4);
    EXPECT_EQ(i.pid(), 0xEA60);
}

TEST(Bridge, SeveralOnOneBus) {
    platform::VirtualClock clock;
    platform::ScopedClock scoped(clock);
    sim::InstrumentConfig a, b;
    b.bridgeSerial = "0002";
    b.comPort = 7;
    b.attached = false;
    sim::Instrument first(a), second(b);
    sim::UsbBus bus;
    bus.add(first);
    bus.add(second);
    EXPECT_EQ(bus.presentBridges(), std::vector<sim::Instrument*>{&first});
    second.plug();
    EXPECT_EQ(bus.presentBridges(), (std::vector<sim::Instrument*>{&first, &second}));
    EXPECT_NE(first.bridgePath(), second.bridgePath());
    platform::SerialOpener open = sim::makeOpener(bus);
    auto l7 = open("\\\\.\\COM7");
    ASSERT_NE(l7, nullptr);
    EXPECT_EQ(second.openLine(), nullptr);  // that was second's line
    EXPECT_NE(open("\\\\.\\COM3"), nullptr);
    auto registry = bus.registryEntries();
    ASSERT_EQ(registry.size(), 6u);
    EXPECT_EQ(registry[1].key, "Enum\\SLABCR\\guid\\0000");
    EXPECT_EQ(registry[4].key, "Enum\\SLABCR\\guid\\0001");
}
