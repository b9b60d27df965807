#include <gtest/gtest.h>

#include <atomic>

#include "platform/os/thread.h"
#include "tests/support/worker_clock.h"

namespace {

struct TimerSink : CWnd {
    int ticks = 0;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_TIMER) ++ticks;
        return CWnd::WindowProc(message, wParam, lParam);
    }
};

// A worker busy-polling the tick count no longer drags the GUI thread's time along: both
// threads read one line, and the GUI's timers fire by it.
TEST(WorkerClock, PollingWorkerAndGuiTimersShareOneTimeLine) {
    ui::HeadlessDriver driver;
    koral_test::WorkerClock clock;
    ASSERT_EQ(&platform::activeClock(), &clock.clock());

    std::atomic<bool> stop{false};
    std::atomic<uint32_t> polls{0};
    auto worker = platform::createSuspendedThread([&]() -> uint32_t {
        while (!stop.load()) {
            uint32_t start = platform::tickCount();
            while (platform::tickCount() - start < 1) polls.fetch_add(1);
        }
        return 0;
    });
    ASSERT_TRUE(worker->resume());

    TimerSink sink;
    ASSERT_TRUE(sink.SubclassWindow(ui::HeadlessDriver::createBareWindow()));
    sink.SetTimer(1, 250, nullptr);
    uint64_t before = clock.nowUs();
    ASSERT_TRUE(clock.pumpFor(driver, 1100));
    EXPECT_GE(clock.nowUs() - before, 1100000u);
    EXPECT_GE(sink.ticks, 1) << "timers fire by the shared clock";
    sink.KillTimer(1);
    stop = true;
    while (worker->exitCode() == platform::THREAD_STILL_ACTIVE) platform::sleepMs(1);
    EXPECT_GT(polls.load(), 0u);
    sink.DestroyWindow();
}

}  // namespace
