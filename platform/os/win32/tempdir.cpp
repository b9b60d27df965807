#include <windows.h>

#include "platform/os/tempdir.h"

namespace platform {

std::string tempPath() {
    char buffer[MAX_PATH + 1] = {};
    DWORD n = GetTempPathA(sizeof buffer, buffer);
    if (n == 0 || n > sizeof buffer) return {};
    return std::string(buffer, n);
}

char pathSeparator() { return '\\'; }

}  // namespace platform
