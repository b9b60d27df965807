// Reset and TEST through DTR and RTS, power, and the wire between host and part.
#include "host.h"
#include "sim/uart.h"

using namespace simtest;

TEST(Lines, EntrySequenceWithTwoTestPulsesStartsTheLoader) {
    Host h;
    ASSERT_TRUE(h.open());
    EXPECT_EQ(h.instrument.mode(), sim::Mode::Application);
    h.instrument.clearLineEdges();
    uint64_t t0 = h.clock.nowUs();
    h.entrySequence(true);
    EXPECT_EQ(h.instrument.mode(), sim::Mode::Bsl);
    EXPECT_EQ(h.instrument.deviceBaud(), 9600u);

    // RTS is already on, so: DTR off, RTS off, on, off, DTR on, RTS on, 10 ms apart.
    std::vector<sim::LineEdge> e = h.instrument.lineEdges();
    ASSERT_EQ(e.size(), 6u);
    const bool dtr[] = {true, false, false, false, true, false};
    const bool on[] = {false, false, true, false, true, true};
    for (size_t i = 0; i < e.size(); ++i) {
        EXPECT_EQ(e[i].dtr, dtr[i]) << i;
        EXPECT_EQ(e[i].on, on[i]) << i;
        EXPECT_EQ(e[i].timeUs - t0, 250'000u + 10'000u * i) << i;
    }
    EXPECT_TRUE(h.sync());
}

TEST(Lines, PlainResetOrTooFewPulsesStartTheApplication) {
    Host h;
    ASSERT_TRUE(h.startBsl());
    h.entrySequence(false);
    EXPECT_EQ(h.instrument.mode(), sim::Mode::Application);
    EXPECT_EQ(h.instrument.deviceBaud(), 115200u);
    EXPECT_FALSE(h.sync());

    // One TEST pulse is not enough.
    h.dtr(false);
    EXPECT_EQ(h.instrument.mode(), sim::Mode::Reset);
    h.rts(false), h.wait(10), h.rts(true), h.wait(10);
    h.dtr(true);
    EXPECT_EQ(h.instrument.mode(), sim::Mode::Application);

    // Pulses before reset is held do not count.
    h.rts(false), h.rts(true), h.rts(false), h.rts(true);
    h.dtr(false), h.wait(10), h.dtr(true);
    EXPECT_EQ(h.instrument.mode(), sim::Mode::Application);
}

TEST(Lines, AClosedPortHoldsResetUntilOpenedAgainAndAnUnpluggedBridgeLetsThePartRun) {
    Host h;
    ASSERT_TRUE(h.open());
    h.instrument.clearLineEdges();
    EXPECT_TRUE(h.line->close());  // the driver drops DTR and RTS: RST low, TEST high
    EXPECT_EQ(h.instrument.mode(), sim::Mode::Reset);
    std::vector<sim::LineEdge> e = h.instrument.lineEdges();
    ASSERT_EQ(e.size(), 2u);
    EXPECT_FALSE(e[0].on);
    EXPECT_FALSE(e[1].on);
    ASSERT_TRUE(h.open());  // opening raises both: the application starts
    EXPECT_EQ(h.instrument.mode(), sim::Mode::Application);
    EXPECT_TRUE(h.line->close());
    h.instrument.unplug();
    EXPECT_EQ(h.instrument.mode(), sim::Mode::Application);
}

TEST(Lines, WithoutBatteryNothingAnswers) {
    Host h;
    ASSERT_TRUE(h.startBsl());
    h.instrument.disconnectPower();
    EXPECT_EQ(h.instrument.mode(), sim::Mode::Off);
    h.entrySequence(true);
    EXPECT_FALSE(h.sync());
    h.instrument.connectPower();  // power-on reset: the application starts
    EXPECT_EQ(h.instrument.mode(), sim::Mode::Application);
    h.entrySequence(true);
    EXPECT_TRUE(h.sync());
}

TEST(Lines, PowerLossScramblesRamButNotFlash) {
    Host h;
    h.instrument.load(0x0400, {1, 2, 3, 4});
    h.instrument.load(0x8000, {1, 2, 3, 4});
    h.instrument.disconnectPower();
    h.instrument.connectPower();
    EXPECT_NE(h.instrument.read(0x0400, 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(h.instrument.read(0x8000, 4), (Bytes{1, 2, 3, 4}));
}

TEST(Wire, OtherRateOrParityThanTheDeviceGarbles) {
    for (uint32_t baud : {4800u, 19200u, 115200u}) {
        Host h;
        ASSERT_TRUE(h.startBsl());
        h.setBaud(baud);
        EXPECT_FALSE(h.sync()) << baud;
        h.setBaud(9600);
        EXPECT_TRUE(h.sync()) << baud;
    }
    // Without parity, characters with an odd number of ones arrive with a parity error.
    Host h;
    ASSERT_TRUE(h.startBsl());
    ASSERT_TRUE(h.unlock());
    h.state.parity = platform::parity::NONE;
    ASSERT_TRUE(h.line->setState(h.state));
    EXPECT_NE(h.command(frame(0x14, 0x0FF0, 14)).size(), 20u);
    h.state.parity = platform::parity::ODD;
    ASSERT_TRUE(h.line->setState(h.state));
    EXPECT_FALSE(h.sync());
}

TEST(Wire, SamplingFollowsTheReceiversRate) {
    using sim::uart::Framing;
    const Framing bsl = sim::uart::BSL_FRAMING;
    // Same settings: the byte itself; a rate within a UART's tolerance too.
    for (int b = 0; b < 256; ++b) {
        auto same = sim::uart::transfer(uint8_t(b), bsl, bsl);
        ASSERT_EQ(same.size(), 1u);
        EXPECT_EQ(same[0].byte, b);
        auto near = sim::uart::transfer(uint8_t(b), Framing{9700, 8, 2, 0}, bsl);
        ASSERT_EQ(near.size(), 1u);
        EXPECT_EQ(near[0].byte, b);
        EXPECT_FALSE(near[0].error);
    }
    // A fast receiver sees several characters in one slow one.
    auto fast = sim::uart::transfer(0x0F, bsl, Framing{115200, 8, 2, 0});
    EXPECT_GE(fast.size(), 1u);
    EXPECT_NE(fast[0].byte, 0x0F);
    EXPECT_EQ(sim::uart::charTimeUs(bsl), 1146u);                        // 11 bits at 9600
    EXPECT_EQ(sim::uart::charTimeUs(Framing{9600, 8, 0, 0}), 1042u);     // 10 bits
}
