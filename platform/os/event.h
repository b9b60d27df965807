#pragma once
// Manual-reset events: once set, every wait succeeds until reset.
#include <cstdint>
#include <memory>

namespace platform {

constexpr uint32_t WAIT_INFINITE = 0xFFFFFFFFu;

class Event {
public:
    virtual ~Event() = default;
    virtual void set() = 0;
    virtual void reset() = 0;
    // True when the event is set within timeoutMs of host time (0: just look).
    virtual bool wait(uint32_t timeoutMs) = 0;
    bool isSet() { return wait(0); }
};

std::unique_ptr<Event> createManualResetEvent(bool initiallySet = false);

}  // namespace platform
