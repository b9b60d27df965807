// The simulated operator's power-cycling steps against a PC that lists the bridges every
// 250 ms on the GUI thread, as the power-cycling page does; under the worker clock.
#include <gtest/gtest.h>

#include "device/cp210x.h"
#include "tests/support/instrument.h"
#include "tests/support/worker_clock.h"
#include "vendor/simulated.h"

namespace {

struct BridgeWatcher : CWnd {
    std::vector<uint32_t> counts;  // the bridge count at each tick, repeats left out
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message != WM_TIMER) return CWnd::WindowProc(message, wParam, lParam);
        uint32_t n = 0;
        if (CP210x_GetNumDevices(&n) == 0 && (counts.empty() || counts.back() != n)) counts.push_back(n);
        return 0;
    }
};

TEST(SimulatedOperator, PowerCyclingLetsThePollingPageSeeTheBridgeLeaveAndComeBack) {
    ui::HeadlessDriver driver;
    koral_test::WorkerClock clock;
    sim::Instrument instrument{koral_test::instrumentWithApplication()};
    sim::UsbBus bus;
    bus.add(instrument);
    vendor::SimulatedVendor vendor(bus);
    ASSERT_TRUE(vendor.installed());
    instrument.setSwitch(true);

    BridgeWatcher watcher;
    ASSERT_TRUE(watcher.SubclassWindow(ui::HeadlessDriver::createBareWindow()));
    watcher.SetTimer(1, 250, nullptr);
    ASSERT_TRUE(clock.pumpFor(driver, 300));
    instrument.runOperator({.powerCycling = true});  // the power-cycling page is shown
    ASSERT_TRUE(clock.pumpUntil(driver, [&] { return instrument.powered() && watcher.counts.size() >= 3; }));
    EXPECT_EQ(watcher.counts, (std::vector<uint32_t>{1, 0, 1}));
    EXPECT_FALSE(instrument.switchIsOn());
    EXPECT_EQ(instrument.mode(), sim::Mode::Application);
    watcher.KillTimer(1);
    watcher.DestroyWindow();
}

}  // namespace
