#include <windows.h>

#include "platform/os/clock.h"

namespace platform::host {

uint64_t monotonicUs() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return uint64_t(now.QuadPart / frequency) * 1000000u + uint64_t(now.QuadPart % frequency) * 1000000u / uint64_t(frequency);
}

void sleepUs(uint64_t us) { Sleep(DWORD((us + 999) / 1000)); }

}  // namespace platform::host
