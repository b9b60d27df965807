#include "platform/os/clock.h"

namespace platform {

uint32_t RealClock::tickCount() { return uint32_t(host::monotonicUs() / 1000); }
void RealClock::sleepMs(uint32_t ms) { host::sleepUs(uint64_t(ms) * 1000); }
uint64_t RealClock::nowUs() { return host::monotonicUs(); }

ScaledClock::ScaledClock(double factor) : factor_(factor > 0 ? factor : 1.0), startUs_(host::monotonicUs()) {}

uint64_t ScaledClock::nowUs() { return uint64_t(double(host::monotonicUs() - startUs_) * factor_); }
uint32_t ScaledClock::tickCount() { return uint32_t(nowUs() / 1000); }
void ScaledClock::sleepMs(uint32_t ms) { host::sleepUs(uint64_t(double(ms) * 1000.0 / factor_)); }

VirtualClock::VirtualClock(uint64_t startUs, uint32_t usPerTickRead) : nowUs_(startUs), usPerTickRead_(usPerTickRead) {}

uint32_t VirtualClock::tickCount() {
    uint64_t before = nowUs_.fetch_add(usPerTickRead_);
    return uint32_t(before / 1000);
}

void VirtualClock::sleepMs(uint32_t ms) { advanceMs(ms); }
uint64_t VirtualClock::nowUs() { return nowUs_.load(); }
void VirtualClock::advanceUs(uint64_t us) { nowUs_.fetch_add(us); }

void VirtualClock::advanceToUs(uint64_t us) {
    uint64_t now = nowUs_.load();
    while (now < us && !nowUs_.compare_exchange_weak(now, us)) {
    }
}

namespace {
RealClock g_realClock;
std::atomic<Clock*> g_activeClock{nullptr};
}  // namespace

Clock& activeClock() {
    Clock* clock = g_activeClock.load(std::memory_order_acquire);
    return clock ? *clock : g_realClock;
}

Clock* setActiveClock(Clock* clock) { return g_activeClock.exchange(clock, std::memory_order_acq_rel); }

}  // namespace platform
