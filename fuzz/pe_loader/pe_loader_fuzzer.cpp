// Damaged DLL images must be refused or loaded without a read outside the buffer or the image,
// and must leave nothing behind.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/module_loader.h"
#include "platform/os/modules.h"
#include "platform/os/vmem.h"

namespace {

bool g_acceptAttach = true;
constexpr uint32_t kMaxImage = 64u << 20;

void setUp() {
    platform::registerHostLibrary("kernel32.dll", {{"GetTickCount", 0, 0x11110001},
                                                   {"Sleep", 0, 0x11110002},
                                                   {"", 7, 0x11110007}});
    platform::registerHostLibrary("helper.dll", {{"Work", 3, 0x22220003}});
    platform::setEntryPointHook([](void*, void*, uint32_t reason, void*) {
        return reason != platform::DLL_ATTACH || g_acceptAttach;
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (setUp(), true);
    (void)ready;
    // Huge images only cost time: zeroing and page tables grow with SizeOfImage and
    // SectionAlignment, while the reads worth checking do not change.
    uint32_t lfanew = 0, sizeOfImage = 0, sectionAlignment = 0;
    if (size >= 0x40) std::memcpy(&lfanew, data + 0x3C, 4);
    if (lfanew < size && size - lfanew >= 0x58) {
        std::memcpy(&sectionAlignment, data + lfanew + 0x38, 4);
        std::memcpy(&sizeOfImage, data + lfanew + 0x50, 4);
        if (sizeOfImage > kMaxImage || sectionAlignment > kMaxImage) return -1;
    }
    // The last byte decides whether the entry point accepts, so refusals are covered too.
    g_acceptAttach = size == 0 || (data[size - 1] & 1) == 0;
    // An exact-size copy: the sanitizer then sees any read past the end.
    std::vector<uint8_t> image(data, data + size);
    image.shrink_to_fit();
    LoadedModule* m = LoadModuleFromMemory(image.data(), image.size());
    if (m) {
        for (const char* name : {"Run", "getvalue", "CP210x_Reset", ""}) FindModuleExport(m, name);
        FreeLoadedModule(m);
    }
    if (platform::reservedBlockCount() != 0 || platform::hostLibraryLoadCount("kernel32.dll") != 0 ||
        platform::hostLibraryLoadCount("helper.dll") != 0)
        std::abort();  // something was left allocated or loaded
    return 0;
}
