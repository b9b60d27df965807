#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/os/version.h"

namespace platform {
namespace {

constexpr const char* kSection = ".koral_version";

// Reads pieces of the program file where they lie: the whole file is megabytes of symbols, and
// reading it all at start-up took a noticeable part of a second.
class FileReader {
public:
    explicit FileReader(const char* path) : in_(path, std::ios::binary) {
        if (in_) {
            in_.seekg(0, std::ios::end);
            size_ = uint64_t(std::max<std::streamoff>(0, in_.tellg()));
        }
    }
    uint64_t size() const { return size_; }
    bool read(uint64_t offset, void* out, uint64_t n) {
        if (offset > size_ || size_ - offset < n) return false;
        in_.clear();
        in_.seekg(std::streamoff(offset));
        return bool(in_.read(static_cast<char*>(out), std::streamsize(n)));
    }
    template <typename T>
    bool readAt(uint64_t offset, T& out) {
        return read(offset, &out, sizeof(T));
    }

private:
    std::ifstream in_;
    uint64_t size_ = 0;
};

// Offset and size of the version section in an ELF image (either class, little-endian).
bool findSection(FileReader& f, uint64_t& offset, uint64_t& size) {
    unsigned char ident[6] = {};
    if (f.size() < 64 || !f.read(0, ident, sizeof ident) || std::memcmp(ident, "\x7f" "ELF", 4) != 0 ||
        ident[5] != 1) {
        return false;
    }
    bool is64 = ident[4] == 2;
    uint64_t shoff = 0;
    uint16_t shentsize = 0, shnum = 0, shstrndx = 0;
    if (is64) {
        f.readAt(0x28, shoff);
        f.readAt(0x3A, shentsize);
        f.readAt(0x3C, shnum);
        f.readAt(0x3E, shstrndx);
    } else {
        uint32_t off32 = 0;
        f.readAt(0x20, off32);
        shoff = off32;
        f.readAt(0x2E, shentsize);
        f.readAt(0x30, shnum);
        f.readAt(0x32, shstrndx);
    }
    if (shstrndx >= shnum || shentsize < (is64 ? 64 : 40)) return false;
    auto header = [&](uint16_t index, uint32_t& name, uint64_t& off, uint64_t& sz) {
        uint64_t at = shoff + uint64_t(index) * shentsize;
        if (!f.readAt(at, name)) return false;
        if (is64) return f.readAt(at + 0x18, off) && f.readAt(at + 0x20, sz);
        uint32_t o = 0, s = 0;
        if (!f.readAt(at + 0x10, o) || !f.readAt(at + 0x14, s)) return false;
        off = o;
        sz = s;
        return true;
    };
    uint32_t unused = 0;
    uint64_t strOff = 0, strSize = 0;
    if (!header(shstrndx, unused, strOff, strSize) || strOff > f.size() || f.size() - strOff < strSize) return false;
    size_t nameLen = std::strlen(kSection);
    std::vector<char> name(nameLen + 1);
    for (uint16_t i = 0; i < shnum; ++i) {
        uint32_t nameAt = 0;
        uint64_t off = 0, sz = 0;
        if (!header(i, nameAt, off, sz)) return false;
        if (nameAt >= strSize || strSize - nameAt < nameLen + 1) continue;
        if (!f.read(strOff + nameAt, name.data(), name.size())) return false;
        if (std::memcmp(name.data(), kSection, nameLen + 1) != 0) continue;
        if (off > f.size() || f.size() - off < sz || sz == 0 || sz > 0xFFFF) return false;
        offset = off;
        size = sz;
        return true;
    }
    return false;
}

bool readBlock(const char* path, std::vector<char>& block) {
    if (!path) return false;
    FileReader file(path);
    uint64_t offset = 0, size = 0;
    if (!findSection(file, offset, size)) return false;
    block.resize(size);
    return file.read(offset, block.data(), size);
}

}  // namespace

std::string programFile(const char* asStarted) {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || size_t(n) >= sizeof path) return asStarted ? asStarted : "";
    return std::string(path, size_t(n));
}

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
