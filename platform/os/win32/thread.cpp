#include <windows.h>

#include "platform/os/thread.h"

namespace platform {
namespace {

class Win32Thread final : public Thread {
public:
    explicit Win32Thread(std::function<uint32_t()> body) : body_(std::move(body)) {
        handle_ = CreateThread(nullptr, 0, &Win32Thread::entry, this, CREATE_SUSPENDED, nullptr);
    }

    ~Win32Thread() override {
        if (!handle_) return;
        if (started_) {
            WaitForSingleObject(handle_, INFINITE);
        } else {
            // Never resumed: the body must not run after we are gone.
            TerminateThread(handle_, 0);
        }
        CloseHandle(handle_);
    }

    bool valid() const { return handle_ != nullptr; }

    bool resume() override {
        if (started_) return true;
        if (ResumeThread(handle_) == DWORD(-1)) return false;
        started_ = true;
        return true;
    }

    uint32_t exitCode() const override {
        DWORD code = THREAD_STILL_ACTIVE;
        if (!GetExitCodeThread(handle_, &code)) return THREAD_STILL_ACTIVE;
        return code;
    }

private:
    static DWORD WINAPI entry(LPVOID self) { return static_cast<Win32Thread*>(self)->body_(); }

    std::function<uint32_t()> body_;
    HANDLE handle_ = nullptr;
    bool started_ = false;
};

}  // namespace

std::unique_ptr<Thread> createSuspendedThread(std::function<uint32_t()> body) {
    auto thread = std::make_unique<Win32Thread>(std::move(body));
    if (!thread->valid()) return nullptr;
    return thread;
}

}  // namespace platform
