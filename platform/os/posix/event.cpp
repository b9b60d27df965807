#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/os/event.h"

namespace platform {
namespace {

class PosixEvent final : public Event {
public:
    explicit PosixEvent(bool initiallySet) : set_(initiallySet) {}

    void set() override {
        {
            std::lock_guard lock(mutex_);
            set_ = true;
        }
        changed_.notify_all();
    }

    void reset() override {
        std::lock_guard lock(mutex_);
        set_ = false;
    }

    bool wait(uint32_t timeoutMs) override {
        std::unique_lock lock(mutex_);
        if (timeoutMs == WAIT_INFINITE) {
            changed_.wait(lock, [this] { return set_; });
            return true;
        }
        // A look without waiting costs no system call (pollers ask a thousand times a second).
        if (timeoutMs == 0) return set_;
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return set_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_;
};

}  // namespace

std::unique_ptr<Event> createManualResetEvent(bool initiallySet) {
    return std::make_unique<PosixEvent>(initiallySet);
}

}  // namespace platform
