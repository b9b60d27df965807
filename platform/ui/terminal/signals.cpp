#include "platform/ui/terminal/signals.h"

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace ui::term {
namespace {

std::atomic<bool> g_interruptPending{false};
std::atomic<long long> g_lastInterruptMs{-1};
std::atomic<bool> g_uploadRunning{false};
void (*g_wake)() = nullptr;
void (*g_restore)() = nullptr;
std::mutex g_hookLock;
std::function<void(int, bool)> g_hook;
int g_endPipe[2] = {-1, -1};

long long monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

void endNow(int sig) {
    if (g_restore) g_restore();
    signal(sig, SIG_DFL);
    raise(sig);
    _exit(128 + sig);  // raise() from another thread than the one the signal chose still ends us
}

// Everything that is not signal-safe happens here, on a thread that only waits for an ending.
void endingThread() {
    unsigned char sig = 0;
    while (read(g_endPipe[0], &sig, 1) != 1) {
    }
    if (g_restore) g_restore();
    {
        std::lock_guard lock(g_hookLock);
        if (g_hook) g_hook(sig, g_uploadRunning.load());
    }
    endNow(sig);
}

void requestEnd(int sig) {
    unsigned char b = (unsigned char)sig;
    if (g_endPipe[1] < 0 || write(g_endPipe[1], &b, 1) != 1) endNow(sig);
}

void onInterrupt(int sig) {
    long long now = monotonicMs(), last = g_lastInterruptMs.load();
    if (last >= 0 && now - last < INTERRUPT_AGAIN_MS) {
        requestEnd(sig);
        return;
    }
    g_lastInterruptMs = now;
    g_interruptPending = true;
    if (g_wake) g_wake();
}

void onEnd(int sig) { requestEnd(sig); }

}  // namespace

void installHandler(int sig, void (*handler)(int)) {
    struct sigaction sa{};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

void installSignalHandlers(void (*wake)()) {
    g_wake = wake;
    static std::once_flag started;
    std::call_once(started, [] {
        if (pipe(g_endPipe) == 0) {
            fcntl(g_endPipe[1], F_SETFL, fcntl(g_endPipe[1], F_GETFL) | O_NONBLOCK);
            std::thread(endingThread).detach();
        }
    });
    installHandler(SIGINT, onInterrupt);
    installHandler(SIGTERM, onEnd);
    installHandler(SIGHUP, onEnd);
}

bool takeInterrupt() { return g_interruptPending.exchange(false); }

void setEndHook(std::function<void(int, bool)> hook) {
    std::lock_guard lock(g_hookLock);
    g_hook = std::move(hook);
}

void noteWizardState(HWND dialog) {
    const Window* close = window(findChild(dialog, IDCANCEL));
    g_uploadRunning = close && !close->enabled();
}

void setScreenRestore(void (*restore)()) { g_restore = restore; }

}  // namespace ui::term
