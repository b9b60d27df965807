#include <ctime>
#include <cerrno>

#include "platform/os/clock.h"

namespace platform::host {

uint64_t monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

void sleepUs(uint64_t us) {
    timespec ts{time_t(us / 1000000u), long(us % 1000000u) * 1000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace platform::host
