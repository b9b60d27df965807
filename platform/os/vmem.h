#pragma once
// Virtual memory as VirtualAlloc, VirtualProtect, VirtualFree and IsBadReadPtr offer it. Ranges
// cover every page they touch, as on Win32. On POSIX every block lies below 4 GiB, so the 32-bit
// address fields of a PE32 image can hold the addresses handed out.
#include <cstddef>
#include <cstdint>

namespace platform {

// Win32's PAGE_* protection values (macros of <windows.h>, hence the namespace).
namespace page {
constexpr uint32_t NOACCESS = 0x01, READONLY = 0x02, READWRITE = 0x04, WRITECOPY = 0x08,
                   EXECUTE = 0x10, EXECUTE_READ = 0x20, EXECUTE_READWRITE = 0x40,
                   EXECUTE_WRITECOPY = 0x80, NOCACHE = 0x200;
}

// VirtualAlloc(MEM_RESERVE): `size` bytes at `address`, or anywhere when `address` is null.
// Null when the range is not free. The address is rounded down to 64 KiB as Win32 does.
void* reserveMemory(void* address, size_t size);
// VirtualAlloc(MEM_COMMIT): pages of a reserved block become usable with `protect`; pages not
// committed before read as zeros, pages already committed keep their contents.
bool commitMemory(void* address, size_t size, uint32_t protect);
// VirtualProtect: every page must be committed and inside one reserved block.
bool protectMemory(void* address, size_t size, uint32_t protect, uint32_t* oldProtect = nullptr);
// VirtualFree(MEM_DECOMMIT): the pages go back to reserved; their contents are lost.
bool decommitMemory(void* address, size_t size);
// VirtualFree(MEM_RELEASE) of a block reserveMemory returned.
bool releaseMemory(void* base);

// IsBadReadPtr: true when any byte of the range cannot be read. It looks, it does not fault.
bool isBadReadPtr(const void* address, size_t size);

// VirtualQuery's Protect of the page holding `address`; false when it is not committed.
bool queryProtection(const void* address, uint32_t& protect);

// Blocks reserved through reserveMemory and not yet released, so tests can check for leaks.
size_t reservedBlockCount();

}  // namespace platform
