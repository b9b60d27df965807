#pragma once
// Worker threads as the pages use them: created suspended, resumed, watched through their exit
// code. The object does not delete itself when the thread ends; its owner deletes it.
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

// GetExitCodeThread's STILL_ACTIVE (a macro on Windows, hence the longer name).
constexpr uint32_t THREAD_STILL_ACTIVE = 259;

class Thread {
public:
    virtual ~Thread() = default;
    // Starts the body once; later calls do nothing. False when the thread could not start.
    virtual bool resume() = 0;
    // THREAD_STILL_ACTIVE until the body has returned (also before resume), then the body's result.
    virtual uint32_t exitCode() const = 0;
};

// The body runs only after resume(). Destroying the object waits for a started body to return;
// a body that was never started never runs. Null when the host cannot create a thread.
std::unique_ptr<Thread> createSuspendedThread(std::function<uint32_t()> body);

}  // namespace platform
