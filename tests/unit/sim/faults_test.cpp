// Every fault a test can switch on, and their text form.
#include "host.h"

using namespace simtest;

namespace {

const Bytes IDENTITY_FRAME = frame(0x14, 0x0FF0, 14);

Host& unlocked(Host& h) {
    EXPECT_TRUE(h.startBsl());
    EXPECT_TRUE(h.unlock());
    return h;
}

sim::Faults parsed(const char* text) {
    sim::Faults f;
    std::string error;
    EXPECT_TRUE(sim::parseFaults(text, f, &error)) << error;
    return f;
}

}  // namespace

TEST(Faults, FrameFaultsHitTheKthFrameOnly) {
    Host h;
    unlocked(h);  // frame 1 was the password
    h.instrument.setFaults(parsed("nak-frame=2,silence-frame=3,corrupt-frame=4,drop-frame=5"));
    Bytes good = h.command(IDENTITY_FRAME);  // frame 1 after the restart of the counters
    ASSERT_EQ(good.size(), 20u);
    EXPECT_EQ(h.command(IDENTITY_FRAME), NAK);
    EXPECT_TRUE(h.command(IDENTITY_FRAME).empty());
    Bytes corrupt = h.command(IDENTITY_FRAME);
    ASSERT_EQ(corrupt.size(), 20u);
    EXPECT_NE(corrupt[18], good[18]);
    EXPECT_EQ(corrupt[19], good[19]);
    Bytes dropped = h.command(IDENTITY_FRAME);
    EXPECT_EQ(dropped.size(), 19u);
    EXPECT_EQ(h.command(IDENTITY_FRAME), good);
    // A corrupted single-byte answer is no longer an ACK or a NAK.
    h.instrument.setFaults(parsed("corrupt-frame=1"));
    Bytes ack = h.command(frame(0x1C, 0x2000, 2));
    ASSERT_EQ(ack.size(), 1u);
    EXPECT_NE(ack[0] & 0xF0, 0x90);
    EXPECT_NE(ack[0] & 0xF0, 0xA0);
}

TEST(Faults, FrameFaultsCanCountOneCommandAndRepeat) {
    Host h;
    unlocked(h);
    h.instrument.setFaults(parsed("nak-frame=2/0x12+"));
    Bytes write = frame(0x12, 0x2000, 2, {1, 2});
    EXPECT_EQ(h.command(write), ACK);
    EXPECT_EQ(h.command(IDENTITY_FRAME).size(), 20u);
    EXPECT_EQ(h.command(write), NAK);
    EXPECT_EQ(h.command(write), NAK);
    EXPECT_EQ(h.command(IDENTITY_FRAME).size(), 20u);
}

TEST(Faults, ByteFaultsHitTheKthByteSent) {
    Host h;
    unlocked(h);
    // Bytes: 1 SYNC answer, then the 20 of the identity frame.
    h.instrument.setFaults(parsed("drop-byte=6"));
    EXPECT_EQ(h.command(IDENTITY_FRAME).size(), 19u);
    h.instrument.setFaults(parsed("nak-byte=1"));
    EXPECT_FALSE(h.sync());
    h.wait(30);
    EXPECT_TRUE(h.sync());
    h.wait(30);
    h.instrument.setFaults(parsed("corrupt-byte=2"));
    Bytes c = h.command(IDENTITY_FRAME);
    ASSERT_EQ(c.size(), 20u);
    EXPECT_EQ(c[0], 0x7F);
    h.instrument.setFaults(parsed("silence-byte=3"));
    EXPECT_TRUE(h.sync());
    h.wait(30);
    EXPECT_EQ(h.command(IDENTITY_FRAME), Bytes{});  // the SYNC answer was byte 2; all later are gone
    EXPECT_FALSE(h.sync());
}

TEST(Faults, UnplugAtATime) {
    Host h;
    h.instrument.setFaults(parsed("unplug-at-ms=700"));
    ASSERT_TRUE(h.startBsl());  // 540 ms of entry sequence
    EXPECT_TRUE(h.instrument.bridgePresent());
    h.wait(200);
    EXPECT_FALSE(h.instrument.bridgePresent());
    EXPECT_FALSE(h.instrument.plugged());
    EXPECT_FALSE(h.sync());
}

// Loaders from 2.00 on erase on a wrong password unless the security key at 0xFFDE is 0x0000;
// 0xAA55 switches them off; older loaders never erase. The fault forces the erase everywhere.
TEST(Faults, WrongPasswordFollowsTheLoaderVersionAndSecurityKey) {
    struct Case {
        uint16_t version, key;
        bool forced, loaderRuns, erases;
    } cases[] = {
        {0x0160, 0x1234, false, true, false}, {0x0160, 0xAA55, false, true, false},
        {0x0160, 0x0000, true, true, true},   {0x0200, 0x0000, false, true, false},
        {0x0200, 0x1234, false, true, true},  {0x0202, 0xFFFF, false, true, true},
        {0x0202, 0x0000, true, true, true},   {0x0202, 0xAA55, false, false, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "version " << k.version << " key " << k.key << " forced " << k.forced);
        sim::InstrumentConfig c;
        c.bslVersion = k.version;
        Bytes tail = {uint8_t(k.key), uint8_t(k.key >> 8)};
        tail.insert(tail.end(), 32, 0x12);
        c.flash.push_back({0xFFDE, tail});
        c.flash.push_back({0x2100, Bytes(16, 0x34)});
        c.faults.wrongPasswordMassErases = k.forced;
        Host h(c);
        Bytes infoA = h.instrument.read(sim::INFOA_ADDRESS, 64);
        ASSERT_EQ(h.startBsl(), k.loaderRuns);
        if (!k.loaderRuns) {
            EXPECT_EQ(h.instrument.mode(), sim::Mode::Application);
            EXPECT_FALSE(h.sync());
            continue;
        }
        EXPECT_FALSE(h.unlock());
        EXPECT_EQ(h.instrument.read(sim::INFOA_ADDRESS, 64), k.erases ? Bytes(64, 0xFF) : infoA);
        EXPECT_EQ(h.instrument.read(0x2100, 1), Bytes{uint8_t(k.erases ? 0xFF : 0x34)});
        EXPECT_EQ(h.instrument.read(0xFFE0, 1), Bytes{uint8_t(k.erases ? 0xFF : 0x12)});
        EXPECT_EQ(h.unlock(), k.erases) << "an erased part takes the blank password";
    }
}

TEST(Faults, BlankInfoAAndTheDefaultCalibration) {
    sim::Instrument normal;
    Bytes infoA = normal.read(sim::INFOA_ADDRESS, 64);
    EXPECT_NE(infoA, Bytes(64, 0xFF));
    sim::InstrumentConfig c;
    c.faults = parsed("blank-infoa");
    EXPECT_EQ(sim::Instrument(c).read(sim::INFOA_ADDRESS, 64), Bytes(64, 0xFF));
    c = {};
    c.infoA = Bytes(64, 0x42);
    EXPECT_EQ(sim::Instrument(c).read(sim::INFOA_ADDRESS, 64), Bytes(64, 0x42));
}

TEST(Faults, TextFormRoundTripsAndRefusesUnknownNames) {
    const char* all = "nak-frame=3,silence-byte=10+,corrupt-frame=2/0x14,drop-frame=1,unplug-at-ms=500,"
                      "wrong-password-erases,bridge-never-returns,blank-infoa";
    sim::Faults f = parsed(all);
    ASSERT_EQ(f.wire.size(), 4u);
    EXPECT_EQ(f.wire[1].action, sim::FaultAction::Silence);
    EXPECT_EQ(f.wire[1].trigger, sim::FaultTrigger::Byte);
    EXPECT_TRUE(f.wire[1].repeat);
    EXPECT_EQ(f.wire[2].command, 0x14);
    EXPECT_EQ(*f.unplugAtUs, 500'000u);
    EXPECT_EQ(sim::formatFaults(f), "nak-frame=3,silence-byte=10+,corrupt-frame=2/0x14,drop-frame=1,unplug-at-ms=500,"
                                    "wrong-password-erases,bridge-never-returns,blank-infoa");
    EXPECT_EQ(parsed(sim::formatFaults(f).c_str()), f);
    for (const char* bad : {"nak", "nak-frame=0", "nak-frame=x", "slow-frame=1", "nak-byte=1/0x12", "unplug-at-ms=",
                            "nak-frame=1/0x100"}) {
        sim::Faults g = f;
        std::string error;
        EXPECT_FALSE(sim::parseFaults(bad, g, &error)) << bad;
        EXPECT_EQ(g, f);
        EXPECT_FALSE(error.empty());
    }
}

// The battery removed while the loader programs or erases: what was done stays done, the word or
// segment at work holds arbitrary values, the rest what it held; no answer comes.
TEST(Faults, BatteryRemovedInsideAFlashWriteOrEraseLeavesThoseCellsUndefined) {
    sim::InstrumentConfig c;
    c.realLineTiming = true;
    Host h(c);
    unlocked(h);
    auto undefined = [](const Bytes& b, uint8_t was, uint8_t meant) {
        return b != Bytes(b.size(), was) && b != Bytes(b.size(), meant);
    };
    // 16 words of 40 us a byte, cut half-way: words 0..7 programmed, word 8 undefined.
    h.instrument.setFaults(parsed("cut-flash=1@500"));
    EXPECT_EQ(h.command(frame(0x12, 0x2000, 32, Bytes(32, 0x00))), Bytes{});
    EXPECT_FALSE(h.instrument.powered());
    EXPECT_EQ(h.instrument.read(0x2000, 16), Bytes(16, 0x00));
    EXPECT_TRUE(undefined(h.instrument.read(0x2010, 2), 0xFF, 0x00));
    EXPECT_EQ(h.instrument.read(0x2012, 14), Bytes(14, 0xFF));
    EXPECT_EQ(h.instrument.flashOperationFrames(), (std::vector<uint32_t>{2}));
    EXPECT_EQ(h.instrument.flashCuts(), 1u);

    // Information and main memory, 124 segments from InfoD up: cut at the InfoA segment (the
    // fourth), the three below are erased, everything above keeps its contents.
    h.instrument.connectPower();
    h.line.reset();
    unlocked(h);
    h.instrument.load(0x1000, Bytes(0xF000, 0x5A));
    h.instrument.setFaults(parsed("cut-flash=1@28"));
    EXPECT_EQ(h.command(frame(0x18, 0xFF00, 0xA506)), Bytes{});
    EXPECT_EQ(h.instrument.read(0x1000, 0xC0), Bytes(0xC0, 0xFF));
    EXPECT_TRUE(undefined(h.instrument.read(sim::INFOA_ADDRESS, 64), 0x5A, 0xFF));
    EXPECT_EQ(h.instrument.read(0x1100, 0xEF00), Bytes(0xEF00, 0x5A));
    // Cut at the last segment: everything below it erased.
    h.instrument.connectPower();
    h.line.reset();
    h.instrument.load(0xFFE0, BLANK_PASSWORD);
    unlocked(h);
    h.instrument.load(0x1000, Bytes(0xF000, 0x5A));
    h.instrument.setFaults(parsed("cut-flash=1@996"));
    EXPECT_EQ(h.command(frame(0x18, 0xFF00, 0xA506)), Bytes{});
    EXPECT_EQ(h.instrument.read(0x1000, 0xEE00), Bytes(0xEE00, 0xFF));
    EXPECT_TRUE(undefined(h.instrument.read(0xFE00, 0x200), 0x5A, 0xFF));

    sim::Faults f = parsed("cut-flash=3@250");
    EXPECT_EQ(f.powerCutInFlash, (sim::Faults::PowerCut{3, 250}));
    EXPECT_EQ(sim::formatFaults(f), "cut-flash=3@250");
    for (const char* bad : {"cut-flash=0@5", "cut-flash=2@1000", "cut-flash=2", "cut-flash=@5"})
        EXPECT_FALSE(sim::parseFaults(bad, f)) << bad;
}
