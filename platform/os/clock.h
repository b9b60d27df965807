#pragma once
// Time as the system sees it: GetTickCount and Sleep. Which clock answers is process-wide, so
// tests and the demo can run every time-out of the system faster, or in no host time at all.
#include <atomic>
#include <cstdint>

namespace platform {

class VirtualClock;

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds, wrapping at 2^32 like GetTickCount.
    virtual uint32_t tickCount() = 0;
    virtual void sleepMs(uint32_t ms) = 0;
    // Microseconds on the same time line, for devices that need finer steps than a tick.
    virtual uint64_t nowUs() = 0;
    // The virtual clock itself, for devices that move it while polled; null for the others.
    virtual VirtualClock* asVirtual() { return nullptr; }
};

// The host's monotonic time.
class RealClock final : public Clock {
public:
    uint32_t tickCount() override;
    void sleepMs(uint32_t ms) override;
    uint64_t nowUs() override;
};

// Real time running `factor` times faster: every duration keeps its proportions.
class ScaledClock final : public Clock {
public:
    explicit ScaledClock(double factor);
    uint32_t tickCount() override;
    void sleepMs(uint32_t ms) override;
    uint64_t nowUs() override;
    double factor() const { return factor_; }

private:
    double factor_;
    uint64_t startUs_;
};

// Time that moves only when asked. Code that busy-polls the tick count must still see time pass,
// so every tickCount() read advances it by a small step; sleepMs advances it by the whole amount.
// Thread-safe, but meant for single-threaded tests.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(uint64_t startUs = 0, uint32_t usPerTickRead = 1000);
    uint32_t tickCount() override;
    void sleepMs(uint32_t ms) override;
    uint64_t nowUs() override;
    void advanceUs(uint64_t us);
    void advanceMs(uint32_t ms) { advanceUs(uint64_t(ms) * 1000); }
    // Moves time forward to `us` if it is later than now.
    void advanceToUs(uint64_t us);
    void setUsPerTickRead(uint32_t us) { usPerTickRead_ = us; }
    VirtualClock* asVirtual() override { return this; }

private:
    std::atomic<uint64_t> nowUs_;
    std::atomic<uint32_t> usPerTickRead_;
};

// The process-wide clock; the real one unless a test or the demo installed another.
Clock& activeClock();
// Installs `clock` (not owned; null restores the real clock). Returns the previous one.
Clock* setActiveClock(Clock* clock);

inline uint32_t tickCount() { return activeClock().tickCount(); }
inline void sleepMs(uint32_t ms) { activeClock().sleepMs(ms); }

// Installs a clock for one scope.
class ScopedClock {
public:
    explicit ScopedClock(Clock& clock) : previous_(setActiveClock(&clock)) {}
    ~ScopedClock() { setActiveClock(previous_); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    Clock* previous_;
};

// Host primitives behind RealClock, one implementation per platform.
namespace host {
uint64_t monotonicUs();
void sleepUs(uint64_t us);
}  // namespace host

}  // namespace platform
