#include <gtest/gtest.h>

#include <atomic>

#include "platform/os/clock.h"
#include "platform/os/event.h"
#include "platform/os/thread.h"

namespace {

uint32_t waitForExit(platform::Thread& thread) {
    platform::RealClock clock;
    uint32_t start = clock.tickCount();
    uint32_t code;
    while ((code = thread.exitCode()) == platform::THREAD_STILL_ACTIVE && clock.tickCount() - start < 5000) clock.sleepMs(1);
    return code;
}

TEST(Thread, RunsOnlyAfterResumeAndReportsItsExitCode) {
    std::atomic<bool> ran{false};
    auto thread = platform::createSuspendedThread([&] {
        ran = true;
        return 42u;
    });
    ASSERT_TRUE(thread);
    platform::RealClock().sleepMs(20);
    EXPECT_FALSE(ran) << "a suspended thread must not run";
    EXPECT_EQ(thread->exitCode(), platform::THREAD_STILL_ACTIVE);
    ASSERT_TRUE(thread->resume());
    EXPECT_EQ(waitForExit(*thread), 42u);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(thread->resume()) << "resuming a finished thread is harmless";
    EXPECT_EQ(thread->exitCode(), 42u);
}

TEST(Thread, StillActiveWhileTheBodyRunsAndZeroIsAValidExitCode) {
    auto gate = platform::createManualResetEvent();
    auto thread = platform::createSuspendedThread([&] {
        gate->wait(platform::WAIT_INFINITE);
        return 0u;
    });
    thread->resume();
    platform::RealClock().sleepMs(10);
    EXPECT_EQ(thread->exitCode(), platform::THREAD_STILL_ACTIVE);
    gate->set();
    EXPECT_EQ(waitForExit(*thread), 0u);
}

TEST(Thread, NeverResumedBodyNeverRuns) {
    std::atomic<bool> ran{false};
    platform::createSuspendedThread([&] {
        ran = true;
        return 1u;
    }).reset();
    EXPECT_FALSE(ran);
}

TEST(Event, ManualResetStaysSetForEveryWaiterUntilReset) {
    auto event = platform::createManualResetEvent();
    EXPECT_FALSE(event->isSet());
    EXPECT_FALSE(event->wait(0));
    event->set();
    EXPECT_TRUE(event->wait(0));
    EXPECT_TRUE(event->wait(0)) << "a wait must not consume a manual-reset event";
    event->reset();
    EXPECT_FALSE(event->wait(0));
    EXPECT_TRUE(platform::createManualResetEvent(true)->isSet());
}

TEST(Event, StopEventSeenByAPollingWorker) {
    auto stop = platform::createManualResetEvent();
    std::atomic<int> polls{0};
    auto worker = platform::createSuspendedThread([&] {
        while (!stop->wait(0)) {
            ++polls;
            platform::RealClock().sleepMs(1);
        }
        return 7u;
    });
    worker->resume();
    platform::RealClock().sleepMs(20);
    EXPECT_EQ(worker->exitCode(), platform::THREAD_STILL_ACTIVE);
    stop->set();
    EXPECT_EQ(waitForExit(*worker), 7u);
    EXPECT_GT(polls.load(), 0);
}

TEST(Event, TimedWaitReturnsWhenSetFromAnotherThread) {
    auto event = platform::createManualResetEvent();
    auto setter = platform::createSuspendedThread([&] {
        platform::RealClock().sleepMs(10);
        event->set();
        return 0u;
    });
    setter->resume();
    EXPECT_TRUE(event->wait(5000));
    EXPECT_FALSE(platform::createManualResetEvent()->wait(10)) << "times out when never set";
}

}  // namespace
