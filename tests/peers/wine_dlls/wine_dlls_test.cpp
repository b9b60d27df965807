// Loads Wine's i386 DLLs: imports resolve to placeholders we hand out, the entry call is recorded
// instead of run, and what the files' own tables say is checked against the loaded image.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "device/module_loader.h"
#include "platform/os/modules.h"
#include "platform/os/vmem.h"

namespace {

std::string dllDir() {
    if (const char* dir = std::getenv("KORAL_WINE_DLL_DIR")) return dir;
#ifdef KORAL_WINE_DLL_DIR
    return KORAL_WINE_DLL_DIR;
#else
    return {};
#endif
}

template <class T>
T get(const std::vector<uint8_t>& f, size_t at) {
    T v{};
    if (at + sizeof v <= f.size()) std::memcpy(&v, f.data() + at, sizeof v);
    return v;
}

// The file as the linker wrote it, read through its own section table.
struct PeFile {
    std::vector<uint8_t> bytes;
    pe::ImageNtHeaders32 nt{};
    std::vector<pe::ImageSectionHeader> sections;

    explicit PeFile(std::vector<uint8_t> b) : bytes(std::move(b)) {
        const uint32_t lfanew = get<uint32_t>(bytes, 0x3C);
        nt = get<pe::ImageNtHeaders32>(bytes, lfanew);
        const size_t table = lfanew + pe::SECTION_TABLE_OFFSET + nt.FileHeader.SizeOfOptionalHeader;
        for (int i = 0; i < nt.FileHeader.NumberOfSections; ++i)
            sections.push_back(get<pe::ImageSectionHeader>(bytes, table + 40 * i));
    }
    size_t offset(uint32_t rva) const {
        for (const auto& s : sections) {
            if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.SizeOfRawData)
                return s.PointerToRawData + (rva - s.VirtualAddress);
        }
        return rva;
    }
    template <class T>
    T at(uint32_t rva) const { return get<T>(bytes, offset(rva)); }
    std::string string(uint32_t rva) const {
        const size_t o = offset(rva);
        return o < bytes.size() ? std::string(reinterpret_cast<const char*>(bytes.data() + o)) : std::string();
    }
    pe::ImageDataDirectory directory(int i) const { return nt.OptionalHeader.DataDirectory[i]; }
};

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(uint8_t(c)));
    return s;
}

class WineDll : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        const std::string dir = dllDir();
        std::ifstream in(dir + "/" + GetParam(), std::ios::binary);
        if (dir.empty() || !in) {
            GTEST_SKIP() << "Wine's i386 DLLs are not installed (Debian: dpkg --add-architecture i386, "
                            "then apt-get install wine32); looked for "
                         << GetParam() << " in \"" << dir << "\"";
        }
        file_ = std::make_unique<PeFile>(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}));
        registerImports();
        platform::setEntryPointHook([this](void* entry, void* module, uint32_t reason, void*) {
            calls_.push_back({entry, module, reason});
            return true;
        });
    }
    void TearDown() override {
        platform::setEntryPointHook({});
        platform::clearHostLibraries();
    }

    // Every function the file imports gets an address of its own, in a range no image uses.
    void registerImports() {
        std::map<std::string, std::vector<platform::HostFunction>> libraries;
        std::map<std::string, uint32_t> handedOut;
        uint32_t next = 0x7E000000;
        const pe::ImageDataDirectory dir = file_->directory(pe::DIRECTORY_ENTRY_IMPORT);
        for (uint32_t at = dir.VirtualAddress; dir.Size; at += 20) {
            const auto d = file_->at<pe::ImageImportDescriptor>(at);
            if (d.Name == 0) break;
            ++descriptors_;
            const std::string library = lower(file_->string(d.Name));
            const uint32_t lookup = d.OriginalFirstThunk ? d.OriginalFirstThunk : d.FirstThunk;
            for (uint32_t k = 0;; ++k) {
                const uint32_t entry = file_->at<uint32_t>(lookup + 4 * k);
                if (entry == 0) break;
                platform::HostFunction f;
                if (entry & pe::ORDINAL_FLAG32)
                    f.ordinal = uint16_t(entry);
                else
                    f.name = file_->string(entry + 2);
                const std::string key = library + "!" + f.name + "#" + std::to_string(f.ordinal);
                auto [it, added] = handedOut.emplace(key, next);
                if (added) {
                    f.address = next;
                    next += 4;
                    libraries[library].push_back(f);
                }
                iat_[d.FirstThunk + 4 * k] = it->second;
            }
        }
        for (auto& [name, functions] : libraries) platform::registerHostLibrary(name, functions);
    }

    LoadedModule* load() const { return LoadModuleFromMemory(file_->bytes.data(), file_->bytes.size()); }

    struct Call {
        void* entry;
        void* module;
        uint32_t reason;
    };
    std::unique_ptr<PeFile> file_;
    std::map<uint32_t, uint32_t> iat_;  // slot RVA -> the address handed out
    uint32_t descriptors_ = 0;
    std::vector<Call> calls_;
};

TEST_P(WineDll, LoadsWithImportsResolvedAndEntryCalled) {
    LoadedModule* m = load();
    ASSERT_NE(m, nullptr);
    auto* base = static_cast<uint8_t*>(m->pImageBase);
    EXPECT_EQ(m->nLibraries, descriptors_);
    for (auto [slot, address] : iat_) {
        uint32_t value;
        std::memcpy(&value, base + slot, 4);
        EXPECT_EQ(value, address) << "IAT slot at RVA 0x" << std::hex << slot;
    }
    ASSERT_EQ(calls_.size(), 1u);
    EXPECT_EQ(calls_[0].entry, base + file_->nt.OptionalHeader.AddressOfEntryPoint);
    EXPECT_EQ(calls_[0].module, base);
    EXPECT_EQ(calls_[0].reason, platform::DLL_ATTACH);
    FreeLoadedModule(m);
    ASSERT_EQ(calls_.size(), 2u);
    EXPECT_EQ(calls_[1].reason, platform::DLL_DETACH);
}

TEST_P(WineDll, EveryNamedExportIsFoundWhereTheTableSays) {
    LoadedModule* m = load();
    ASSERT_NE(m, nullptr);
    auto* base = static_cast<uint8_t*>(m->pImageBase);
    const pe::ImageDataDirectory dir = file_->directory(pe::DIRECTORY_ENTRY_EXPORT);
    ASSERT_NE(dir.Size, 0u);
    const auto e = file_->at<pe::ImageExportDirectory>(dir.VirtualAddress);
    ASSERT_GT(e.NumberOfNames, 0u);
    std::set<std::string> seen;  // the first of names equal but for case is the one found
    for (uint32_t i = 0; i < e.NumberOfNames; ++i) {
        const std::string name = file_->string(file_->at<uint32_t>(e.AddressOfNames + 4 * i));
        if (!seen.insert(lower(name)).second) continue;
        const uint16_t index = file_->at<uint16_t>(e.AddressOfNameOrdinals + 2 * i);
        const uint32_t rva = file_->at<uint32_t>(e.AddressOfFunctions + 4 * index);
        EXPECT_EQ(FindModuleExport(m, name.c_str()), base + rva) << name;
        EXPECT_EQ(FindModuleExport(m, lower(name).c_str()), base + rva) << name;
    }
    EXPECT_EQ(FindModuleExport(m, "NoSuchExportAnywhere"), nullptr);
    FreeLoadedModule(m);
}

// A second copy cannot have the base the first one holds: it is relocated, and the two copies
// differ exactly at the file's HIGHLOW fixups, each by the difference of the bases.
TEST_P(WineDll, RelocatedCopyDiffersOnlyAtHighLowFixups) {
    LoadedModule* first = load();
    LoadedModule* second = load();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    auto* a = static_cast<uint8_t*>(first->pImageBase);
    auto* b = static_cast<uint8_t*>(second->pImageBase);
    ASSERT_NE(a, b);
    const uint32_t delta = uint32_t(reinterpret_cast<uintptr_t>(b) - reinterpret_cast<uintptr_t>(a));

    std::set<uint32_t> fixed;  // RVAs of bytes a fixup may change
    const pe::ImageDataDirectory dir = file_->directory(pe::DIRECTORY_ENTRY_BASERELOC);
    ASSERT_NE(dir.Size, 0u);
    size_t fixups = 0;
    for (uint32_t at = dir.VirtualAddress; at < dir.VirtualAddress + dir.Size;) {
        const auto block = file_->at<pe::ImageBaseRelocation>(at);
        if (block.VirtualAddress == 0 || block.SizeOfBlock < 8) break;
        for (uint32_t k = 0; k < (block.SizeOfBlock - 8) / 2; ++k) {
            const uint16_t entry = file_->at<uint16_t>(at + 8 + 2 * k);
            if (entry >> 12 != pe::REL_BASED_HIGHLOW) continue;
            const uint32_t rva = block.VirtualAddress + (entry & 0xFFF);
            if (platform::isBadReadPtr(a + rva, 4)) continue;  // in a discarded section
            uint32_t wa, wb;
            std::memcpy(&wa, a + rva, 4);
            std::memcpy(&wb, b + rva, 4);
            EXPECT_EQ(wb - wa, delta) << "fixup at RVA 0x" << std::hex << rva;
            for (uint32_t j = 0; j < 4; ++j) fixed.insert(rva + j);
            ++fixups;
        }
        at += block.SizeOfBlock;
    }
    EXPECT_GT(fixups, 0u);
    const uint32_t imageBaseField = uint32_t(reinterpret_cast<uint8_t*>(&first->pNtHeaders->OptionalHeader.ImageBase) - a);
    size_t differences = 0;
    for (const auto& s : file_->sections) {
        const uint32_t size = std::max(s.SizeOfRawData, s.Misc.VirtualSize);
        if (size == 0 || platform::isBadReadPtr(a + s.VirtualAddress, size)) continue;
        for (uint32_t rva = s.VirtualAddress; rva < s.VirtualAddress + size; ++rva) {
            if (a[rva] != b[rva] && !fixed.count(rva) && rva - imageBaseField >= 4 && ++differences < 5)
                ADD_FAILURE() << "byte at RVA 0x" << std::hex << rva << " differs and is no fixup";
        }
    }
    EXPECT_EQ(differences, 0u);
    FreeLoadedModule(second);
    FreeLoadedModule(first);
}

INSTANTIATE_TEST_SUITE_P(Debian, WineDll,
                         ::testing::Values("kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll",
                                           "version.dll", "ntdll.dll"),
                         [](const auto& info) {
                             std::string n = info.param;
                             return n.substr(0, n.find('.'));
                         });

}  // namespace
