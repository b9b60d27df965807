#pragma once
// Libraries as LoadLibraryA, GetProcAddress and FreeLibrary offer them, and the call of a loaded
// image's entry point. On POSIX the libraries are a table that tests and tools fill: each name
// maps functions (by name and by ordinal) to 32-bit addresses, so a PE32 image's imports resolve
// to values its 32-bit fields can hold and that a test can check.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

using LibraryHandle = void*;  // HMODULE

// LoadLibraryA. Names compare without regard to case; a name without a dot gets ".dll".
// Null when the library cannot be loaded. Every success must be matched by freeLibrary.
LibraryHandle loadLibrary(const char* name);
// GetProcAddress by name, and by ordinal (MAKEINTRESOURCE). Null when there is no such function.
void* getProcAddress(LibraryHandle library, const char* name);
void* getProcAddressByOrdinal(LibraryHandle library, uint16_t ordinal);
bool freeLibrary(LibraryHandle library);

// DLL_PROCESS_ATTACH / DLL_PROCESS_DETACH.
constexpr uint32_t DLL_ATTACH = 1, DLL_DETACH = 0;

// Calls a DllMain-shaped entry point: BOOL WINAPI (HINSTANCE, DWORD, LPVOID). On Windows the
// code runs; elsewhere 32-bit code cannot, so the call goes to the installed hook and, without
// one, is refused (false). An installed hook takes the call on every host.
using EntryPointHook =
    std::function<bool(void* entry, void* module, uint32_t reason, void* reserved)>;
bool callEntryPoint(void* entry, void* module, uint32_t reason, void* reserved);
// Installs a hook (empty removes it). Returns the previous one.
EntryPointHook setEntryPointHook(EntryPointHook hook);

// The host's own entry-point call, behind callEntryPoint.
namespace host {
bool callNativeEntryPoint(void* entry, void* module, uint32_t reason, void* reserved);
}

// The table of host libraries (POSIX only).
struct HostFunction {
    std::string name;      // empty: reachable by ordinal only
    uint16_t ordinal = 0;  // 0: reachable by name only
    uint32_t address = 0;
};
// Adds or replaces a library; replacing keeps its load count.
void registerHostLibrary(const std::string& name, std::vector<HostFunction> functions);
// Forgets every library; handles still held become invalid.
void clearHostLibraries();
// How many loadLibrary calls on this library are not yet matched by freeLibrary.
int hostLibraryLoadCount(const std::string& name);

}  // namespace platform
