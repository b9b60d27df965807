#include "platform/os/registry.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/os/usb_bridges.h"

namespace platform {

// A key opened in a ValueRegistry: its path below HKEY_LOCAL_MACHINE and the values seen when
// the first key of its chain was opened.
struct RegKeyObject {
    std::shared_ptr<const std::vector<RegistryValue>> values;
    std::string path;
};

namespace {

std::mutex g_registryMutex;
std::shared_ptr<Registry> g_registry;

std::shared_ptr<Registry> activeRegistry() {
    std::lock_guard lock(g_registryMutex);
    return g_registry ? g_registry : hostRegistry();
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// HKEY_CLASSES_ROOT ... HKEY_CURRENT_CONFIG and their neighbours.
bool isPredefined(RegKey key) {
    auto v = reinterpret_cast<intptr_t>(key);
    return v >= intptr_t(int32_t(0x80000000u)) && v <= intptr_t(int32_t(0x80000006u));
}

// `below` joined to `subKey`, or false when the name is not a key path: Win32 takes one trailing
// backslash but no empty component.
bool joinPath(const std::string& below, const char* subKey, std::string& out) {
    std::string_view sub = subKey ? subKey : "";
    if (!sub.empty() && sub.back() == '\\') sub.remove_suffix(1);
    out = below;
    if (sub.empty()) return subKey == nullptr || *subKey == 0;  // "\" alone names no key
    for (size_t start = 0;;) {
        size_t end = sub.find('\\', start);
        std::string_view part = sub.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part.empty()) return false;
        if (!out.empty()) out += '\\';
        out += part;
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

// A key exists when some value lies at or below it.
bool keyExists(const std::vector<RegistryValue>& values, const std::string& path) {
    if (path.empty()) return true;
    for (const RegistryValue& v : values) {
        if (v.key.size() < path.size() || !sameIgnoringCase(std::string_view(v.key).substr(0, path.size()), path))
            continue;
        if (v.key.size() == path.size() || v.key[path.size()] == '\\') return true;
    }
    return false;
}

}  // namespace

long regOpenKeyEx(RegKey key, const char* subKey, uint32_t options, uint32_t access, RegKey* result) {
    return activeRegistry()->openKeyEx(key, subKey, options, access, result);
}
long regOpenKey(RegKey key, const char* subKey, RegKey* result) {
    return activeRegistry()->openKey(key, subKey, result);
}
long regQueryValueEx(RegKey key, const char* valueName, uint32_t* reserved, uint32_t* type, uint8_t* data,
                     uint32_t* dataSize) {
    return activeRegistry()->queryValueEx(key, valueName, reserved, type, data, dataSize);
}
long regCloseKey(RegKey key) { return activeRegistry()->closeKey(key); }

std::shared_ptr<Registry> setRegistry(std::shared_ptr<Registry> registry) {
    std::lock_guard lock(g_registryMutex);
    std::shared_ptr<Registry> previous = std::move(g_registry);
    g_registry = std::move(registry);
    return previous;
}

struct ValueRegistry::State {
    std::function<std::vector<RegistryValue>()> source;
    mutable std::mutex mutex;
    std::set<RegKey> open;
};

ValueRegistry::ValueRegistry(std::function<std::vector<RegistryValue>()> source) : state_(std::make_unique<State>()) {
    state_->source = std::move(source);
}

ValueRegistry::~ValueRegistry() {
    for (RegKey key : state_->open) delete key;
}

long ValueRegistry::openKeyEx(RegKey key, const char* subKey, uint32_t, uint32_t, RegKey* result) {
    if (!result) return regError::INVALID_PARAMETER;
    std::shared_ptr<const std::vector<RegistryValue>> values;
    std::string below;
    if (isPredefined(key)) {
        // Only HKEY_LOCAL_MACHINE holds anything here.
        values = std::make_shared<const std::vector<RegistryValue>>(
            key == regKey::LOCAL_MACHINE && state_->source ? state_->source() : std::vector<RegistryValue>());
    } else {
        std::lock_guard lock(state_->mutex);
        if (!state_->open.count(key)) return regError::INVALID_HANDLE;
        values = key->values;
        below = key->path;
    }
    std::string path;
    if (!joinPath(below, subKey, path) || !keyExists(*values, path)) return regError::FILE_NOT_FOUND;
    auto* opened = new RegKeyObject{std::move(values), std::move(path)};
    std::lock_guard lock(state_->mutex);
    state_->open.insert(opened);
    *result = opened;
    return regError::SUCCESS;
}

long ValueRegistry::openKey(RegKey key, const char* subKey, RegKey* result) {
    // RegOpenKeyA gives back the key itself for an empty name.
    if (result && (!subKey || !*subKey)) {
        if (!isPredefined(key)) {
            std::lock_guard lock(state_->mutex);
            if (!state_->open.count(key)) return regError::INVALID_HANDLE;
        }
        *result = key;
        return regError::SUCCESS;
    }
    return openKeyEx(key, subKey, 0, regAccess::READ, result);
}

long ValueRegistry::queryValueEx(RegKey key, const char* valueName, uint32_t* reserved, uint32_t* type,
                                 uint8_t* data, uint32_t* dataSize) {
    if (reserved || (data && !dataSize)) return regError::INVALID_PARAMETER;
    std::shared_ptr<const std::vector<RegistryValue>> values;
    std::string path;
    if (isPredefined(key)) {
        if (key == regKey::LOCAL_MACHINE && state_->source)
            values = std::make_shared<const std::vector<RegistryValue>>(state_->source());
    } else {
        std::lock_guard lock(state_->mutex);
        if (!state_->open.count(key)) return regError::INVALID_HANDLE;
        values = key->values;
        path = key->path;
    }
    if (!values) return regError::FILE_NOT_FOUND;
    std::string_view name = valueName ? valueName : "";
    for (const RegistryValue& v : *values) {
        if (!sameIgnoringCase(v.key, path) || !sameIgnoringCase(v.name, name)) continue;
        uint32_t size = uint32_t(v.value.size() + 1);
        if (type) *type = regType::SZ;
        if (!dataSize) return regError::SUCCESS;
        uint32_t room = *dataSize;
        *dataSize = size;
        if (!data) return regError::SUCCESS;
        if (room < size) return regError::MORE_DATA;
        std::memcpy(data, v.value.c_str(), size);
        return regError::SUCCESS;
    }
    return regError::FILE_NOT_FOUND;
}

long ValueRegistry::closeKey(RegKey key) {
    if (isPredefined(key)) return regError::SUCCESS;
    std::lock_guard lock(state_->mutex);
    if (!state_->open.erase(key)) return regError::INVALID_HANDLE;
    delete key;
    return regError::SUCCESS;
}

size_t ValueRegistry::openKeys() const {
    std::lock_guard lock(state_->mutex);
    return state_->open.size();
}

std::vector<RegistryValue> bridgeRegistryValues(const std::vector<UsbBridge>& bridges) {
    std::vector<RegistryValue> values;
    for (const UsbBridge& b : bridges) {
        int com = comNumberOfTty(b.ttyNode);
        if (com <= 0 || b.serial.empty()) continue;
        std::string serial = b.serial;
        for (char& c : serial)
            if (c == ' ') c = '_';
        size_t interfaces = 0;
        for (const UsbBridge& other : bridges) interfaces += other.sysfsPath == b.sysfsPath;
        char ids[40];
        std::snprintf(ids, sizeof ids, "VID_%04X&PID_%04X", b.vid, b.pid);
        std::string key = std::string("SYSTEM\\CurrentControlSet\\Enum\\USB\\") + ids;
        if (interfaces == 1) {
            key += "\\" + serial;
        } else {
            char mi[8];
            std::snprintf(mi, sizeof mi, "%02X", unsigned(b.interfaceNumber) & 0xFF);
            key += std::string("&MI_") + mi + "\\" + serial + "_" + mi;
        }
        values.push_back({key + "\\Device Parameters", "PortName", "COM" + std::to_string(com)});
    }
    return values;
}

}  // namespace platform
