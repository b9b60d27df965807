#pragma once
// The local date and time as the program's clock sees it, so that names made from it (the InfoA
// backups) come out as a real run would make them also when the clock is scaled or virtual.
#include <cstdint>

namespace platform {

struct LocalTime {
    int year = 0;    // four digits
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..59 (60 on a leap second)
};

// Under the real clock the host's local time. Under another clock: the host's wall time when that
// clock was first asked about (or as pinned below), moved on by as much as the clock has run since.
LocalTime localTime();

// Pins the wall time (seconds since 1970, UTC) that the active clock's present stands for.
void pinWallTime(int64_t unixSeconds);

namespace host {
// Seconds since 1970 (UTC) to the host's local calendar time.
LocalTime localFromUnix(int64_t unixSeconds);
}  // namespace host

}  // namespace platform
