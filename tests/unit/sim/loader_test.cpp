// The loader as the engine meets it: the quoted frames, the lock, the commands.
#include "host.h"

using namespace simtest;

namespace {

const Bytes MASS_ERASE_FRAME = {0x80, 0x18, 0x04, 0x04, 0x00, 0xFF, 0x06, 0xA5, 0x7D, 0xB9};
const Bytes IDENTITY_FRAME = {0x80, 0x14, 0x04, 0x04, 0xF0, 0x0F, 0x0E, 0x00, 0x85, 0xE0};

Bytes standardPasswordFrame() {
    Bytes f = {0x80, 0x10, 0x24, 0x24, 0xE0, 0xFF, 0x20, 0x00};
    f.insert(f.end(), 32, 0xFF);
    return withChecksum(f);
}

// The vectors, and the security key that keeps the flash when a wrong password comes.
sim::InstrumentConfig withVectors(uint8_t fill) {
    sim::InstrumentConfig c;
    Bytes tail = {0x00, 0x00};
    tail.insert(tail.end(), 32, fill);
    c.flash.push_back({0xFFDE, tail});
    return c;
}

}  // namespace

TEST(Loader, QuotedFramesGetTheirDocumentedAnswers) {
    Host h;
    ASSERT_TRUE(h.startBsl());
    EXPECT_EQ(frame(0x18, 0xFF00, 0xA506), MASS_ERASE_FRAME);
    EXPECT_EQ(frame(0x14, 0x0FF0, 14), IDENTITY_FRAME);
    EXPECT_EQ(frame(0x10, 0xFFE0, 32, BLANK_PASSWORD), standardPasswordFrame());

    h.instrument.load(0x2100, {0x00});
    EXPECT_EQ(h.command(MASS_ERASE_FRAME), ACK);
    EXPECT_EQ(h.instrument.read(0x2100, 1), Bytes{0xFF});
    EXPECT_EQ(h.instrument.read(sim::INFOA_ADDRESS, 64), Bytes(64, 0xFF));
    EXPECT_EQ(h.command(standardPasswordFrame()), ACK);
    EXPECT_TRUE(h.instrument.bslUnlocked());

    Bytes identity = {0xF2, 0x49, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x02, 0xFF, 0xFF};
    EXPECT_EQ(h.command(IDENTITY_FRAME), dataFrame(identity));

    // Five data bytes travel as n = 10: 16 bytes on the wire; only the five are written.
    Bytes write5 = frame(0x12, 0x2100, 5, {1, 2, 3, 4, 5});
    ASSERT_EQ(write5.size(), 16u);
    EXPECT_EQ(write5[2], 10);
    EXPECT_EQ(write5[3], 10);
    EXPECT_EQ(h.command(write5), ACK);
    EXPECT_EQ(h.instrument.read(0x2100, 6), (Bytes{1, 2, 3, 4, 5, 0xFF}));
}

TEST(Loader, SyncIsAnsweredOnlyOncePerFrame) {
    Host h;
    ASSERT_TRUE(h.startBsl());
    // A frame without its SYNC: its header is taken as the SYNC, the rest ignored.
    EXPECT_EQ(h.send(IDENTITY_FRAME), ACK);
    EXPECT_EQ(h.sent, 1u);
    h.wait(30);
    // A second SYNC right after the first is a frame header.
    EXPECT_TRUE(h.sync());
    EXPECT_NE(h.send({0x80}), ACK);
}

TEST(Loader, LockedUntilTheRightPasswordAndUntilResetOrRomRestart) {
    Host h(withVectors(0x5A));
    ASSERT_TRUE(h.startBsl());
    // Locked: refused as soon as the command byte is in, so the sender stops there.
    EXPECT_EQ(h.command(IDENTITY_FRAME), NAK);
    EXPECT_EQ(h.sent, 2u);
    EXPECT_EQ(h.command(frame(0x12, 0x2100, 2, {1, 2})), NAK);
    EXPECT_EQ(h.command(frame(0x16, 0x2100, 0xA502)), NAK);
    EXPECT_EQ(h.command(frame(0x1A, 0x2100, 0)), NAK);
    EXPECT_EQ(h.command(frame(0x1C, 0x2100, 2)), NAK);
    EXPECT_EQ(h.command(frame(0x20, 0x8880, 0)), NAK);
    EXPECT_EQ(h.command(frame(0x21, 0, 0)), NAK);

    EXPECT_FALSE(h.unlock(BLANK_PASSWORD));
    EXPECT_FALSE(h.instrument.bslUnlocked());
    EXPECT_TRUE(h.unlock(Bytes(32, 0x5A)));
    EXPECT_EQ(h.command(IDENTITY_FRAME).size(), 20u);
    EXPECT_EQ(h.command(IDENTITY_FRAME).size(), 20u);  // stays unlocked

    // Restarting the ROM loader locks it again.
    EXPECT_EQ(h.command(frame(0x1A, 0x0C22, 0)), ACK);
    EXPECT_EQ(h.instrument.mode(), sim::Mode::Bsl);
    EXPECT_EQ(h.command(IDENTITY_FRAME), NAK);
    EXPECT_TRUE(h.unlock(Bytes(32, 0x5A)));
    h.entrySequence(true);
    EXPECT_FALSE(h.instrument.bslUnlocked());
    EXPECT_EQ(h.command(IDENTITY_FRAME), NAK);

    // A mass erase works while locked and leaves the blank password.
    EXPECT_EQ(h.command(MASS_ERASE_FRAME), ACK);
    EXPECT_TRUE(h.unlock(BLANK_PASSWORD));
}

TEST(Loader, MalformedFramesAreRefused) {
    Host h;
    ASSERT_TRUE(h.startBsl());
    ASSERT_TRUE(h.unlock());
    Bytes bad = IDENTITY_FRAME;
    bad.back() ^= 0x01;
    EXPECT_EQ(h.command(bad), NAK);
    bad = IDENTITY_FRAME;
    bad[8] ^= 0x10;  // checksum low byte
    EXPECT_EQ(h.command(bad), NAK);
    Bytes lengths = IDENTITY_FRAME;
    lengths[3] = 0x06;  // L1 != L2: refused at once
    EXPECT_EQ(h.command(lengths), NAK);
    EXPECT_EQ(h.sent, 4u);
    EXPECT_EQ(h.command(frame(0x33, 0, 0)), NAK);  // no such command
    EXPECT_EQ(h.command(frame(0x14, 0x1000, 251)), NAK);
    // And the loader still works afterwards.
    EXPECT_EQ(h.command(IDENTITY_FRAME).size(), 20u);
}

TEST(Loader, FlashOnlyClearsBitsAndNewLoadersReportIt) {
    for (uint16_t version : {uint16_t(0x0130), uint16_t(0x0140), uint16_t(0x0202)}) {
        sim::InstrumentConfig c;
        c.bslVersion = version;
        Host h(c);
        ASSERT_TRUE(h.startBsl());
        ASSERT_TRUE(h.unlock());
        EXPECT_EQ(h.command(frame(0x12, 0x3000, 2, {0xF0, 0x0F})), ACK);
        // 0xF0 & 0x3C = 0x30: the write cannot set bits, and 1.40 and later say so.
        Bytes answer = h.command(frame(0x12, 0x3000, 2, {0x3C, 0x0F}));
        EXPECT_EQ(answer, version >= 0x0140 ? NAK : ACK) << std::hex << version;
        EXPECT_EQ(h.instrument.read(0x3000, 2), (Bytes{0x30, 0x0F}));
        // RAM takes any value.
        EXPECT_EQ(h.command(frame(0x12, 0x0300, 2, {0xF0, 0x0F})), ACK);
        EXPECT_EQ(h.command(frame(0x12, 0x0300, 2, {0x3C, 0xA5})), ACK);
        EXPECT_EQ(h.instrument.read(0x0300, 2), (Bytes{0x3C, 0xA5}));
        // The ROM does not change; new loaders notice.
        Bytes rom = h.instrument.read(0x0C00, 2);
        EXPECT_EQ(h.command(frame(0x12, 0x0C00, 2, {0x00, 0x00})), version >= 0x0140 ? NAK : ACK);
        EXPECT_EQ(h.instrument.read(0x0C00, 2), rom);
    }
}

TEST(Loader, EraseCommandsEraseWhatTheirKeySays) {
    Host h;
    ASSERT_TRUE(h.startBsl());
    ASSERT_TRUE(h.unlock());
    auto fill = [&] {
        h.instrument.load(0x1000, Bytes(0x100, 0x11));  // InfoD..InfoA
        h.instrument.load(0x1100, Bytes(0x300, 0x22));  // 0x1100..0x13FF
        h.instrument.load(0xFF00, Bytes(0x100, 0x33));
        h.instrument.load(0x0400, Bytes(4, 0x44));
    };
    fill();
    // Segment erase: 0x1280 lies in 0x1200..0x13FF.
    EXPECT_EQ(h.command(frame(0x16, 0x1280, 0xA502)), ACK);
    EXPECT_EQ(h.instrument.read(0x11FF, 1), Bytes{0x22});
    EXPECT_EQ(h.instrument.read(0x1200, 0x200), Bytes(0x200, 0xFF));
    // The first main segment is 0x1100..0x11FF, cut short by the information memory.
    EXPECT_EQ(h.command(frame(0x16, 0x1100, 0xA502)), ACK);
    EXPECT_EQ(h.instrument.read(0x1100, 0x100), Bytes(0x100, 0xFF));
    EXPECT_EQ(h.instrument.read(0x10FF, 1), Bytes{0x11});
    // Information segments are 64 bytes: InfoB is 0x1080..0x10BF.
    EXPECT_EQ(h.command(frame(0x16, 0x1090, 0xA502)), ACK);
    EXPECT_EQ(h.instrument.read(0x1080, 64), Bytes(64, 0xFF));
    EXPECT_EQ(h.instrument.read(0x107F, 1), Bytes{0x11});
    EXPECT_EQ(h.instrument.read(0x10C0, 1), Bytes{0x11});

    fill();
    EXPECT_EQ(h.command(frame(0x18, 0xFF00, 0xA504)), ACK);  // main only
    EXPECT_EQ(h.instrument.read(0x1000, 0x100), Bytes(0x100, 0x11));
    EXPECT_EQ(h.instrument.read(0xFF00, 0x100), Bytes(0x100, 0xFF));
    fill();
    EXPECT_EQ(h.command(MASS_ERASE_FRAME), ACK);  // information and main
    EXPECT_EQ(h.instrument.read(0x1000, 0x400), Bytes(0x400, 0xFF));
    EXPECT_EQ(h.instrument.read(0xFF00, 0x100), Bytes(0x100, 0xFF));
    EXPECT_EQ(h.instrument.read(0x0400, 4), Bytes(4, 0x44));  // RAM untouched
    EXPECT_EQ(h.instrument.read(0x0FF0, 2), (Bytes{0xF2, 0x49}));
    EXPECT_EQ(h.command(frame(0x18, 0xFF00, 0x1234)), NAK);
}

TEST(Loader, EraseCheckAcksOnlyABlankRange) {
    Host h;
    ASSERT_TRUE(h.startBsl());
    ASSERT_TRUE(h.unlock());
    h.instrument.load(0x2010, {0xFE});
    EXPECT_EQ(h.command(frame(0x1C, 0x2000, 0x10)), ACK);
    EXPECT_EQ(h.command(frame(0x1C, 0x2000, 0x11)), NAK);
    EXPECT_EQ(h.command(frame(0x1C, 0x2011, 0x100)), ACK);
}

TEST(Loader, ReadAnswersWithTheMemoryInADataFrame) {
    Host h;
    ASSERT_TRUE(h.startBsl());
    ASSERT_TRUE(h.unlock());
    h.instrument.load(0x4000, {1, 2, 3, 4});
    EXPECT_EQ(h.command(frame(0x14, 0x4000, 4)), dataFrame({1, 2, 3, 4}));
    EXPECT_EQ(h.command(frame(0x14, 0x4000, 0)), dataFrame({}));
    Bytes big = h.command(frame(0x14, 0x4000, 250));
    EXPECT_EQ(big.size(), 256u);
}

TEST(Loader, OffsetReachesFlashAboveSixteenBits) {
    sim::InstrumentConfig c;
    c.flashEnd = 0x1FFFF;
    Host h(c);
    ASSERT_TRUE(h.startBsl());
    ASSERT_TRUE(h.unlock());
    EXPECT_EQ(h.command(frame(0x21, 0, 1)), ACK);
    EXPECT_EQ(h.command(frame(0x12, 0x2000, 2, {0xAB, 0xCD})), ACK);
    EXPECT_EQ(h.command(frame(0x14, 0x2000, 2)), dataFrame({0xAB, 0xCD}));
    EXPECT_EQ(h.command(frame(0x21, 0, 0)), ACK);
    EXPECT_EQ(h.instrument.read(0x12000, 2), (Bytes{0xAB, 0xCD}));
    EXPECT_EQ(h.instrument.read(0x2000, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(h.command(frame(0x14, 0x2000, 2)), dataFrame({0xFF, 0xFF}));
    // Past the end of the part: vacant memory.
    EXPECT_EQ(h.instrument.read(0x20000, 2), (Bytes{0xFF, 0x3F}));
}

TEST(Loader, BaudChangeSwitchesTheDeviceAfterItsAck) {
    Host h;
    ASSERT_TRUE(h.startBsl());
    ASSERT_TRUE(h.unlock());
    EXPECT_EQ(h.command(frame(0x20, 0x8C80, 2)), ACK);  // F2 family, 38400
    EXPECT_EQ(h.instrument.deviceBaud(), 38400u);
    EXPECT_FALSE(h.probe());  // host still at 9600
    h.setBaud(38400);
    EXPECT_TRUE(h.probe());
    EXPECT_EQ(h.command(frame(0x20, 0x8880, 0)), ACK);
    h.setBaud(9600);
    EXPECT_TRUE(h.probe());
    EXPECT_EQ(h.command(frame(0x20, 0x8880, 3)), NAK);
    // Clock bytes of another family give the part another rate than asked for.
    EXPECT_EQ(h.command(frame(0x20, 0x9800, 1)), ACK);
    EXPECT_NE(h.instrument.deviceBaud(), 19200u);
    h.setBaud(19200);
    EXPECT_FALSE(h.probe());
}

TEST(Loader, LoadPcLeavesTheLoaderForFlashButNotForRam) {
    Host h;
    ASSERT_TRUE(h.startBsl());
    ASSERT_TRUE(h.unlock());
    EXPECT_EQ(h.command(frame(0x1A, 0x0220, 0)), ACK);  // a patch in RAM returns to the loader
    EXPECT_EQ(h.instrument.mode(), sim::Mode::Bsl);
    EXPECT_TRUE(h.instrument.bslUnlocked());
    EXPECT_EQ(h.command(frame(0x1A, 0x2100, 0)), ACK);
    EXPECT_EQ(h.instrument.mode(), sim::Mode::Application);
    EXPECT_FALSE(h.sync());
}
