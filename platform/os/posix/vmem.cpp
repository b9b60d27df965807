#include <sys/mman.h>
#include <sys/syscall.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <map>
#include <mutex>
#include <vector>

#include "platform/os/vmem.h"

namespace platform {
namespace {

constexpr uintptr_t kGranularity = 0x10000;  // Win32's allocation granularity
constexpr uint64_t kLimit = uint64_t(1) << 32;

// The state Win32 keeps per page: 0 while only reserved, else the PAGE_* protection.
struct Block {
    uintptr_t size = 0;
    std::vector<uint32_t> pages;
};

struct State {
    std::mutex mutex;
    std::map<uintptr_t, Block> blocks;  // by base
    int probe[2] = {-1, -1};            // pipe for reading memory that is not ours without faulting
};

State& state() {
    static State s;
    return s;
}

uintptr_t pageSize() {
    static const uintptr_t size = uintptr_t(sysconf(_SC_PAGESIZE));
    return size;
}

uintptr_t roundDown(uintptr_t v, uintptr_t to) { return v & ~(to - 1); }
bool roundUp(uintptr_t v, uintptr_t to, uintptr_t& out) {
    if (v > UINTPTR_MAX - (to - 1)) return false;
    out = (v + to - 1) & ~(to - 1);
    return true;
}

// mmap flags for a PAGE_* value; -1 when it is none of the eight.
int hostProtection(uint32_t protect) {
    switch (protect & ~uint32_t(page::NOCACHE)) {
    case page::NOACCESS: return PROT_NONE;
    case page::READONLY: return PROT_READ;
    case page::READWRITE:
    case page::WRITECOPY: return PROT_READ | PROT_WRITE;
    case page::EXECUTE:
    case page::EXECUTE_READ: return PROT_READ | PROT_EXEC;
    case page::EXECUTE_READWRITE:
    case page::EXECUTE_WRITECOPY: return PROT_READ | PROT_WRITE | PROT_EXEC;
    default: return -1;
    }
}

// The block holding [start, end), both page-aligned; null when the range leaves every block.
Block* blockFor(State& s, uintptr_t start, uintptr_t end, uintptr_t& base) {
    auto it = s.blocks.upper_bound(start);
    if (it == s.blocks.begin()) return nullptr;
    --it;
    if (start < it->first || end > it->first + it->second.size) return nullptr;
    base = it->first;
    return &it->second;
}

// The pages touched by [address, address + size).
bool pageRange(const void* address, size_t size, uintptr_t& start, uintptr_t& end) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(address);
    if (size == 0 || a > UINTPTR_MAX - size) return false;
    start = roundDown(a, pageSize());
    return roundUp(a + size, pageSize(), end);
}

void* mapAt(uintptr_t address, uintptr_t size, int flags) {
    void* p = mmap(reinterpret_cast<void*>(address), size, PROT_NONE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | flags, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

// A free range of `size` bytes on a 64 KiB boundary, below 4 GiB.
uintptr_t mapAnywhere(uintptr_t size) {
    const uintptr_t padded = size + kGranularity - pageSize();
    auto trim = [&](void* p) -> uintptr_t {
        const uintptr_t raw = reinterpret_cast<uintptr_t>(p);
        uintptr_t base = 0;
        roundUp(raw, kGranularity, base);
        if (uint64_t(base) + size > kLimit) {
            munmap(p, padded);
            return 0;
        }
        if (base > raw) munmap(p, base - raw);
        if (raw + padded > base + size) munmap(reinterpret_cast<void*>(base + size), raw + padded - base - size);
        return base;
    };
#ifdef MAP_32BIT
    if (void* p = mapAt(0, padded, MAP_32BIT)) {
        if (uintptr_t base = trim(p)) return base;
    }
#endif
    // Hints: the kernel takes them when the range is free and goes elsewhere when it is not.
    for (uint64_t hint = 0x10000000; hint + padded <= kLimit; hint += 0x08000000) {
        if (void* p = mapAt(uintptr_t(hint), padded, 0)) {
            if (uintptr_t base = trim(p)) return base;
        }
    }
    return 0;
}

bool readableByProbe(State& s, uintptr_t start, uintptr_t end) {
    if (s.probe[0] < 0 && pipe2(s.probe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    char sink[4096];
    // One page at a time, so each write is atomic and either copies all of it or faults.
    for (uintptr_t p = start; p < end;) {
        const uintptr_t next = std::min(end, roundDown(p, pageSize()) + pageSize());
        const size_t chunk = std::min<size_t>(next - p, sizeof sink);
        // The raw call: the C library's write may be watched by a sanitizer that would report it.
        const long n = syscall(SYS_write, s.probe[1], reinterpret_cast<const void*>(p), chunk);
        if (n <= 0) return false;
        while (syscall(SYS_read, s.probe[0], sink, sizeof sink) > 0) {
        }
        p += size_t(n);
    }
    return true;
}

}  // namespace

void* reserveMemory(void* address, size_t size) {
    uintptr_t length = 0;
    if (size == 0 || !roundUp(size, pageSize(), length) || uint64_t(length) > kLimit) return nullptr;
    State& s = state();
    std::lock_guard lock(s.mutex);
    uintptr_t base = 0;
    if (address) {
        const uintptr_t a = reinterpret_cast<uintptr_t>(address);
        base = roundDown(a, kGranularity);
        // The range still ends at address + size, so rounding the start down lengthens it.
        if (!roundUp(a - base + size, pageSize(), length)) return nullptr;
        if (base == 0 || uint64_t(base) + length > kLimit) return nullptr;
        void* p = mapAt(base, length, MAP_FIXED_NOREPLACE);
        if (!p) return nullptr;
        if (reinterpret_cast<uintptr_t>(p) != base) {  // a kernel that took the flag as a hint
            munmap(p, length);
            return nullptr;
        }
    } else {
        base = mapAnywhere(length);
        if (!base) return nullptr;
    }
    Block& b = s.blocks[base];
    b.size = length;
    b.pages.assign(length / pageSize(), 0);
    return reinterpret_cast<void*>(base);
}

namespace {

// Commit and protect differ only in whether the pages must be committed already.
bool setProtection(void* address, size_t size, uint32_t protect, bool mustBeCommitted, uint32_t* oldProtect) {
    const int prot = hostProtection(protect);
    uintptr_t start, end, base;
    if (prot < 0 || !pageRange(address, size, start, end)) return false;
    State& s = state();
    std::lock_guard lock(s.mutex);
    Block* b = blockFor(s, start, end, base);
    if (!b) return false;
    const size_t first = (start - base) / pageSize(), last = (end - base) / pageSize();
    for (size_t i = first; mustBeCommitted && i < last; ++i) {
        if (b->pages[i] == 0) return false;
    }
    if (mprotect(reinterpret_cast<void*>(start), end - start, prot) != 0) return false;
    if (oldProtect) *oldProtect = b->pages[first];
    for (size_t i = first; i < last; ++i) b->pages[i] = protect;
    return true;
}

}  // namespace

bool commitMemory(void* address, size_t size, uint32_t protect) {
    return setProtection(address, size, protect, false, nullptr);
}

bool protectMemory(void* address, size_t size, uint32_t protect, uint32_t* oldProtect) {
    return setProtection(address, size, protect, true, oldProtect);
}

bool decommitMemory(void* address, size_t size) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    uintptr_t start, end, base;
    if (size == 0) {  // Win32: the whole block, given its base
        auto it = s.blocks.find(reinterpret_cast<uintptr_t>(address));
        if (it == s.blocks.end()) return false;
        start = it->first;
        end = start + it->second.size;
    } else if (!pageRange(address, size, start, end)) {
        return false;
    }
    Block* b = blockFor(s, start, end, base);
    // Fresh anonymous pages in place: the old contents are gone, as after a real decommit.
    if (!b || !mapAt(start, end - start, MAP_FIXED)) return false;
    for (uintptr_t p = start; p < end; p += pageSize()) b->pages[(p - base) / pageSize()] = 0;
    return true;
}

bool releaseMemory(void* base) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto it = s.blocks.find(reinterpret_cast<uintptr_t>(base));
    if (it == s.blocks.end()) return false;
    munmap(base, it->second.size);
    s.blocks.erase(it);
    return true;
}

bool isBadReadPtr(const void* address, size_t size) {
    if (size == 0) return false;
    const uintptr_t a = reinterpret_cast<uintptr_t>(address);
    if (a == 0 || a > UINTPTR_MAX - size) return true;
    const uintptr_t end = a + size;
    State& s = state();
    std::lock_guard lock(s.mutex);
    for (uintptr_t p = a; p < end;) {
        auto it = s.blocks.upper_bound(p);
        const uintptr_t nextBase = it == s.blocks.end() ? end : std::min(end, it->first);
        if (it != s.blocks.begin()) {
            auto prev = std::prev(it);
            if (p < prev->first + prev->second.size) {  // one of ours: its page table knows
                const uintptr_t stop = std::min(end, prev->first + prev->second.size);
                for (uintptr_t q = roundDown(p, pageSize()); q < stop; q += pageSize()) {
                    const uint32_t protect = prev->second.pages[(q - prev->first) / pageSize()];
                    if (protect == 0 || (protect & 0xFF) == page::NOACCESS) return true;
                }
                p = stop;
                continue;
            }
        }
        if (!readableByProbe(s, p, nextBase)) return true;
        p = nextBase;
    }
    return false;
}

bool queryProtection(const void* address, uint32_t& protect) {
    const uintptr_t p = roundDown(reinterpret_cast<uintptr_t>(address), pageSize());
    State& s = state();
    std::lock_guard lock(s.mutex);
    uintptr_t base;
    Block* b = blockFor(s, p, p + pageSize(), base);
    if (!b || b->pages[(p - base) / pageSize()] == 0) return false;
    protect = b->pages[(p - base) / pageSize()];
    return true;
}

size_t reservedBlockCount() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.blocks.size();
}

}  // namespace platform
