#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/os/version.h"

namespace platform {
namespace {

constexpr const char* kSection = ".koral_version";

template <typename T>
bool readAt(const std::vector<char>& file, uint64_t offset, T& out) {
    if (offset > file.size() || file.size() - offset < sizeof(T)) return false;
    std::memcpy(&out, file.data() + offset, sizeof(T));
    return true;
}

// Offset and size of the version section in an ELF image (either class, little-endian).
bool findSection(const std::vector<char>& f, uint64_t& offset, uint64_t& size) {
    if (f.size() < 64 || std::memcmp(f.data(), "\x7f" "ELF", 4) != 0 || f[5] != 1) return false;
    bool is64 = f[4] == 2;
    uint64_t shoff = 0;
    uint16_t shentsize = 0, shnum = 0, shstrndx = 0;
    if (is64) {
        readAt(f, 0x28, shoff);
        readAt(f, 0x3A, shentsize);
        readAt(f, 0x3C, shnum);
        readAt(f, 0x3E, shstrndx);
    } else {
        uint32_t off32 = 0;
        readAt(f, 0x20, off32);
        shoff = off32;
        readAt(f, 0x2E, shentsize);
        readAt(f, 0x30, shnum);
        readAt(f, 0x32, shstrndx);
    }
    if (shstrndx >= shnum || shentsize < (is64 ? 64 : 40)) return false;
    auto header = [&](uint16_t index, uint32_t& name, uint64_t& off, uint64_t& sz) {
        uint64_t at = shoff + uint64_t(index) * shentsize;
        if (!readAt(f, at, name)) return false;
        if (is64) return readAt(f, at + 0x18, off) && readAt(f, at + 0x20, sz);
        uint32_t o = 0, s = 0;
        if (!readAt(f, at + 0x10, o) || !readAt(f, at + 0x14, s)) return false;
        off = o;
        sz = s;
        return true;
    };
    uint32_t unused = 0;
    uint64_t strOff = 0, strSize = 0;
    if (!header(shstrndx, unused, strOff, strSize) || strOff > f.size() || f.size() - strOff < strSize) return false;
    size_t nameLen = std::strlen(kSection);
    for (uint16_t i = 0; i < shnum; ++i) {
        uint32_t name = 0;
        uint64_t off = 0, sz = 0;
        if (!header(i, name, off, sz)) return false;
        if (name >= strSize || strSize - name < nameLen + 1) continue;
        if (std::memcmp(f.data() + strOff + name, kSection, nameLen + 1) != 0) continue;
        if (off > f.size() || f.size() - off < sz || sz == 0 || sz > 0xFFFF) return false;
        offset = off;
        size = sz;
        return true;
    }
    return false;
}

bool readBlock(const char* path, std::vector<char>& block) {
    if (!path) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    uint64_t offset = 0, size = 0;
    if (!findSection(file, offset, size)) return false;
    block.assign(file.begin() + std::ptrdiff_t(offset), file.begin() + std::ptrdiff_t(offset + size));
    return true;
}

}  // namespace

uint32_t fileVersionInfoSize(const char* path) {
    std::vector<char> block;
    return readBlock(path, block) ? uint32_t(block.size()) : 0;
}

bool fileVersionInfo(const char* path, uint32_t size, void* data) {
    std::vector<char> block;
    if (!data || !readBlock(path, block)) return false;
    std::memcpy(data, block.data(), std::min<size_t>(size, block.size()));
    return true;
}

bool queryFixedFileInfo(const void* data, uint32_t size, FixedFileInfo& info) {
    // VS_VERSIONINFO: wLength, wValueLength, wType, L"VS_VERSION_INFO", padding, the fixed part.
    static const char16_t kKey[] = u"VS_VERSION_INFO";
    constexpr uint32_t kValueAt = 40;
    if (!data || size < kValueAt + sizeof info) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    uint16_t length = 0, valueLength = 0;
    std::memcpy(&length, bytes, 2);
    std::memcpy(&valueLength, bytes + 2, 2);
    if (length > size || length < kValueAt + sizeof info || valueLength != sizeof info) return false;
    if (std::memcmp(bytes + 6, kKey, sizeof kKey) != 0) return false;
    std::memcpy(&info, bytes + kValueAt, sizeof info);
    return info.signature == FIXED_FILE_INFO_SIGNATURE;
}

}  // namespace platform
