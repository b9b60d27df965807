#include "device/export_lookup.h"

#include <cctype>
#include <map>
#include <mutex>
#include <string>

namespace {

#ifdef _WIN32
constexpr bool LINKING_HOST = false;
#else
constexpr bool LINKING_HOST = true;
#endif

std::string lower(const char* s) {
    std::string out(s);
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

struct Linked {
    std::mutex mutex;
    std::map<std::string, void*> functions;  // by lower-case name
};

Linked& linked() {
    static Linked l;
    return l;
}

}  // namespace

void* FindCallableExport(const LoadedModule* module, const char* name) {
    void* exported = FindModuleExport(module, name);
    if (!exported || !LINKING_HOST) return exported;
    Linked& l = linked();
    std::lock_guard lock(l.mutex);
    auto it = l.functions.find(lower(name));
    return it == l.functions.end() ? nullptr : it->second;
}

void RegisterLinkedFunction(const char* name, void* function) {
    if (!LINKING_HOST || !name) return;
    Linked& l = linked();
    std::lock_guard lock(l.mutex);
    l.functions[lower(name)] = function;
}
