#pragma once
// A Win32 error code in the system's words, without the closing period and line break.
#include <windows.h>

#include <string>

namespace platform {

inline std::string systemErrorText(DWORD error) {
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) text[--n] = '\0';
    return n > 0 ? text : "Windows error " + std::to_string(error);
}

}  // namespace platform
