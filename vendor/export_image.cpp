#include "vendor/export_image.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "device/pe_image.h"
#include "vendor/standin.h"

namespace vendor {
namespace {

constexpr uint32_t FILE_ALIGNMENT = 0x200, SECTION_ALIGNMENT = 0x1000, IMAGE_BASE = 0x10000000;
constexpr uint32_t TRAP_SIZE = 16;  // per function, int3 bytes

uint32_t align(uint32_t value, uint32_t to) { return (value + to - 1) / to * to; }

template <class T>
void put(std::vector<uint8_t>& bytes, size_t at, const T& value) {
    if (bytes.size() < at + sizeof value) bytes.resize(at + sizeof value);
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

pe::ImageSectionHeader section(const char* name, uint32_t rva, uint32_t size, uint32_t raw,
                               uint32_t characteristics) {
    pe::ImageSectionHeader s{};
    std::memcpy(s.Name, name, std::min<size_t>(8, std::strlen(name)));
    s.Misc.VirtualSize = size;
    s.VirtualAddress = rva;
    s.SizeOfRawData = align(size, FILE_ALIGNMENT);
    s.PointerToRawData = raw;
    s.Characteristics = characteristics;
    return s;
}

}  // namespace

std::vector<uint8_t> exportOnlyImage(const std::vector<std::string>& names, const std::string& libraryName) {
    const uint32_t n = uint32_t(names.size());
    const uint32_t textRva = SECTION_ALIGNMENT, textSize = std::max<uint32_t>(1, n * TRAP_SIZE);
    const uint32_t edataRva = textRva + align(textSize, SECTION_ALIGNMENT);

    // Export data: directory, function addresses, name pointers, ordinals, then the strings.
    // Names are listed in ascending order, as a loader's binary search expects.
    std::vector<uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return names[a] < names[b]; });
    const uint32_t functions = sizeof(pe::ImageExportDirectory), namePointers = functions + 4 * n,
                   ordinals = namePointers + 4 * n;
    uint32_t strings = ordinals + 2 * n;
    std::vector<uint8_t> edata(strings);
    pe::ImageExportDirectory dir{};
    dir.Base = 1;
    dir.NumberOfFunctions = dir.NumberOfNames = n;
    dir.AddressOfFunctions = edataRva + functions;
    dir.AddressOfNames = edataRva + namePointers;
    dir.AddressOfNameOrdinals = edataRva + ordinals;
    auto addString = [&](const std::string& s) {
        uint32_t rva = edataRva + uint32_t(edata.size());
        edata.insert(edata.end(), s.begin(), s.end());
        edata.push_back(0);
        return rva;
    };
    dir.Name = addString(libraryName);
    for (uint32_t i = 0; i < n; ++i) {
        put(edata, functions + 4 * i, uint32_t(textRva + i * TRAP_SIZE));
        put(edata, namePointers + 4 * i, addString(names[order[i]]));
        put(edata, ordinals + 2 * i, uint16_t(order[i]));
    }
    put(edata, 0, dir);
    const uint32_t edataSize = uint32_t(edata.size());

    // Headers: DOS header, NT headers right after it, two section headers.
    const uint32_t ntOffset = sizeof(pe::ImageDosHeader);
    const uint32_t headersSize = align(ntOffset + sizeof(pe::ImageNtHeaders32) + 2 * sizeof(pe::ImageSectionHeader),
                                       FILE_ALIGNMENT);
    const uint32_t textRaw = headersSize, edataRaw = textRaw + align(textSize, FILE_ALIGNMENT);
    std::vector<uint8_t> image(edataRaw + align(edataSize, FILE_ALIGNMENT), 0);

    pe::ImageDosHeader dos{};
    dos.e_magic = pe::DOS_SIGNATURE;
    dos.e_lfanew = int32_t(ntOffset);
    put(image, 0, dos);

    pe::ImageNtHeaders32 nt{};
    nt.Signature = pe::NT_SIGNATURE;
    nt.FileHeader.Machine = 0x014C;          // i386
    nt.FileHeader.NumberOfSections = 2;
    nt.FileHeader.SizeOfOptionalHeader = sizeof(pe::ImageOptionalHeader32);
    nt.FileHeader.Characteristics = 0x2102;  // executable, 32-bit, DLL
    auto& opt = nt.OptionalHeader;
    opt.Magic = 0x010B;
    opt.SizeOfCode = align(textSize, FILE_ALIGNMENT);
    opt.SizeOfInitializedData = align(edataSize, FILE_ALIGNMENT);
    opt.BaseOfCode = textRva;
    opt.BaseOfData = edataRva;
    opt.ImageBase = IMAGE_BASE;
    opt.SectionAlignment = SECTION_ALIGNMENT;
    opt.FileAlignment = FILE_ALIGNMENT;
    opt.MajorOperatingSystemVersion = opt.MajorSubsystemVersion = 4;
    opt.SizeOfImage = edataRva + align(edataSize, SECTION_ALIGNMENT);
    opt.SizeOfHeaders = headersSize;
    opt.Subsystem = 2;  // GUI
    opt.NumberOfRvaAndSizes = pe::NUMBEROF_DIRECTORY_ENTRIES;
    opt.DataDirectory[pe::DIRECTORY_ENTRY_EXPORT] = {edataRva, edataSize};
    put(image, ntOffset, nt);

    const uint32_t table = ntOffset + sizeof nt;
    put(image, table, section(".text", textRva, textSize, textRaw,
                              pe::SCN_CNT_CODE | pe::SCN_MEM_EXECUTE | pe::SCN_MEM_READ));
    put(image, table + sizeof(pe::ImageSectionHeader),
        section(".edata", edataRva, edataSize, edataRaw, pe::SCN_CNT_INITIALIZED_DATA | pe::SCN_MEM_READ));
    std::fill(image.begin() + textRaw, image.begin() + textRaw + textSize, uint8_t(0xCC));
    std::copy(edata.begin(), edata.end(), image.begin() + edataRaw);
    return image;
}

std::vector<uint8_t> standInExportImage() {
    return exportOnlyImage(std::vector<std::string>(std::begin(EXPORT_NAMES), std::end(EXPORT_NAMES)),
                           LIBRARY_NAME);
}

}  // namespace vendor
