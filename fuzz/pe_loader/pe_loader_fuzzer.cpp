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
