#include <windows.h>

#include "platform/os/resources.h"

namespace platform {

Resource findResource(const char* type, int id) {
    if (!type) return {};
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC info = FindResourceA(self, MAKEINTRESOURCEA(id), type);
    if (!info) return {};
    HGLOBAL loaded = LoadResource(self, info);
    if (!loaded) return {};
    const void* data = LockResource(loaded);
    if (!data) return {};
    return {static_cast<const unsigned char*>(data), uint32_t(SizeofResource(self, info))};
}

// Windows keeps resources in the executable itself; nothing registers them.
void registerResources(const ResourceEntry*, size_t) {}

}  // namespace platform
