#include "device/module_loader.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/os/vmem.h"

using namespace pe;

namespace {

// A byte range that every access of the loader goes through: nothing outside it is touched.
// With `pages` set, reads also ask the platform whether the pages can still be read, since a
// loaded image may have discarded or closed some of them.
struct Span {
    uint8_t* base;
    uint64_t size;
    bool pages = false;

    bool has(uint64_t offset, uint64_t length) const {
        if (offset > size || length > size - offset) return false;
        return !pages || !platform::isBadReadPtr(base + offset, size_t(length));
    }
    template <class T>
    bool get(uint64_t offset, T& out) const {
        if (!has(offset, sizeof(T))) return false;
        std::memcpy(&out, base + offset, sizeof(T));
        return true;
    }
    template <class T>
    bool put(uint64_t offset, const T& value) const {
        if (offset > size || sizeof(T) > size - offset) return false;
        std::memcpy(base + offset, &value, sizeof(T));
        return true;
    }
    // The zero-terminated string at `offset`, or null when it does not end inside the span.
    const char* string(uint64_t offset) const {
        constexpr uint64_t kStep = 4096;  // the smallest page a host has
        for (uint64_t at = offset; at < size;) {
            const uint64_t stop = std::min(size, (at / kStep + 1) * kStep);
            if (!has(at, stop - at)) return nullptr;
            if (std::memchr(base + at, 0, size_t(stop - at))) return reinterpret_cast<const char*>(base + offset);
            at = stop;
        }
        return nullptr;
    }
};

uint32_t address32(const void* p) { return uint32_t(reinterpret_cast<uintptr_t>(p)); }
uint8_t* pointer(uint32_t a) { return reinterpret_cast<uint8_t*>(uintptr_t(a)); }

Span imageOf(const LoadedModule* m, bool pages) {
    return {static_cast<uint8_t*>(m->pImageBase), m->nImageSize, pages};
}

uint64_t ntOffset(const LoadedModule* m) {
    return uint64_t(reinterpret_cast<uint8_t*>(m->pNtHeaders) - static_cast<uint8_t*>(m->pImageBase));
}

bool readNtHeaders(const LoadedModule* m, const Span& image, ImageNtHeaders32& nt) {
    return image.get(ntOffset(m), nt);
}

// Walks the copied section table; `visit` answers false to stop the load.
template <class Visit>
bool forEachSection(const LoadedModule* m, uint32_t headersSize, Visit visit) {
    const Span image = imageOf(m, false);
    ImageNtHeaders32 nt{};
    if (!readNtHeaders(m, image, nt)) return false;
    const uint64_t table = ntOffset(m) + SECTION_TABLE_OFFSET + nt.FileHeader.SizeOfOptionalHeader;
    const Span headers{image.base, headersSize};
    for (uint32_t i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
        const uint64_t at = table + uint64_t(i) * sizeof(ImageSectionHeader);
        ImageSectionHeader section{};
        if (!headers.get(at, section) || !visit(section, at)) return false;
    }
    return true;
}

bool copySections(LoadedModule* m, const Span& source, uint32_t headersSize, uint32_t sectionAlignment) {
    const Span image = imageOf(m, false);
    return forEachSection(m, headersSize, [&](const ImageSectionHeader& s, uint64_t at) {
        uint8_t* dest = image.base + s.VirtualAddress;
        if (s.SizeOfRawData == 0) {
            if (sectionAlignment == 0) return true;
            if (!image.has(s.VirtualAddress, sectionAlignment) ||
                !platform::commitMemory(dest, sectionAlignment, platform::page::READWRITE))
                return false;
            std::memset(dest, 0, sectionAlignment);
        } else {
            if (!image.has(s.VirtualAddress, s.SizeOfRawData) ||
                !source.has(s.PointerToRawData, s.SizeOfRawData) ||
                !platform::commitMemory(dest, s.SizeOfRawData, platform::page::READWRITE))
                return false;
            std::memcpy(dest, source.base + s.PointerToRawData, s.SizeOfRawData);
        }
        return image.put(at + offsetof(ImageSectionHeader, Misc), address32(dest));
    });
}

bool relocate(const LoadedModule* m, uint32_t delta) {
    const Span image = imageOf(m, false);
    ImageNtHeaders32 nt{};
    if (!readNtHeaders(m, image, nt)) return false;
    const ImageDataDirectory dir = nt.OptionalHeader.DataDirectory[DIRECTORY_ENTRY_BASERELOC];
    if (dir.Size == 0) return true;
    if (!image.has(dir.VirtualAddress, dir.Size)) return false;
    // Blocks are read only inside the directory: past its end lies other data, not a block.
    const uint64_t end = uint64_t(dir.VirtualAddress) + dir.Size;
    for (uint64_t at = dir.VirtualAddress; end - at >= sizeof(ImageBaseRelocation);) {
        ImageBaseRelocation block{};
        image.get(at, block);
        if (block.VirtualAddress == 0) break;
        // A block shorter than its own header would never move the walk on.
        if (block.SizeOfBlock < sizeof block || block.SizeOfBlock > end - at) return false;
        const uint32_t entries = (block.SizeOfBlock - sizeof block) / 2;
        for (uint32_t i = 0; i < entries; ++i) {
            uint16_t entry = 0;
            image.get(at + sizeof block + 2 * i, entry);
            if (entry >> 12 != REL_BASED_HIGHLOW) continue;
            const uint64_t target = uint64_t(block.VirtualAddress) + (entry & 0x0FFF);
            uint32_t word = 0;
            if (!image.get(target, word)) return false;
            image.put(target, uint32_t(word + delta));
        }
        at += block.SizeOfBlock;
    }
    return true;
}

bool addLibrary(LoadedModule* m, platform::LibraryHandle library) {
    void* grown = std::realloc(m->phLibraries, (m->nLibraries + 1) * sizeof(platform::LibraryHandle));
    if (!grown) return false;
    m->phLibraries = static_cast<platform::LibraryHandle*>(grown);
    m->phLibraries[m->nLibraries++] = library;
    return true;
}

bool resolveImports(LoadedModule* m) {
    const Span image = imageOf(m, false);
    ImageNtHeaders32 nt{};
    if (!readNtHeaders(m, image, nt)) return false;
    const ImageDataDirectory dir = nt.OptionalHeader.DataDirectory[DIRECTORY_ENTRY_IMPORT];
    if (dir.Size == 0) return true;
    for (uint64_t at = dir.VirtualAddress;; at += sizeof(ImageImportDescriptor)) {
        if (!image.has(at, sizeof(ImageImportDescriptor))) return false;
        if (platform::isBadReadPtr(image.base + at, sizeof(ImageImportDescriptor))) return true;
        ImageImportDescriptor d{};
        image.get(at, d);
        if (d.Name == 0) return true;
        const char* libraryName = image.string(d.Name);
        if (!libraryName) return false;
        platform::LibraryHandle library = platform::loadLibrary(libraryName);
        if (!library) return false;
        if (!addLibrary(m, library)) {
            platform::freeLibrary(library);
            return false;
        }
        const uint32_t lookup = d.OriginalFirstThunk ? d.OriginalFirstThunk : d.FirstThunk;
        for (uint64_t i = 0;; ++i) {
            uint32_t entry = 0;
            if (!image.get(lookup + 4 * i, entry)) return false;
            if (entry == 0) break;
            void* function;
            if (entry & ORDINAL_FLAG32) {
                function = platform::getProcAddressByOrdinal(library, uint16_t(entry & 0xFFFF));
            } else {
                const char* name = image.string(uint64_t(entry) + 2);
                if (!name) return false;
                function = platform::getProcAddress(library, name);
            }
            // The image's 32-bit slot must hold the whole address.
            if (!function || reinterpret_cast<uintptr_t>(function) > UINT32_MAX) return false;
            if (!image.put(d.FirstThunk + 4 * i, address32(function))) return false;
        }
    }
}

uint32_t protectionOf(uint32_t characteristics) {
    static const uint32_t table[2][2][2] = {
        // [execute][read][write]
        {{platform::page::NOACCESS, platform::page::WRITECOPY},
         {platform::page::READONLY, platform::page::READWRITE}},
        {{platform::page::EXECUTE, platform::page::EXECUTE_WRITECOPY},
         {platform::page::EXECUTE_READ, platform::page::EXECUTE_READWRITE}},
    };
    uint32_t protect = table[(characteristics & SCN_MEM_EXECUTE) != 0][(characteristics & SCN_MEM_READ) != 0]
                            [(characteristics & SCN_MEM_WRITE) != 0];
    if (characteristics & SCN_MEM_NOT_CACHED) protect |= platform::page::NOCACHE;
    return protect;
}

bool protectSections(const LoadedModule* m, uint32_t headersSize) {
    const Span image = imageOf(m, false);
    ImageNtHeaders32 nt{};
    if (!readNtHeaders(m, image, nt)) return false;
    const uintptr_t base = reinterpret_cast<uintptr_t>(image.base);
    // The whole table is read first: a section may share the headers' page and close it.
    std::vector<ImageSectionHeader> table;
    if (!forEachSection(m, headersSize, [&](const ImageSectionHeader& s, uint64_t) {
            table.push_back(s);
            return true;
        }))
        return false;
    for (const ImageSectionHeader& s : table) {
        // The recorded address is read back from the copy: it must still name this image.
        const uintptr_t recorded = s.Misc.PhysicalAddress;
        const bool inside = recorded >= base && recorded - base < image.size;
        if (s.Characteristics & SCN_MEM_DISCARDABLE) {
            if (s.SizeOfRawData == 0 || recorded == 0) continue;
            if (!inside || !image.has(recorded - base, s.SizeOfRawData)) return false;
            platform::decommitMemory(pointer(s.Misc.PhysicalAddress), s.SizeOfRawData);
            continue;
        }
        uint32_t size = s.SizeOfRawData;
        if (size == 0) {
            if (s.Characteristics & SCN_CNT_INITIALIZED_DATA)
                size = nt.OptionalHeader.SizeOfInitializedData;
            else if (s.Characteristics & SCN_CNT_UNINITIALIZED_DATA)
                size = nt.OptionalHeader.SizeOfUninitializedData;
        }
        if (size == 0) continue;
        if (!inside) return false;
        // A size running past the image is the host's to refuse, as VirtualProtect does.
        platform::protectMemory(pointer(s.Misc.PhysicalAddress), size, protectionOf(s.Characteristics));
    }
    return true;
}

LoadedModule* fail(LoadedModule* m) {
    FreeLoadedModule(m);
    return nullptr;
}

}  // namespace

LoadedModule* LoadModuleFromMemory(const void* data, size_t size) {
    if (!data) return nullptr;
    const Span source{static_cast<uint8_t*>(const_cast<void*>(data)), size};
    ImageDosHeader dos{};
    uint32_t signature = 0;
    if (!source.get(0, dos) || dos.e_magic != DOS_SIGNATURE || dos.e_lfanew < 0) return nullptr;
    if (!source.get(uint64_t(dos.e_lfanew), signature) || signature != NT_SIGNATURE) return nullptr;
    ImageNtHeaders32 nt{};
    if (!source.get(uint64_t(dos.e_lfanew), nt)) return nullptr;
    const ImageOptionalHeader32& opt = nt.OptionalHeader;
    // The headers are copied whole and read from the copy, so they must be inside both.
    if (opt.SizeOfImage == 0 || opt.SizeOfHeaders > size || opt.SizeOfHeaders > opt.SizeOfImage ||
        uint64_t(dos.e_lfanew) + sizeof nt > opt.SizeOfHeaders)
        return nullptr;

    void* block = platform::reserveMemory(pointer(opt.ImageBase), opt.SizeOfImage);
    if (!block) block = platform::reserveMemory(nullptr, opt.SizeOfImage);
    if (!block) return nullptr;
    auto* m = static_cast<LoadedModule*>(std::calloc(1, sizeof(LoadedModule)));
    if (!m) {
        platform::releaseMemory(block);
        return nullptr;
    }
    m->pImageBase = block;
    m->nImageSize = opt.SizeOfImage;
    if (!platform::commitMemory(block, opt.SizeOfImage, platform::page::READWRITE) ||
        !platform::commitMemory(block, opt.SizeOfHeaders, platform::page::READWRITE))
        return fail(m);
    std::memcpy(block, data, opt.SizeOfHeaders);
    m->pNtHeaders = reinterpret_cast<ImageNtHeaders32*>(static_cast<uint8_t*>(block) + dos.e_lfanew);
    m->pNtHeaders->OptionalHeader.ImageBase = address32(block);

    if (!copySections(m, source, opt.SizeOfHeaders, opt.SectionAlignment)) return fail(m);
    if (address32(block) != opt.ImageBase && !relocate(m, address32(block) - opt.ImageBase))
        return fail(m);
    if (!resolveImports(m)) return fail(m);

    // Read before the sections are protected: a damaged image may close the headers' page.
    ImageNtHeaders32 loaded{};
    if (!readNtHeaders(m, imageOf(m, false), loaded)) return fail(m);
    const uint32_t entry = loaded.OptionalHeader.AddressOfEntryPoint;
    if (entry >= m->nImageSize) return fail(m);
    if (!protectSections(m, opt.SizeOfHeaders)) return fail(m);
    if (entry == 0) return m;
    if (!platform::callEntryPoint(static_cast<uint8_t*>(block) + entry, block, platform::DLL_ATTACH, nullptr))
        return fail(m);
    m->bAttached = true;
    return m;
}

void* FindModuleExport(const LoadedModule* m, const char* name) {
    if (!m || !name) return nullptr;
    const Span image = imageOf(m, true);
    ImageNtHeaders32 nt{};
    if (!readNtHeaders(m, image, nt)) return nullptr;
    const ImageDataDirectory dir = nt.OptionalHeader.DataDirectory[DIRECTORY_ENTRY_EXPORT];
    ImageExportDirectory exports{};
    if (dir.Size == 0 || !image.get(dir.VirtualAddress, exports)) return nullptr;
    if (exports.NumberOfNames == 0 || exports.NumberOfFunctions == 0) return nullptr;
    for (uint64_t i = 0; i < exports.NumberOfNames; ++i) {
        uint32_t nameRva = 0;
        if (!image.get(exports.AddressOfNames + 4 * i, nameRva)) return nullptr;
        const char* exported = image.string(nameRva);
        if (!exported) return nullptr;
        const char* a = exported;
        const char* b = name;
        while (*a && std::tolower(uint8_t(*a)) == std::tolower(uint8_t(*b))) ++a, ++b;
        if (*a || *b) continue;
        uint16_t index = 0;
        uint32_t function = 0;
        if (!image.get(exports.AddressOfNameOrdinals + 2 * i, index) || index >= exports.NumberOfFunctions ||
            !image.get(exports.AddressOfFunctions + 4 * uint64_t(index), function))
            return nullptr;
        return image.base + function;
    }
    return nullptr;
}

void FreeLoadedModule(LoadedModule* m) {
    if (!m) return;
    if (m->bAttached) {
        ImageNtHeaders32 nt{};
        if (readNtHeaders(m, imageOf(m, true), nt) && nt.OptionalHeader.AddressOfEntryPoint != 0 &&
            nt.OptionalHeader.AddressOfEntryPoint < m->nImageSize) {
            uint8_t* base = static_cast<uint8_t*>(m->pImageBase);
            platform::callEntryPoint(base + nt.OptionalHeader.AddressOfEntryPoint, base,
                                     platform::DLL_DETACH, nullptr);
        }
        m->bAttached = false;
    }
    for (uint32_t i = 0; i < m->nLibraries; ++i) platform::freeLibrary(m->phLibraries[i]);
    std::free(m->phLibraries);
    if (m->pImageBase) platform::releaseMemory(m->pImageBase);
    std::free(m);
}
