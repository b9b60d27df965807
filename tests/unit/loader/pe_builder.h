#pragma once
// Builds small PE32 DLL images in memory, laid out as a linker would: headers, then one section
// per addSection at the next SectionAlignment boundary, then the import, export and relocation
// data the builder was given, each in a section of its own.
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace testpe {

struct Import {
    std::string library;
    std::vector<std::string> functions;  // "#12" imports ordinal 12
    bool lookupTable = true;             // false: OriginalFirstThunk 0, FirstThunk alone
};

struct Relocation {
    uint32_t rva;
    uint16_t type;
};

// Where build() put things, by RVA, and the file offset of every section's raw data.
struct Layout {
    std::map<std::string, uint32_t> iat;  // library -> RVA of its first IAT slot
    uint32_t importDirectory = 0, exportDirectory = 0, relocDirectory = 0;
    uint32_t exportOrdinals = 0;  // AddressOfNameOrdinals
    uint32_t sizeOfImage = 0;
    uint32_t sectionTable = 0;    // file offset
    std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> rawData;  // (RVA, file offset, size)
    uint32_t fileOffset(uint32_t rva) const;
};

class PeBuilder {
public:
    uint32_t imageBase = 0x10000000;
    uint32_t sectionAlignment = 0x1000;
    uint32_t fileAlignment = 0x200;
    uint32_t entryPoint = 0;
    uint32_t sizeOfInitializedData = 0;
    uint32_t sizeOfUninitializedData = 0;

    // Returns the section's RVA. A section with no bytes gets no raw data.
    uint32_t addSection(const std::string& name, std::vector<uint8_t> bytes, uint32_t characteristics,
                        uint32_t virtualSize = 0);
    void addImport(Import import) { imports_.push_back(std::move(import)); }
    void addExport(const std::string& name, uint32_t rva) { exports_.push_back({name, rva}); }
    void addRelocation(uint32_t rva, uint16_t type) { relocations_.push_back({rva, type}); }
    // Relocation data is kept even when no entry was added, as an empty directory.
    bool relocationSection = false;

    std::vector<uint8_t> build(Layout* layout = nullptr) const;

private:
    struct Section {
        std::string name;
        uint32_t rva, virtualSize, characteristics;
        std::vector<uint8_t> bytes;
    };
    uint32_t nextRva() const;
    std::vector<Section> sections_;
    std::vector<Import> imports_;
    std::vector<std::pair<std::string, uint32_t>> exports_;
    std::vector<Relocation> relocations_;
};

// Section characteristics as a linker sets them.
constexpr uint32_t CODE = 0x60000020;    // code, execute, read
constexpr uint32_t DATA = 0xC0000040;    // initialised data, read, write
constexpr uint32_t RDATA = 0x40000040;   // initialised data, read
constexpr uint32_t BSS = 0xC0000080;     // uninitialised data, read, write

template <class T>
void put(std::vector<uint8_t>& bytes, size_t at, T value) {
    if (bytes.size() < at + sizeof value) bytes.resize(at + sizeof value);
    for (size_t i = 0; i < sizeof value; ++i) bytes[at + i] = uint8_t(uint64_t(value) >> (8 * i));
}
template <class T>
T get(const uint8_t* bytes) {
    uint64_t v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v |= uint64_t(bytes[i]) << (8 * i);
    return T(v);
}

}  // namespace testpe
