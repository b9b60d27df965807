#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <mutex>

#include "platform/os/modules.h"

namespace platform {
namespace {

struct Library {
    std::vector<HostFunction> functions;
    int loads = 0;
};

struct Table {
    std::mutex mutex;
    std::map<std::string, std::unique_ptr<Library>> libraries;  // by normalised name
};

Table& table() {
    static Table t;
    return t;
}

// What LoadLibraryA would match: the file name without its folder, any case, ".dll" implied.
std::string normalise(const std::string& name) {
    std::string n = name.substr(name.find_last_of("/\\") + 1);
    std::transform(n.begin(), n.end(), n.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (n.find('.') == std::string::npos) n += ".dll";
    return n;
}

// Handles are checked against the table, so a stale or foreign one finds nothing.
Library* find(Table& t, LibraryHandle handle) {
    for (auto& [name, library] : t.libraries) {
        if (library.get() == handle) return library.get();
    }
    return nullptr;
}

void* address(const HostFunction& f) { return reinterpret_cast<void*>(uintptr_t(f.address)); }

}  // namespace

namespace host {
bool callNativeEntryPoint(void*, void*, uint32_t, void*) { return false; }
}  // namespace host

LibraryHandle loadLibrary(const char* name) {
    if (!name) return nullptr;
    Table& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.libraries.find(normalise(name));
    if (it == t.libraries.end()) return nullptr;
    ++it->second->loads;
    return it->second.get();
}

void* getProcAddress(LibraryHandle handle, const char* name) {
    if (!name) return nullptr;
    Table& t = table();
    std::lock_guard lock(t.mutex);
    Library* library = find(t, handle);
    if (!library) return nullptr;
    for (const HostFunction& f : library->functions) {
        if (!f.name.empty() && f.name == name) return address(f);
    }
    return nullptr;
}

void* getProcAddressByOrdinal(LibraryHandle handle, uint16_t ordinal) {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    Library* library = find(t, handle);
    if (!library || ordinal == 0) return nullptr;
    for (const HostFunction& f : library->functions) {
        if (f.ordinal == ordinal) return address(f);
    }
    return nullptr;
}

bool freeLibrary(LibraryHandle handle) {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    Library* library = find(t, handle);
    if (!library || library->loads == 0) return false;
    --library->loads;
    return true;
}

void registerHostLibrary(const std::string& name, std::vector<HostFunction> functions) {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    auto& library = t.libraries[normalise(name)];
    if (!library) library = std::make_unique<Library>();
    library->functions = std::move(functions);
}

void clearHostLibraries() {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    t.libraries.clear();
}

int hostLibraryLoadCount(const std::string& name) {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.libraries.find(normalise(name));
    return it == t.libraries.end() ? 0 : it->second->loads;
}

}  // namespace platform
