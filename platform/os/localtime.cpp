#include "platform/os/localtime.h"

#include <chrono>
#include <mutex>

#include "platform/os/clock.h"

namespace platform {
namespace {

struct Anchor {
    Clock* clock = nullptr;
    int64_t wallUs = 0;    // wall time the clock's `clockUs` stands for
    uint64_t clockUs = 0;
};

std::mutex g_mutex;
Anchor g_anchor;

int64_t hostWallUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t floorSeconds(int64_t us) { return us >= 0 ? us / 1000000 : -((-us + 999999) / 1000000); }

}  // namespace

LocalTime localTime() {
    Clock& clock = activeClock();
    if (dynamic_cast<RealClock*>(&clock)) return host::localFromUnix(floorSeconds(hostWallUs()));
    std::lock_guard lock(g_mutex);
    uint64_t now = clock.nowUs();
    // A clock not seen before, or a new one at the same address that starts earlier.
    if (g_anchor.clock != &clock || now < g_anchor.clockUs) g_anchor = Anchor{&clock, hostWallUs(), now};
    return host::localFromUnix(floorSeconds(g_anchor.wallUs + int64_t(now - g_anchor.clockUs)));
}

void pinWallTime(int64_t unixSeconds) {
    Clock& clock = activeClock();
    std::lock_guard lock(g_mutex);
    g_anchor = Anchor{&clock, unixSeconds * 1000000, clock.nowUs()};
}

}  // namespace platform
