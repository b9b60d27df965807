#include <windows.h>

#include "platform/os/tempdir.h"
#include "platform/os/win32/error_text.h"

namespace platform {

namespace {

// `wide` in the code page of the ANSI calls; empty when a character has no place in it.
std::string inAnsiCodePage(const std::wstring& wide) {
    UINT page = GetACP();
    // UTF-8 (the manifest asks for it from Windows 10 1903 on) holds every character, and
    // takes no default-character flag.
    BOOL lossy = FALSE;
    BOOL* lossyOut = page == CP_UTF8 ? nullptr : &lossy;
    DWORD flags = page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    int n = WideCharToMultiByte(page, flags, wide.c_str(), int(wide.size()), nullptr, 0, nullptr, lossyOut);
    if (n <= 0 || lossy) return {};
    std::string text(size_t(n), '\0');
    WideCharToMultiByte(page, flags, wide.c_str(), int(wide.size()), text.data(), n, nullptr, lossyOut);
    return lossy ? std::string() : text;
}

}  // namespace

// Every file call of the program is an ANSI one. A user name outside the ANSI code page (Greek
// letters on a Western system, before Windows 10 1903 or where the UTF-8 code page is not
// taken) has no ANSI spelling: the folder's short 8.3 name, which is ASCII, stands in for it.
std::string tempPath() {
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH) return {};
    std::wstring wide(buffer, n);
    std::string path = inAnsiCodePage(wide);
    if (!path.empty()) return path;
    wchar_t shortName[MAX_PATH + 1] = {};
    n = GetShortPathNameW(wide.c_str(), shortName, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return {};
    return inAnsiCodePage(std::wstring(shortName, n));
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
    reason = systemErrorText(error);
    return NewFile::Failed;
}

}  // namespace platform
