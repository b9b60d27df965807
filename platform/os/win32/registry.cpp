// The registry: the Win32 calls, one for one.
#include <windows.h>

#include "platform/os/registry.h"

namespace platform {
namespace {

HKEY toHkey(RegKey key) {
    return key == regKey::LOCAL_MACHINE ? HKEY_LOCAL_MACHINE : reinterpret_cast<HKEY>(key);
}

class Win32Registry final : public Registry {
public:
    long openKeyEx(RegKey key, const char* subKey, uint32_t options, uint32_t access, RegKey* result) override {
        return RegOpenKeyExA(toHkey(key), subKey, options, access, reinterpret_cast<PHKEY>(result));
    }
    long openKey(RegKey key, const char* subKey, RegKey* result) override {
        return RegOpenKeyA(toHkey(key), subKey, reinterpret_cast<PHKEY>(result));
    }
    long queryValueEx(RegKey key, const char* valueName, uint32_t* reserved, uint32_t* type, uint8_t* data,
                      uint32_t* dataSize) override {
        static_assert(sizeof(DWORD) == sizeof(uint32_t));
        return RegQueryValueExA(toHkey(key), valueName, reinterpret_cast<LPDWORD>(reserved),
                                reinterpret_cast<LPDWORD>(type), data, reinterpret_cast<LPDWORD>(dataSize));
    }
    long closeKey(RegKey key) override { return RegCloseKey(toHkey(key)); }
};

}  // namespace

std::shared_ptr<Registry> hostRegistry() {
    static const std::shared_ptr<Registry> registry = std::make_shared<Win32Registry>();
    return registry;
}

}  // namespace platform
