#include <windows.h>

#include "platform/os/localtime.h"

namespace platform::host {

// Windows' own time-zone rules, as GetLocalTime applies them; the C runtime's localtime would
// follow a TZ variable of the environment instead.
LocalTime localFromUnix(int64_t unixSeconds) {
    constexpr int64_t FILETIME_UNIX_EPOCH = 11644473600;  // seconds from 1601 to 1970
    ULARGE_INTEGER ticks;
    ticks.QuadPart = uint64_t(unixSeconds + FILETIME_UNIX_EPOCH) * 10000000u;
    FILETIME utcFile{ticks.LowPart, ticks.HighPart};
    SYSTEMTIME utc{}, local{};
    if (!FileTimeToSystemTime(&utcFile, &utc)) return {};
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
    return LocalTime{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

}  // namespace platform::host
