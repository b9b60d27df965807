#pragma once
// The version block a program file carries, read the way GetFileVersionInfoSizeA,
// GetFileVersionInfoA and VerQueryValueA(block, "\\") read it. Windows: the file's VERSIONINFO
// resource. Elsewhere: the same bytes in the ELF section ".koral_version".
#include <cstdint>
#include <string>

namespace platform {

// VS_FIXEDFILEINFO.
struct FixedFileInfo {
    uint32_t signature;  // 0xFEEF04BD
    uint32_t strucVersion;
    uint32_t fileVersionMS;
    uint32_t fileVersionLS;
    uint32_t productVersionMS;
    uint32_t productVersionLS;
    uint32_t fileFlagsMask;
    uint32_t fileFlags;
    uint32_t fileOS;
    uint32_t fileType;
    uint32_t fileSubtype;
    uint32_t fileDateMS;
    uint32_t fileDateLS;
};
static_assert(sizeof(FixedFileInfo) == 52);

constexpr uint32_t FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BDu;

// The program's own file as the system knows it (GetModuleFileNameA; /proc/self/exe), else
// `asStarted`. The command line's first element may name it without folder or extension.
std::string programFile(const char* asStarted);

// Bytes the block needs; 0 when the file has none or cannot be read.
uint32_t fileVersionInfoSize(const char* path);
// Copies up to `size` bytes of the block into `data`.
bool fileVersionInfo(const char* path, uint32_t size, void* data);
// The fixed part of a block read by fileVersionInfo.
bool queryFixedFileInfo(const void* block, uint32_t size, FixedFileInfo& info);

}  // namespace platform
