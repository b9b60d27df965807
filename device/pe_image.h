#pragma once
// The PE/COFF structures of a 32-bit image, packed as they lie on disk. Ours, so portable code
// never depends on a toolchain's headers; the field names are the format's own.
#include <cstdint>

namespace pe {

constexpr uint16_t DOS_SIGNATURE = 0x5A4D;    // "MZ"
constexpr uint32_t NT_SIGNATURE = 0x00004550;  // "PE\0\0"

constexpr int DIRECTORY_ENTRY_EXPORT = 0;
constexpr int DIRECTORY_ENTRY_IMPORT = 1;
constexpr int DIRECTORY_ENTRY_BASERELOC = 5;
constexpr int NUMBEROF_DIRECTORY_ENTRIES = 16;

constexpr uint16_t REL_BASED_ABSOLUTE = 0;
constexpr uint16_t REL_BASED_HIGHLOW = 3;
constexpr uint32_t ORDINAL_FLAG32 = 0x80000000u;

constexpr uint32_t SCN_CNT_CODE = 0x00000020;
constexpr uint32_t SCN_CNT_INITIALIZED_DATA = 0x00000040;
constexpr uint32_t SCN_CNT_UNINITIALIZED_DATA = 0x00000080;
constexpr uint32_t SCN_MEM_DISCARDABLE = 0x02000000;
constexpr uint32_t SCN_MEM_NOT_CACHED = 0x04000000;
constexpr uint32_t SCN_MEM_EXECUTE = 0x20000000;
constexpr uint32_t SCN_MEM_READ = 0x40000000;
constexpr uint32_t SCN_MEM_WRITE = 0x80000000u;

#pragma pack(push, 1)

struct ImageDosHeader {
    uint16_t e_magic, e_cblp, e_cp, e_crlc, e_cparhdr, e_minalloc, e_maxalloc, e_ss, e_sp, e_csum,
        e_ip, e_cs, e_lfarlc, e_ovno;
    uint16_t e_res[4];
    uint16_t e_oemid, e_oeminfo;
    uint16_t e_res2[10];
    int32_t e_lfanew;
};

struct ImageFileHeader {
    uint16_t Machine;
    uint16_t NumberOfSections;
    uint32_t TimeDateStamp;
    uint32_t PointerToSymbolTable;
    uint32_t NumberOfSymbols;
    uint16_t SizeOfOptionalHeader;
    uint16_t Characteristics;
};

struct ImageDataDirectory {
    uint32_t VirtualAddress;
    uint32_t Size;
};

struct ImageOptionalHeader32 {
    uint16_t Magic;
    uint8_t MajorLinkerVersion, MinorLinkerVersion;
    uint32_t SizeOfCode, SizeOfInitializedData, SizeOfUninitializedData;
    uint32_t AddressOfEntryPoint, BaseOfCode, BaseOfData;
    uint32_t ImageBase, SectionAlignment, FileAlignment;
    uint16_t MajorOperatingSystemVersion, MinorOperatingSystemVersion;
    uint16_t MajorImageVersion, MinorImageVersion;
    uint16_t MajorSubsystemVersion, MinorSubsystemVersion;
    uint32_t Win32VersionValue, SizeOfImage, SizeOfHeaders, CheckSum;
    uint16_t Subsystem, DllCharacteristics;
    uint32_t SizeOfStackReserve, SizeOfStackCommit, SizeOfHeapReserve, SizeOfHeapCommit;
    uint32_t LoaderFlags, NumberOfRvaAndSizes;
    ImageDataDirectory DataDirectory[NUMBEROF_DIRECTORY_ENTRIES];
};

struct ImageNtHeaders32 {
    uint32_t Signature;
    ImageFileHeader FileHeader;
    ImageOptionalHeader32 OptionalHeader;
};

struct ImageSectionHeader {
    uint8_t Name[8];
    union {
        uint32_t PhysicalAddress;
        uint32_t VirtualSize;
    } Misc;
    uint32_t VirtualAddress, SizeOfRawData, PointerToRawData;
    uint32_t PointerToRelocations, PointerToLinenumbers;
    uint16_t NumberOfRelocations, NumberOfLinenumbers;
    uint32_t Characteristics;
};

struct ImageBaseRelocation {
    uint32_t VirtualAddress;
    uint32_t SizeOfBlock;
};

struct ImageImportDescriptor {
    uint32_t OriginalFirstThunk, TimeDateStamp, ForwarderChain, Name, FirstThunk;
};

struct ImageExportDirectory {
    uint32_t Characteristics, TimeDateStamp;
    uint16_t MajorVersion, MinorVersion;
    uint32_t Name, Base, NumberOfFunctions, NumberOfNames;
    uint32_t AddressOfFunctions, AddressOfNames, AddressOfNameOrdinals;
};

#pragma pack(pop)

static_assert(sizeof(ImageDosHeader) == 64);
static_assert(sizeof(ImageFileHeader) == 20);
static_assert(sizeof(ImageOptionalHeader32) == 224);
static_assert(sizeof(ImageNtHeaders32) == 248);
static_assert(sizeof(ImageSectionHeader) == 40);
static_assert(sizeof(ImageImportDescriptor) == 20);
static_assert(sizeof(ImageExportDirectory) == 40);

// Where the section table starts, relative to the NT headers.
constexpr uint32_t SECTION_TABLE_OFFSET = 24;  // Signature + FileHeader

}  // namespace pe
