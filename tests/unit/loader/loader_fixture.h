#pragma once
// What every loader test shares: host libraries to import from, a recorder in place of the entry
// point, and a check that a test leaves no block reserved and no library loaded.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "device/module_loader.h"
#include "pe_builder.h"
#include "platform/os/modules.h"
#include "platform/os/vmem.h"

struct EntryCall {
    void* entry;
    void* module;
    uint32_t reason;
    void* reserved;
};

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::registerHostLibrary("KERNEL32.dll", {{"GetTickCount", 0, 0x11110001},
                                                       {"Sleep", 0, 0x11110002},
                                                       {"", 7, 0x11110007}});
        platform::registerHostLibrary("helper.dll", {{"Work", 3, 0x22220003}});
        reservedBefore_ = platform::reservedBlockCount();
        platform::setEntryPointHook([this](void* entry, void* module, uint32_t reason, void* reserved) {
            calls.push_back({entry, module, reason, reserved});
            return reason != platform::DLL_ATTACH || acceptAttach;
        });
    }
    void TearDown() override {
        platform::setEntryPointHook({});
        EXPECT_EQ(platform::reservedBlockCount(), reservedBefore_) << "a block is still reserved";
        EXPECT_EQ(platform::hostLibraryLoadCount("kernel32.dll"), 0);
        EXPECT_EQ(platform::hostLibraryLoadCount("helper.dll"), 0);
        platform::clearHostLibraries();
    }

    // A base nobody uses right now, so an image can ask for it.
    static uint32_t freeBase(uint32_t size) {
        void* p = platform::reserveMemory(nullptr, size);
        EXPECT_NE(p, nullptr);
        platform::releaseMemory(p);
        return uint32_t(reinterpret_cast<uintptr_t>(p));
    }

    static LoadedModule* load(const std::vector<uint8_t>& image) {
        return LoadModuleFromMemory(image.data(), image.size());
    }
    static uint8_t* at(const LoadedModule* m, uint32_t rva) { return static_cast<uint8_t*>(m->pImageBase) + rva; }
    static uint32_t word(const LoadedModule* m, uint32_t rva) { return testpe::get<uint32_t>(at(m, rva)); }

    std::vector<EntryCall> calls;
    bool acceptAttach = true;

private:
    size_t reservedBefore_ = 0;
};
