// Window timers on the platform clock: WM_TIMER from the pump when a period has passed.
#include <algorithm>

#include "platform/os/clock.h"
#include "platform/ui/model_internal.h"

namespace ui {

using namespace detail;

bool detail::fireDueTimer() {
    uint64_t now = platform::activeClock().nowUs();
    for (Timer& t : state().timers) {
        if (t.dueUs > now) continue;
        // One tick however late: ticks never pile up.
        t.dueUs = now + t.periodUs;
        HWND h = t.handle;
        UINT_PTR id = t.id;
        sendMessage(h, WM_TIMER, WPARAM(id), 0);
        return true;
    }
    return false;
}

uint64_t nextTimerDueUs() {
    uint64_t next = UINT64_MAX;
    for (const Timer& t : state().timers) next = std::min(next, t.dueUs);
    return next;
}

UINT_PTR setTimer(HWND handle, UINT_PTR id, UINT periodMs) {
    if (!window(handle)) return 0;
    uint64_t period = uint64_t(std::max<UINT>(periodMs, 10)) * 1000;  // Win32's shortest period
    uint64_t due = platform::activeClock().nowUs() + period;
    for (Timer& t : state().timers) {
        if (t.handle == handle && t.id == id) {
            t.periodUs = period;
            t.dueUs = due;
            return id;
        }
    }
    state().timers.push_back(Timer{handle, id, period, due});
    return id;
}

BOOL killTimer(HWND handle, UINT_PTR id) {
    auto& timers = state().timers;
    auto it = std::find_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.handle == handle && t.id == id; });
    if (it == timers.end()) return FALSE;
    timers.erase(it);
    return TRUE;
}

bool timerRunning(HWND handle, UINT_PTR id) {
    for (const Timer& t : state().timers) {
        if (t.handle == handle && t.id == id) return true;
    }
    return false;
}

namespace detail {
void dropTimersOf(HWND handle) {
    auto& timers = state().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.handle == handle; }),
                 timers.end());
}
}  // namespace detail

}  // namespace ui
