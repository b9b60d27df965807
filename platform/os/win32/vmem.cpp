#include <windows.h>

#include <atomic>

#include "platform/os/vmem.h"

namespace platform {
namespace {
std::atomic<size_t> g_reserved{0};
}

void* reserveMemory(void* address, size_t size) {
    void* p = VirtualAlloc(address, size, MEM_RESERVE, PAGE_READWRITE);
    if (p) ++g_reserved;
    return p;
}

bool commitMemory(void* address, size_t size, uint32_t protect) {
    return VirtualAlloc(address, size, MEM_COMMIT, protect) != nullptr;
}

bool protectMemory(void* address, size_t size, uint32_t protect, uint32_t* oldProtect) {
    DWORD old = 0;
    if (!VirtualProtect(address, size, protect, &old)) return false;
    if (oldProtect) *oldProtect = old;
    return true;
}

bool decommitMemory(void* address, size_t size) {
    return VirtualFree(address, size, MEM_DECOMMIT) != FALSE;
}

bool releaseMemory(void* base) {
    if (!VirtualFree(base, 0, MEM_RELEASE)) return false;
    --g_reserved;
    return true;
}

bool isBadReadPtr(const void* address, size_t size) { return IsBadReadPtr(address, size) != FALSE; }

bool queryProtection(const void* address, uint32_t& protect) {
    MEMORY_BASIC_INFORMATION info{};
    if (!VirtualQuery(address, &info, sizeof info) || info.State != MEM_COMMIT) return false;
    protect = info.Protect;
    return true;
}

size_t reservedBlockCount() { return g_reserved; }

}  // namespace platform
