#include <windows.h>

#include <cstring>

#include "platform/os/version.h"

namespace platform {
namespace {

// version.dll is loaded on first use, so nothing else of the build has to link it.
struct VersionApi {
    DWORD(WINAPI* size)(LPCSTR, LPDWORD) = nullptr;
    BOOL(WINAPI* get)(LPCSTR, DWORD, DWORD, LPVOID) = nullptr;
    BOOL(WINAPI* query)(LPCVOID, LPCSTR, LPVOID*, PUINT) = nullptr;
    VersionApi() {
        HMODULE dll = LoadLibraryA("version.dll");
        if (!dll) return;
        size = reinterpret_cast<decltype(size)>(reinterpret_cast<void*>(GetProcAddress(dll, "GetFileVersionInfoSizeA")));
        get = reinterpret_cast<decltype(get)>(reinterpret_cast<void*>(GetProcAddress(dll, "GetFileVersionInfoA")));
        query = reinterpret_cast<decltype(query)>(reinterpret_cast<void*>(GetProcAddress(dll, "VerQueryValueA")));
    }
};

const VersionApi& api() {
    static VersionApi a;
    return a;
}

}  // namespace

std::string programFile(const char* asStarted) {
    char path[MAX_PATH] = "";
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return asStarted ? asStarted : "";
    return std::string(path, n);
}

uint32_t fileVersionInfoSize(const char* path) {
    if (!path || !api().size) return 0;
    DWORD handle = 0;
    return api().size(path, &handle);
}

bool fileVersionInfo(const char* path, uint32_t size, void* data) {
    if (!path || !data || !api().get) return false;
    return api().get(path, 0, size, data) != FALSE;
}

bool queryFixedFileInfo(const void* block, uint32_t, FixedFileInfo& info) {
    if (!block || !api().query) return false;
    void* value = nullptr;
    UINT length = 0;
    if (!api().query(block, "\\", &value, &length) || !value || length < sizeof info) return false;
    std::memcpy(&info, value, sizeof info);
    return info.signature == FIXED_FILE_INFO_SIGNATURE;
}

}  // namespace platform
