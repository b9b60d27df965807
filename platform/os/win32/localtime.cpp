#include <ctime>

#include "platform/os/localtime.h"

namespace platform::host {

LocalTime localFromUnix(int64_t unixSeconds) {
    __time64_t t = unixSeconds;
    tm local{};
    _localtime64_s(&local, &t);
    return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

}  // namespace platform::host
