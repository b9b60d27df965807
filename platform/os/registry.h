#pragma once
// The registry, read-only, as the Win32 calls read it: regOpenKeyEx is RegOpenKeyExA, regOpenKey
// RegOpenKeyA, regQueryValueEx RegQueryValueExA, regCloseKey RegCloseKey, with their results.
// Keys and value names compare ignoring case; a key opens below any open key.
//
// Where the calls go: Windows, the real registry; POSIX, a view of the CP210x bridges present
// (the keys and "PortName" values Windows would give them, COM numbers as usb_bridges.h says);
// or whatever setRegistry installed (the simulated instrument's entries, see sim/registry.h).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct RegKeyObject;
using RegKey = RegKeyObject*;  // HKEY

// Win32's names are macros of <windows.h>, so ours live in small namespaces.
namespace regKey {
// HKEY_LOCAL_MACHINE: a 32-bit value sign-extended, as Win32 defines it.
inline const RegKey LOCAL_MACHINE = reinterpret_cast<RegKey>(intptr_t(int32_t(0x80000002u)));
}
namespace regError {
constexpr long SUCCESS = 0, FILE_NOT_FOUND = 2, INVALID_HANDLE = 6, INVALID_PARAMETER = 87, MORE_DATA = 234;
}
namespace regAccess {
constexpr uint32_t READ = 0x20019;  // KEY_READ
}
namespace regType {
constexpr uint32_t SZ = 1;  // REG_SZ
}

long regOpenKeyEx(RegKey key, const char* subKey, uint32_t options, uint32_t access, RegKey* result);
long regOpenKey(RegKey key, const char* subKey, RegKey* result);
// `dataSize` is in/out: the room offered, then the value's size (also when it did not fit, with
// MORE_DATA, when nothing is copied).
long regQueryValueEx(RegKey key, const char* valueName, uint32_t* reserved, uint32_t* type, uint8_t* data,
                     uint32_t* dataSize);
long regCloseKey(RegKey key);

// One implementation of the four calls.
class Registry {
public:
    virtual ~Registry() = default;
    virtual long openKeyEx(RegKey key, const char* subKey, uint32_t options, uint32_t access, RegKey* result) = 0;
    virtual long openKey(RegKey key, const char* subKey, RegKey* result) = 0;
    virtual long queryValueEx(RegKey key, const char* valueName, uint32_t* reserved, uint32_t* type,
                              uint8_t* data, uint32_t* dataSize) = 0;
    virtual long closeKey(RegKey key) = 0;
};

// Installs the registry the calls go to (empty restores the host's). Returns the previous one.
std::shared_ptr<Registry> setRegistry(std::shared_ptr<Registry> registry);
// The host's: Win32's registry, or the POSIX bridge view.
std::shared_ptr<Registry> hostRegistry();

// A REG_SZ value: key path below HKEY_LOCAL_MACHINE, value name, text.
struct RegistryValue {
    std::string key;
    std::string name;
    std::string value;
    bool operator==(const RegistryValue&) const = default;
};

// A registry holding exactly the values `source` gives (keys exist as far as a value lies at or
// below them). `source` is asked at every open below HKEY_LOCAL_MACHINE; keys opened below that
// key see the same answer.
class ValueRegistry final : public Registry {
public:
    explicit ValueRegistry(std::function<std::vector<RegistryValue>()> source);
    ~ValueRegistry() override;
    long openKeyEx(RegKey key, const char* subKey, uint32_t options, uint32_t access, RegKey* result) override;
    long openKey(RegKey key, const char* subKey, RegKey* result) override;
    long queryValueEx(RegKey key, const char* valueName, uint32_t* reserved, uint32_t* type, uint8_t* data,
                      uint32_t* dataSize) override;
    long closeKey(RegKey key) override;
    // Keys opened and not closed yet.
    size_t openKeys() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The POSIX view's values for these bridges: for each one with a COM number, under
// "SYSTEM\CurrentControlSet\Enum\USB\", "VID_vvvv&PID_pppp\<serial>\Device Parameters" when its
// device has one bound interface, else "VID_vvvv&PID_pppp&MI_ii\<serial>_ii\Device Parameters"
// per interface, each holding "PortName" = "COMn". Spaces in the serial are underscores, as in
// Windows' keys. A bridge without a serial gets no key (its Windows key is not named by it).
struct UsbBridge;
std::vector<RegistryValue> bridgeRegistryValues(const std::vector<UsbBridge>& bridges);

}  // namespace platform
