// Time: real line timing, and polling that lets virtual time pass.
#include "host.h"

using namespace simtest;

TEST(Timing, WithRealLineTimingAByteTakesElevenBits) {
    sim::InstrumentConfig c;
    c.realLineTiming = true;
    Host h(c);
    ASSERT_TRUE(h.startBsl());
    h.line->purge(platform::purge::RXCLEAR);
    uint8_t sync = 0x80;
    uint32_t done = 0;
    uint64_t t0 = h.clock.nowUs();
    ASSERT_TRUE(h.line->write(&sync, 1, done));
    platform::QueueCounts q;
    h.line->queueCounts(q);
    EXPECT_EQ(q.outQueue, 1u);
    // The SYNC takes 1146 us there, the ACK as long back.
    uint64_t seen = 0;
    while (h.clock.nowUs() - t0 < 10'000) {
        h.line->queueCounts(q);
        if (q.inQueue) {
            seen = h.clock.nowUs() - t0;
            break;
        }
    }
    EXPECT_GE(seen, 2 * 1146u);
    EXPECT_LE(seen, 2 * 1146u + 200);
    EXPECT_EQ(q.outQueue, 0u);

    // A whole identity frame and its 20-byte answer: SYNC, ACK, 10 and 20 characters.
    h.wait(30);
    ASSERT_TRUE(h.unlock());
    t0 = h.clock.nowUs();
    ASSERT_TRUE(h.sync());
    Bytes answer = h.send(frame(0x14, 0x0FF0, 14), 100, 20);
    EXPECT_EQ(answer.size(), 20u);
    EXPECT_GE(h.clock.nowUs() - t0, 32 * 1146u);
    EXPECT_LE(h.clock.nowUs() - t0, 32 * 1146u + 1000);
}

TEST(Timing, AWriteIsAnsweredOnlyAfterTheLastByteArrives) {
    sim::InstrumentConfig c;
    c.realLineTiming = true;
    Host h(c);
    ASSERT_TRUE(h.startBsl());
    ASSERT_TRUE(h.unlock());
    ASSERT_TRUE(h.sync());
    Bytes f = frame(0x12, 0x2000, 32, Bytes(32, 0x00));
    uint64_t t0 = h.clock.nowUs();
    h.line->purge(platform::purge::RXCLEAR);
    for (uint8_t b : f) {
        uint32_t done = 0;
        h.line->write(&b, 1, done);
    }
    platform::QueueCounts q{};
    while (q.inQueue == 0 && h.clock.nowUs() - t0 < 1'200'000) h.line->queueCounts(q);
    uint64_t elapsed = h.clock.nowUs() - t0;
    // 42 bytes in, the ACK out, and the flash's programming time.
    EXPECT_GE(elapsed, 43 * 1146u + 32 * 40u);
    EXPECT_LE(elapsed, 43 * 1146u + 32 * 40u + 300);
}

TEST(Timing, PollingAnEmptyQueueLetsVirtualTimePass) {
    Host h;
    ASSERT_TRUE(h.startBsl());
    uint64_t t0 = h.clock.nowUs();
    platform::QueueCounts q;
    for (int i = 0; i < 100; ++i) h.line->queueCounts(q);
    EXPECT_EQ(h.clock.nowUs() - t0, 100 * 100u);
    uint8_t b;
    uint32_t done = 0;
    platform::Timeouts t{platform::TIMEOUT_MAXDWORD, 0, 0, 0, 0};
    h.line->setTimeouts(t);
    EXPECT_TRUE(h.line->read(&b, 1, done));
    EXPECT_EQ(done, 0u);
    EXPECT_GT(h.clock.nowUs() - t0, 100 * 100u);
}

TEST(Timing, ReadWithTotalTimeoutsWaitsForTheBytes) {
    sim::InstrumentConfig c;
    c.realLineTiming = true;
    Host h(c);
    ASSERT_TRUE(h.startBsl());
    platform::Timeouts t{0, 0, 50, 0, 0};
    h.line->setTimeouts(t);
    uint8_t sync = 0x80, got = 0;
    uint32_t done = 0;
    h.line->write(&sync, 1, done);
    ASSERT_TRUE(h.line->read(&got, 1, done));
    EXPECT_EQ(done, 1u);
    EXPECT_EQ(got, 0x90);
    uint64_t t0 = h.clock.nowUs();
    ASSERT_TRUE(h.line->read(&got, 1, done));  // nothing comes: the 50 ms pass
    EXPECT_EQ(done, 0u);
    EXPECT_GE(h.clock.nowUs() - t0, 50'000u);
}

TEST(Timing, RestOfARefusedFrameIsSwallowedAtLineSpeed) {
    sim::InstrumentConfig c;
    c.realLineTiming = true;
    Host h(c);
    ASSERT_TRUE(h.startBsl());
    // Locked: the NAK comes after the command byte, but the whole frame is already queued, and
    // its 0x80 data bytes must not pass for SYNCs.
    ASSERT_TRUE(h.sync());
    h.line->purge(platform::purge::RXCLEAR);
    Bytes f = frame(0x12, 0x2000, 4, {0x80, 0x80, 0x80, 0x80});
    uint32_t done = 0;
    h.line->write(f.data(), uint32_t(f.size()), done);
    EXPECT_EQ(h.collect(100), NAK);
    EXPECT_TRUE(h.sync());
    EXPECT_EQ(h.send(frame(0x10, 0xFFE0, 32, BLANK_PASSWORD), 200, 1), ACK);
}

TEST(Timing, SyncRetryAfterALostAnswer) {
    Host h;
    ASSERT_TRUE(h.startBsl());
    sim::Faults f;
    ASSERT_TRUE(sim::parseFaults("drop-byte=1", f));
    h.instrument.setFaults(f);
    EXPECT_FALSE(h.sync());  // 100 ms without an answer, as the engine waits
    EXPECT_TRUE(h.sync());
    EXPECT_EQ(h.send(frame(0x10, 0xFFE0, 32, BLANK_PASSWORD)), ACK);
}
