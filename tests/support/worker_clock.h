#pragma once
// Tests in which a worker thread polls the clock: real time sped up, one time line for every
// thread, and reading the time never moves it. Install it after the HeadlessDriver (which
// installs its own virtual clock) and before any dialog opens or simulated instrument is made;
// wait with pumpFor/pumpUntil, never with the driver's advance() (it moves the virtual clock).
#include <cstdint>
#include <functional>

#include "platform/os/clock.h"
#include "platform/ui/headless.h"

namespace koral_test {

constexpr double WORKER_CLOCK_FACTOR = 20.0;
// Host time a threaded test may wait for one condition: generous, for sanitizers on a loaded
// machine. Only a hang ever reaches it.
constexpr uint32_t HOST_WAIT_MS = 120000;

class WorkerClock {
public:
    explicit WorkerClock(double factor = WORKER_CLOCK_FACTOR) : clock_(factor), scope_(clock_) {}
    platform::ScaledClock& clock() { return clock_; }
    uint64_t nowUs() { return clock_.nowUs(); }

    // Pumps the GUI thread's messages and timers until `ms` of clock time have passed.
    bool pumpFor(ui::HeadlessDriver& driver, uint32_t ms) {
        uint64_t until = clock_.nowUs() + uint64_t(ms) * 1000;
        return driver.pumpUntil([&] { return clock_.nowUs() >= until; }, HOST_WAIT_MS);
    }
    bool pumpUntil(ui::HeadlessDriver& driver, const std::function<bool()>& done) {
        return driver.pumpUntil(done, HOST_WAIT_MS);
    }

private:
    platform::ScaledClock clock_;
    platform::ScopedClock scope_;
};

}  // namespace koral_test
