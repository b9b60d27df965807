#include <windows.h>

#include "platform/os/modules.h"

namespace platform {

namespace host {
bool callNativeEntryPoint(void* entry, void* module, uint32_t reason, void* reserved) {
    using DllEntry = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
    return reinterpret_cast<DllEntry>(entry)(static_cast<HINSTANCE>(module), reason, reserved) != FALSE;
}
}  // namespace host

LibraryHandle loadLibrary(const char* name) { return name ? LoadLibraryA(name) : nullptr; }

void* getProcAddress(LibraryHandle library, const char* name) {
    if (!library || !name) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void* getProcAddressByOrdinal(LibraryHandle library, uint16_t ordinal) {
    if (!library) return nullptr;
    return reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(library), MAKEINTRESOURCEA(ordinal)));
}

bool freeLibrary(LibraryHandle library) {
    return library && FreeLibrary(static_cast<HMODULE>(library)) != FALSE;
}

}  // namespace platform
