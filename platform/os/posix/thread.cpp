#include <atomic>
#include <mutex>
#include <thread>

#include "platform/os/thread.h"

namespace platform {
namespace {

class PosixThread final : public Thread {
public:
    explicit PosixThread(std::function<uint32_t()> body) : body_(std::move(body)) {}

    ~PosixThread() override {
        if (thread_.joinable()) thread_.join();
    }

    bool resume() override {
        std::lock_guard lock(mutex_);
        if (started_) return true;
        try {
            thread_ = std::thread([this] { exitCode_.store(body_(), std::memory_order_release); });
        } catch (const std::system_error&) {
            return false;
        }
        started_ = true;
        return true;
    }

    uint32_t exitCode() const override { return exitCode_.load(std::memory_order_acquire); }

private:
    std::function<uint32_t()> body_;
    std::mutex mutex_;
    bool started_ = false;
    std::thread thread_;
    std::atomic<uint32_t> exitCode_{THREAD_STILL_ACTIVE};
};

}  // namespace

std::unique_ptr<Thread> createSuspendedThread(std::function<uint32_t()> body) {
    return std::make_unique<PosixThread>(std::move(body));
}

}  // namespace platform
