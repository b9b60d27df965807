// The POSIX stand-ins for Win32's virtual memory and modules, as the loader relies on them.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>

#include "platform/os/modules.h"
#include "platform/os/vmem.h"

using namespace platform;

namespace {
uint8_t* bytes(void* p) { return static_cast<uint8_t*>(p); }
uintptr_t value(const void* p) { return reinterpret_cast<uintptr_t>(p); }
}  // namespace

TEST(HostMemory, ReservationsAreBelow4GiBAndAFixedOneNeedsAFreeRange) {
    void* any = reserveMemory(nullptr, 0x30000);
    ASSERT_NE(any, nullptr);
    EXPECT_LT(value(any) + 0x30000, uint64_t(1) << 32);
    EXPECT_EQ(value(any) % 0x10000, 0u);
    EXPECT_EQ(reserveMemory(any, 0x1000), nullptr) << "taken";
    EXPECT_EQ(reserveMemory(bytes(any) + 0x20000, 0x1000), nullptr) << "inside a taken range";
    ASSERT_TRUE(releaseMemory(any));
    EXPECT_FALSE(releaseMemory(any));

    // Win32 rounds a requested address down to 64 KiB.
    void* fixed = reserveMemory(bytes(any) + 0x1234, 0x1000);
    EXPECT_EQ(fixed, any);
    EXPECT_TRUE(commitMemory(bytes(any) + 0x1234, 0x1000, page::READWRITE)) << "up to address + size";
    EXPECT_TRUE(releaseMemory(fixed));
    EXPECT_EQ(reserveMemory(nullptr, 0), nullptr);
    EXPECT_EQ(reserveMemory(nullptr, size_t(1) << 33), nullptr);
}

TEST(HostMemory, CommitDecommitAndProtectKeepWin32Semantics) {
    const size_t before = reservedBlockCount();
    void* block = reserveMemory(nullptr, 0x4000);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reservedBlockCount(), before + 1);
    uint32_t protect = 0;
    EXPECT_FALSE(queryProtection(block, protect));
    EXPECT_TRUE(isBadReadPtr(block, 1));
    EXPECT_FALSE(protectMemory(block, 1, page::READONLY)) << "not committed";

    ASSERT_TRUE(commitMemory(bytes(block) + 0x10, 0x1000, page::READWRITE));  // touches two pages
    EXPECT_TRUE(queryProtection(bytes(block) + 0x1FFF, protect));
    EXPECT_EQ(protect, page::READWRITE);
    EXPECT_EQ(bytes(block)[0x1FFF], 0);
    bytes(block)[0x100] = 0x5A;
    ASSERT_TRUE(commitMemory(block, 0x1000, page::READWRITE));
    EXPECT_EQ(bytes(block)[0x100], 0x5A) << "committing again keeps the contents";

    uint32_t old = 0;
    ASSERT_TRUE(protectMemory(block, 0x2000, page::EXECUTE_READ | page::NOCACHE, &old));
    EXPECT_EQ(old, page::READWRITE);
    EXPECT_TRUE(queryProtection(bytes(block) + 0x1000, protect));
    EXPECT_EQ(protect, page::EXECUTE_READ | page::NOCACHE);
    EXPECT_FALSE(protectMemory(block, 0x3000, page::READONLY)) << "third page not committed";
    EXPECT_FALSE(protectMemory(block, 0x1000, 0x3)) << "not a protection";
    EXPECT_FALSE(isBadReadPtr(block, 0x2000));
    ASSERT_TRUE(protectMemory(block, 1, page::NOACCESS));
    EXPECT_TRUE(isBadReadPtr(bytes(block) + 0xFFF, 2));
    EXPECT_FALSE(isBadReadPtr(bytes(block) + 0x1000, 0x1000));

    ASSERT_TRUE(decommitMemory(block, 0x1000));
    EXPECT_FALSE(queryProtection(block, protect));
    ASSERT_TRUE(commitMemory(block, 0x1000, page::READWRITE));
    EXPECT_EQ(bytes(block)[0x100], 0) << "a decommitted page comes back empty";
    EXPECT_FALSE(commitMemory(bytes(block) + 0x3000, 0x2000, page::READWRITE)) << "past the block";

    ASSERT_TRUE(releaseMemory(block));
    EXPECT_EQ(reservedBlockCount(), before);
    EXPECT_TRUE(isBadReadPtr(block, 1));
}

TEST(HostMemory, IsBadReadPtrLooksAtMemoryThatIsNotOurs) {
    int local = 7;
    EXPECT_FALSE(isBadReadPtr(&local, sizeof local));
    EXPECT_FALSE(isBadReadPtr(nullptr, 0));
    EXPECT_TRUE(isBadReadPtr(nullptr, 1));
    EXPECT_TRUE(isBadReadPtr(reinterpret_cast<void*>(UINTPTR_MAX - 2), 8));

    const size_t page = 4096;
    void* raw = mmap(nullptr, 3 * page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(raw, MAP_FAILED);
    ASSERT_EQ(mprotect(bytes(raw) + page, page, PROT_NONE), 0);
    EXPECT_FALSE(isBadReadPtr(raw, page));
    EXPECT_TRUE(isBadReadPtr(bytes(raw) + page - 1, 2));
    EXPECT_TRUE(isBadReadPtr(bytes(raw) + page, 3 * page - page));
    EXPECT_FALSE(isBadReadPtr(bytes(raw) + 2 * page, page));
    munmap(raw, 3 * page);
}

TEST(HostModules, LibrariesResolveAsLoadLibraryWouldAndAreCounted) {
    registerHostLibrary("Cp210xManufacturing.DLL", {{"CP210x_Reset", 1, 0x1000},
                                                    {"CP210x_Open", 0, 0x2000},
                                                    {"", 9, 0x9000}});
    LibraryHandle h = loadLibrary("cp210xmanufacturing");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(loadLibrary("CP210XMANUFACTURING.dll"), h);
    EXPECT_EQ(loadLibrary("C:\\Windows\\System32\\cp210xmanufacturing.dll"), h);
    EXPECT_EQ(hostLibraryLoadCount("CP210xManufacturing.dll"), 3);
    EXPECT_EQ(loadLibrary("cp210xmanufacturing.exe"), nullptr);
    EXPECT_EQ(loadLibrary(nullptr), nullptr);

    EXPECT_EQ(value(getProcAddress(h, "CP210x_Reset")), 0x1000u);
    EXPECT_EQ(getProcAddress(h, "cp210x_reset"), nullptr) << "GetProcAddress names are exact";
    EXPECT_EQ(getProcAddress(h, ""), nullptr);
    EXPECT_EQ(value(getProcAddressByOrdinal(h, 1)), 0x1000u);
    EXPECT_EQ(value(getProcAddressByOrdinal(h, 9)), 0x9000u);
    EXPECT_EQ(getProcAddressByOrdinal(h, 0), nullptr);
    EXPECT_EQ(getProcAddressByOrdinal(h, 2), nullptr);
    int notALibrary = 0;
    EXPECT_EQ(getProcAddress(&notALibrary, "CP210x_Reset"), nullptr);
    EXPECT_FALSE(freeLibrary(&notALibrary));

    registerHostLibrary("cp210xmanufacturing.dll", {{"CP210x_Reset", 1, 0x1111}});
    EXPECT_EQ(hostLibraryLoadCount("cp210xmanufacturing.dll"), 3) << "replacing keeps the count";
    EXPECT_EQ(value(getProcAddress(h, "CP210x_Reset")), 0x1111u);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(freeLibrary(h));
    EXPECT_FALSE(freeLibrary(h));
    clearHostLibraries();
    EXPECT_EQ(loadLibrary("cp210xmanufacturing.dll"), nullptr);
}

TEST(HostModules, EntryPointCallsGoToTheHookOrAreRefused) {
    int module = 0;
    EXPECT_FALSE(callEntryPoint(&module, &module, DLL_ATTACH, nullptr)) << "no 32-bit code runs here";
    uint32_t seen = 99;
    setEntryPointHook([&](void*, void* m, uint32_t reason, void*) {
        seen = reason;
        return m == &module;
    });
    EXPECT_TRUE(callEntryPoint(&module, &module, DLL_DETACH, nullptr));
    EXPECT_EQ(seen, DLL_DETACH);
    EntryPointHook previous = setEntryPointHook({});
    EXPECT_TRUE(previous);
    EXPECT_FALSE(callEntryPoint(&module, &module, DLL_ATTACH, nullptr));
}
