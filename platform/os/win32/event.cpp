#include <windows.h>

#include "platform/os/event.h"

namespace platform {
namespace {

class Win32Event final : public Event {
public:
    explicit Win32Event(HANDLE handle) : handle_(handle) {}
    ~Win32Event() override { CloseHandle(handle_); }
    void set() override { SetEvent(handle_); }
    void reset() override { ResetEvent(handle_); }
    bool wait(uint32_t timeoutMs) override {
        return WaitForSingleObject(handle_, timeoutMs == WAIT_INFINITE ? INFINITE : DWORD(timeoutMs)) == WAIT_OBJECT_0;
    }

private:
    HANDLE handle_;
};

}  // namespace

std::unique_ptr<Event> createManualResetEvent(bool initiallySet) {
    HANDLE handle = CreateEventA(nullptr, TRUE, initiallySet ? TRUE : FALSE, nullptr);
    if (!handle) return nullptr;
    return std::make_unique<Win32Event>(handle);
}

}  // namespace platform
