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

NewFile createNewFile(const std::string& path, std::string& reason) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return NewFile::Created;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return NewFile::Exists;
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) text[--n] = '\0';
    reason = n > 0 ? text : "Windows error " + std::to_string(error);
    return NewFile::Failed;
}

}  // namespace platform
