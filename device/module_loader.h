#pragma once
// Maps, relocates, links and starts a 32-bit DLL from a buffer, without any file on disk.
#include <cstddef>
#include <cstdint>

#include "device/pe_image.h"
#include "platform/os/modules.h"

struct LoadedModule {
    pe::ImageNtHeaders32* pNtHeaders;      // inside the loaded copy
    void* pImageBase;                      // the reserved block
    platform::LibraryHandle* phLibraries;  // one per imported library, null while empty
    uint32_t nLibraries;
    bool bAttached;                        // the entry point accepted process attach
    // The reserved block's length. The copied headers may be overwritten by a damaged image's
    // own sections, so every later read is bounded by this instead.
    uint32_t nImageSize;
};

// Null on any failure, with nothing left allocated or loaded. `size` is the buffer's length:
// every structure is checked against it, or against the image, before it is read.
LoadedModule* LoadModuleFromMemory(const void* data, size_t size);
// The exported function of that name, letter case ignored; null when there is none.
void* FindModuleExport(const LoadedModule* module, const char* name);
// Detaches, frees the imported libraries and the image. Null is ignored.
void FreeLoadedModule(LoadedModule* module);
