#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <vector>

#include "platform/os/clock.h"
#include "platform/os/localtime.h"

namespace {

TEST(VirtualClock, SleepAdvancesByExactlyTheAmount) {
    platform::VirtualClock clock(0, 0);
    clock.sleepMs(250);
    EXPECT_EQ(clock.nowUs(), 250000u);
    EXPECT_EQ(clock.tickCount(), 250u);
    EXPECT_EQ(clock.tickCount(), 250u) << "with no read step, reading must not move time";
}

TEST(VirtualClock, BusyPollingTheTickCountReachesADeadline) {
    platform::VirtualClock clock;  // default: every read moves time by 1 ms
    platform::ScopedClock scope(clock);
    uint32_t start = platform::tickCount();
    int reads = 0;
    while (platform::tickCount() - start < 1200) ++reads;
    EXPECT_GE(reads, 1000);
    EXPECT_LE(reads, 1300);
}

TEST(VirtualClock, TickCountWrapsLikeGetTickCount) {
    platform::VirtualClock clock(uint64_t(0xFFFFFFF0u) * 1000, 0);
    uint32_t start = clock.tickCount();
    clock.advanceMs(0x20);
    EXPECT_EQ(clock.tickCount(), 0x10u);
    EXPECT_EQ(uint32_t(clock.tickCount() - start), 0x20u) << "unsigned differences survive the wrap";
}

TEST(VirtualClock, AdvanceToNeverGoesBack) {
    platform::VirtualClock clock(5000, 0);
    clock.advanceToUs(3000);
    EXPECT_EQ(clock.nowUs(), 5000u);
    clock.advanceToUs(9000);
    EXPECT_EQ(clock.nowUs(), 9000u);
}

TEST(ActiveClock, ScopedClockInstallsAndRestores) {
    platform::VirtualClock outer(1000 * 1000, 0), inner(2000 * 1000, 0);
    {
        platform::ScopedClock a(outer);
        EXPECT_EQ(platform::tickCount(), 1000u);
        {
            platform::ScopedClock b(inner);
            platform::sleepMs(5);
            EXPECT_EQ(platform::tickCount(), 2005u);
        }
        EXPECT_EQ(platform::tickCount(), 1000u);
        EXPECT_EQ(inner.tickCount(), 2005u);
    }
    EXPECT_EQ(&platform::activeClock(), &platform::activeClock());
    EXPECT_EQ(platform::setActiveClock(nullptr), nullptr) << "the real clock is back";
}

TEST(RealAndScaledClocks, SleepsTakeRoughlyTheirTimeAndTimeNeverRunsBackwards) {
    platform::RealClock real;
    uint64_t t0 = real.nowUs();
    real.sleepMs(20);
    uint64_t slept = real.nowUs() - t0;
    EXPECT_GE(slept, 19000u);

    platform::ScaledClock fast(10.0);
    uint64_t s0 = fast.nowUs();
    uint64_t r0 = real.nowUs();
    fast.sleepMs(200);  // 20 ms of host time
    uint64_t scaled = fast.nowUs() - s0;
    uint64_t host = real.nowUs() - r0;
    EXPECT_GE(scaled, 190000u);
    EXPECT_LT(host, 150000u) << "a scaled sleep must not take its unscaled time";
}

}  // namespace

TEST(LocalTime, FollowsTheActiveClockFromAPinnedWallTime) {
    setenv("TZ", "UTC", 1);
    tzset();
    platform::VirtualClock clock(0, 0);
    platform::ScopedClock scope(clock);
    platform::pinWallTime(1796856929);  // 2026-12-09 22:55:29 UTC
    platform::LocalTime t = platform::localTime();
    EXPECT_EQ((std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second}),
              (std::vector<int>{2026, 12, 9, 22, 55, 29}));
    clock.advanceMs(30999);
    t = platform::localTime();
    EXPECT_EQ((std::vector<int>{t.hour, t.minute, t.second}), (std::vector<int>{22, 55, 59}));
    clock.advanceMs(1);
    t = platform::localTime();
    EXPECT_EQ((std::vector<int>{t.hour, t.minute, t.second}), (std::vector<int>{22, 56, 0}));
}
