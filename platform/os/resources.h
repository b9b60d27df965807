#pragma once
// Read-only data carried inside the program file, found by type name and integer id.
#include <cstddef>
#include <cstdint>

namespace platform {

struct Resource {
    const unsigned char* data = nullptr;  // valid for the life of the process
    uint32_t size = 0;
    explicit operator bool() const { return data != nullptr; }
};

// {nullptr, 0} when the program carries no such resource.
Resource findResource(const char* type, int id);

// Where resources are not part of the executable format, generated code registers them at start.
struct ResourceEntry {
    const char* type;
    int id;
    const unsigned char* data;
    uint32_t size;
};
void registerResources(const ResourceEntry* entries, size_t count);

}  // namespace platform
