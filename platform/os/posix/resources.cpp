#include <cstring>
#include <mutex>
#include <vector>

#include "platform/os/resources.h"

namespace platform {
namespace {

// Function-local so registration from other translation units' initialisers is safe.
std::vector<ResourceEntry>& table() {
    static std::vector<ResourceEntry> entries;
    return entries;
}
std::mutex& tableMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

void registerResources(const ResourceEntry* entries, size_t count) {
    std::lock_guard lock(tableMutex());
    table().insert(table().end(), entries, entries + count);
}

Resource findResource(const char* type, int id) {
    if (!type) return {};
    std::lock_guard lock(tableMutex());
    for (const ResourceEntry& e : table()) {
        if (e.id == id && std::strcmp(e.type, type) == 0) return {e.data, e.size};
    }
    return {};
}

}  // namespace platform
