#include <cstring>
#include <functional>

#include "loader_fixture.h"

using testpe::BSS;
using testpe::CODE;
using testpe::DATA;
using testpe::PeBuilder;
using testpe::RDATA;
using testpe::put;

namespace {

std::vector<uint8_t> words(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> out;
    for (uint32_t v : values) put<uint32_t>(out, out.size(), v);
    return out;
}

const pe::ImageSectionHeader* sections(const LoadedModule* m) {
    auto* table = reinterpret_cast<const uint8_t*>(m->pNtHeaders) + pe::SECTION_TABLE_OFFSET +
                  m->pNtHeaders->FileHeader.SizeOfOptionalHeader;
    return reinterpret_cast<const pe::ImageSectionHeader*>(table);
}

}  // namespace

TEST_F(LoaderTest, FreePreferredBaseIsUsedAndNothingIsRelocated) {
    PeBuilder b;
    b.imageBase = freeBase(0x100000);
    const uint32_t data = b.addSection(".data", words({b.imageBase + 0x1234, 0xCAFEF00D}), DATA);
    b.addRelocation(data, pe::REL_BASED_HIGHLOW);
    testpe::Layout layout;
    std::vector<uint8_t> image = b.build(&layout);
    // A block that would be refused if it were walked: at the preferred base it is not.
    put<uint32_t>(image, layout.fileOffset(layout.relocDirectory) + 4, 0);

    LoadedModule* m = load(image);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->pImageBase, reinterpret_cast<void*>(uintptr_t(b.imageBase)));
    EXPECT_EQ(reinterpret_cast<uint8_t*>(m->pNtHeaders), at(m, 0x80));
    EXPECT_EQ(m->pNtHeaders->OptionalHeader.ImageBase, b.imageBase);
    EXPECT_EQ(word(m, data), b.imageBase + 0x1234);
    EXPECT_EQ(word(m, data + 4), 0xCAFEF00Du);
    for (int i = 0; i < m->pNtHeaders->FileHeader.NumberOfSections; ++i)
        EXPECT_EQ(sections(m)[i].Misc.PhysicalAddress, b.imageBase + sections(m)[i].VirtualAddress);
    FreeLoadedModule(m);
}

TEST_F(LoaderTest, TakenBaseLoadsElsewhereAndShiftsOnlyHighLowFixups) {
    PeBuilder b;
    b.imageBase = freeBase(0x100000);
    const uint32_t text = b.addSection(".text", words({b.imageBase + 0x10, 0x11111111, 0x22222222}), CODE);
    const uint32_t data = b.addSection(".data", words({b.imageBase + 0x2000, 0x33333333, 0x44444444}), DATA);
    b.addRelocation(text, pe::REL_BASED_HIGHLOW);
    b.addRelocation(text + 4, 1);   // HIGH
    b.addRelocation(text + 8, 10);  // DIR64
    b.addRelocation(data, pe::REL_BASED_HIGHLOW);
    b.addRelocation(data + 4, 2);   // LOW
    const std::vector<uint8_t> image = b.build();
    const std::vector<uint8_t> original = image;

    void* taken = platform::reserveMemory(reinterpret_cast<void*>(uintptr_t(b.imageBase)), 0x10000);
    ASSERT_NE(taken, nullptr);
    LoadedModule* m = load(image);
    ASSERT_NE(m, nullptr);
    const uint32_t block = uint32_t(reinterpret_cast<uintptr_t>(m->pImageBase));
    EXPECT_NE(block, b.imageBase);
    EXPECT_EQ(m->pNtHeaders->OptionalHeader.ImageBase, block);
    EXPECT_EQ(word(m, text), block + 0x10);
    EXPECT_EQ(word(m, data), block + 0x2000);
    EXPECT_EQ(word(m, text + 4), 0x11111111u);
    EXPECT_EQ(word(m, text + 8), 0x22222222u);
    EXPECT_EQ(word(m, data + 4), 0x33333333u);
    EXPECT_EQ(word(m, data + 8), 0x44444444u);
    EXPECT_EQ(image, original) << "the source buffer must stay as it was";
    FreeLoadedModule(m);
    platform::releaseMemory(taken);
}

TEST_F(LoaderTest, ImageWithoutImportsRelocationsOrEntryPointLoads) {
    PeBuilder b;
    b.imageBase = 0;  // never free: the block goes anywhere, and no relocations are there to apply
    b.addSection(".text", {0xC3}, CODE);
    LoadedModule* m = load(b.build());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->nLibraries, 0u);
    EXPECT_EQ(m->phLibraries, nullptr);
    EXPECT_FALSE(m->bAttached);
    FreeLoadedModule(m);
    EXPECT_TRUE(calls.empty());
}

TEST_F(LoaderTest, SectionWithoutRawDataGetsSectionAlignmentZeroedBytes) {
    PeBuilder b;
    b.sectionAlignment = 0x2000;  // more than a page, so the zeroed length is the alignment's
    // The first section's raw data runs on into the second's range; the zeroing must clear it.
    const uint32_t data = b.addSection(".data", std::vector<uint8_t>(0x3000, 0xAA), DATA, 0x1000);
    const uint32_t bss = b.addSection(".bss", {}, BSS, 0x10);
    LoadedModule* m = load(b.build());
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(bss, data + 0x2000);
    EXPECT_EQ(sections(m)[1].Misc.PhysicalAddress, uint32_t(reinterpret_cast<uintptr_t>(at(m, bss))));
    EXPECT_EQ(sections(m)[1].SizeOfRawData, 0u);
    const std::vector<uint8_t> zeros(0x2000, 0);
    EXPECT_EQ(std::memcmp(at(m, bss), zeros.data(), zeros.size()), 0);
    EXPECT_EQ(*at(m, bss - 1), 0xAA);
    FreeLoadedModule(m);
}

TEST_F(LoaderTest, ImportsByNameAndOrdinalLandInTheIat) {
    PeBuilder b;
    b.addSection(".text", {0xC3}, CODE);
    b.addImport({"kernel32.DLL", {"GetTickCount", "#7", "Sleep"}});
    b.addImport({"HELPER", {"Work", "#3"}, /*lookupTable=*/false});
    testpe::Layout layout;
    LoadedModule* m = load(b.build(&layout));
    ASSERT_NE(m, nullptr);
    const uint32_t k = layout.iat["kernel32.DLL"], h = layout.iat["HELPER"];
    EXPECT_EQ(word(m, k), 0x11110001u);
    EXPECT_EQ(word(m, k + 4), 0x11110007u);
    EXPECT_EQ(word(m, k + 8), 0x11110002u);
    EXPECT_EQ(word(m, k + 12), 0u);
    EXPECT_EQ(word(m, h), 0x22220003u);
    EXPECT_EQ(word(m, h + 4), 0x22220003u);
    ASSERT_EQ(m->nLibraries, 2u);
    EXPECT_EQ(m->phLibraries[0], platform::loadLibrary("kernel32"));
    platform::freeLibrary(m->phLibraries[0]);
    EXPECT_EQ(platform::hostLibraryLoadCount("kernel32.dll"), 1);
    EXPECT_EQ(platform::hostLibraryLoadCount("helper.dll"), 1);
    FreeLoadedModule(m);  // the fixture checks that both are released
}

TEST_F(LoaderTest, UnresolvedImportFailsAndReleasesEverything) {
    const std::vector<std::vector<testpe::Import>> cases = {
        {{"kernel32.dll", {"Sleep"}}, {"missing.dll", {"Anything"}}},
        {{"kernel32.dll", {"Sleep"}}, {"helper.dll", {"work"}}},  // names are exact
        {{"helper.dll", {"Work"}}, {"kernel32.dll", {"Sleep", "#99"}}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        PeBuilder b;
        b.entryPoint = b.addSection(".text", {0xC3}, CODE);
        for (const testpe::Import& imp : cases[i]) b.addImport(imp);
        EXPECT_EQ(load(b.build()), nullptr) << "case " << i;
        EXPECT_EQ(platform::hostLibraryLoadCount("kernel32.dll"), 0) << "case " << i;
        EXPECT_EQ(platform::hostLibraryLoadCount("helper.dll"), 0) << "case " << i;
    }
    EXPECT_TRUE(calls.empty()) << "no entry call for an image that failed to link";
}

TEST_F(LoaderTest, SectionProtectionsFollowTheTable) {
    struct Case {
        uint32_t characteristics;
        uint32_t expected;  // 0: decommitted
        bool raw = true;
    };
    using namespace platform::page;
    const std::vector<Case> cases = {
        {0x00000040, NOACCESS},
        {0x80000040, WRITECOPY},
        {RDATA, READONLY},
        {DATA, READWRITE},
        {0x20000020, EXECUTE},
        {0xA0000020, EXECUTE_WRITECOPY},
        {CODE, EXECUTE_READ},
        {0xE0000020, EXECUTE_READWRITE},
        {DATA | pe::SCN_MEM_NOT_CACHED, READWRITE | NOCACHE},
        {CODE | pe::SCN_MEM_NOT_CACHED, EXECUTE_READ | NOCACHE},
        {RDATA | pe::SCN_MEM_DISCARDABLE, 0},
        {RDATA, READONLY, false},           // sized by SizeOfInitializedData
        {0x40000080, READONLY, false},      // sized by SizeOfUninitializedData
        {0x40000000, READWRITE, false},     // no size to protect: left as committed
    };
    PeBuilder b;
    b.sizeOfInitializedData = 0x1000;
    b.sizeOfUninitializedData = 0x1000;
    std::vector<uint32_t> rvas;
    for (const Case& c : cases)
        rvas.push_back(b.addSection(".s", c.raw ? std::vector<uint8_t>(16, 1) : std::vector<uint8_t>{},
                                    c.characteristics, 0x1000));
    LoadedModule* m = load(b.build());
    ASSERT_NE(m, nullptr);
    for (size_t i = 0; i < cases.size(); ++i) {
        uint32_t protect = 0;
        const bool committed = platform::queryProtection(at(m, rvas[i]), protect);
        if (cases[i].expected == 0) {
            EXPECT_FALSE(committed) << "case " << i;
            EXPECT_TRUE(platform::isBadReadPtr(at(m, rvas[i]), 1)) << "case " << i;
        } else {
            EXPECT_TRUE(committed) << "case " << i;
            EXPECT_EQ(protect, cases[i].expected) << "case " << i;
        }
    }
    uint32_t headers = 0;
    EXPECT_TRUE(platform::queryProtection(m->pImageBase, headers));
    EXPECT_EQ(headers, READWRITE);
    FreeLoadedModule(m);
}

TEST_F(LoaderTest, ExportsAreFoundIgnoringCaseWithTheOrdinalBoundChecked) {
    PeBuilder b;
    const uint32_t text = b.addSection(".text", std::vector<uint8_t>(0x40, 0xC3), CODE);
    b.addExport("GetValue", text + 0x10);
    b.addExport("CP210x_Reset", text + 0x20);
    b.addExport("GETVALUE", text + 0x30);  // same name in other case: the first one wins
    b.addExport("Last", text + 0x38);
    testpe::Layout layout;
    std::vector<uint8_t> image = b.build(&layout);
    // "Last" names function index 4, one past the four functions.
    put<uint16_t>(image, layout.fileOffset(layout.exportOrdinals) + 6, 4);

    LoadedModule* m = load(image);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(FindModuleExport(m, "getvalue"), at(m, text + 0x10));
    EXPECT_EQ(FindModuleExport(m, "GetValue"), at(m, text + 0x10));
    EXPECT_EQ(FindModuleExport(m, "cp210x_RESET"), at(m, text + 0x20));
    EXPECT_EQ(FindModuleExport(m, "Last"), nullptr);
    for (const char* absent : {"GetValu", "GetValueX", "", "Missing"})
        EXPECT_EQ(FindModuleExport(m, absent), nullptr) << absent;
    EXPECT_EQ(FindModuleExport(nullptr, "GetValue"), nullptr);
    EXPECT_EQ(FindModuleExport(m, nullptr), nullptr);
    FreeLoadedModule(m);

    PeBuilder none;
    none.addSection(".text", {0xC3}, CODE);
    m = load(none.build());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(FindModuleExport(m, "GetValue"), nullptr);
    FreeLoadedModule(m);
    FreeLoadedModule(nullptr);
}

TEST_F(LoaderTest, EntryPointIsCalledForAttachAndDetach) {
    PeBuilder b;
    b.entryPoint = b.addSection(".text", {0xB8, 1, 0, 0, 0, 0xC3}, CODE);
    b.addImport({"kernel32.dll", {"Sleep"}});
    const std::vector<uint8_t> image = b.build();

    LoadedModule* m = load(image);
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(m->bAttached);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].entry, at(m, b.entryPoint));
    EXPECT_EQ(calls[0].module, m->pImageBase);
    EXPECT_EQ(calls[0].reason, platform::DLL_ATTACH);
    EXPECT_EQ(calls[0].reserved, nullptr);
    void* entry = calls[0].entry;
    FreeLoadedModule(m);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].entry, entry);
    EXPECT_EQ(calls[1].reason, platform::DLL_DETACH);

    // Refused: everything goes, libraries included, and no detach is sent.
    calls.clear();
    acceptAttach = false;
    EXPECT_EQ(load(image), nullptr);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].reason, platform::DLL_ATTACH);

    // Without a hook this host cannot run the image's code, so it refuses the call.
    platform::setEntryPointHook({});
    EXPECT_EQ(load(image), nullptr);
}

// Offsets into the builder's headers.
namespace hdr {
constexpr size_t NT = 0x80, FILE = NT + 4, OPT = FILE + 20, SECTIONS = OPT + 224;
constexpr size_t NUMBER_OF_SECTIONS = FILE + 2, ENTRY = OPT + 16, IMAGE_BASE = OPT + 28, SIZE_OF_IMAGE = OPT + 56,
                 SIZE_OF_HEADERS = OPT + 60;
constexpr size_t dir(int i) { return OPT + 96 + 8 * i; }
constexpr size_t section(int i, size_t field) { return SECTIONS + 40 * i + field; }
}  // namespace hdr

class DamagedImageTest : public LoaderTest {
protected:
    // An image with a bit of everything, asking for a base that is taken, so it is relocated.
    void SetUp() override {
        LoaderTest::SetUp();
        PeBuilder b;
        b.imageBase = freeBase(0x100000);
        text_ = b.addSection(".text", words({b.imageBase + 0x1000, 0xC3}), CODE);
        b.entryPoint = text_ + 4;
        b.addRelocation(text_, pe::REL_BASED_HIGHLOW);
        b.addImport({"kernel32.dll", {"Sleep", "#7"}});
        b.addExport("Run", text_ + 4);
        image_ = b.build(&layout_);
        taken_ = platform::reserveMemory(reinterpret_cast<void*>(uintptr_t(b.imageBase)), 0x10000);
        ASSERT_NE(taken_, nullptr);
    }
    void TearDown() override {
        platform::releaseMemory(taken_);
        LoaderTest::TearDown();
    }
    uint32_t text_ = 0;
    std::vector<uint8_t> image_;
    testpe::Layout layout_;
    void* taken_ = nullptr;
};

TEST_F(DamagedImageTest, TheUndamagedImageLoads) {
    LoadedModule* m = load(image_);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(FindModuleExport(m, "run"), at(m, text_ + 4));
    FreeLoadedModule(m);
}

TEST_F(DamagedImageTest, EveryTruncationIsRefused) {
    for (size_t size = 0; size < image_.size(); ++size) {
        // A copy of exactly `size` bytes, so a read past it is a heap overflow the sanitizer sees.
        std::vector<uint8_t> cut(image_.begin(), image_.begin() + size);
        cut.shrink_to_fit();
        ASSERT_EQ(LoadModuleFromMemory(cut.data(), cut.size()), nullptr) << "size " << size;
    }
    EXPECT_EQ(LoadModuleFromMemory(nullptr, image_.size()), nullptr);
    EXPECT_TRUE(calls.empty());
}

TEST_F(DamagedImageTest, DamagedHeadersAndTablesAreRefused) {
    const uint32_t sizeOfImage = layout_.sizeOfImage;
    const size_t importRaw = layout_.fileOffset(layout_.importDirectory);
    const size_t relocRaw = layout_.fileOffset(layout_.relocDirectory);
    const std::vector<std::pair<const char*, std::function<void(std::vector<uint8_t>&)>>> cases = {
        {"MZ", [](auto& i) { i[1] = 'X'; }},
        {"PE", [](auto& i) { i[hdr::NT + 1] = 'X'; }},
        {"PE signature's zero bytes", [](auto& i) { i[hdr::NT + 2] = 1; }},
        {"negative e_lfanew", [](auto& i) { put<int32_t>(i, 0x3C, -8); }},
        {"e_lfanew past the end", [](auto& i) { put<uint32_t>(i, 0x3C, 0x7FFFFFF0); }},
        {"SizeOfImage 0", [](auto& i) { put<uint32_t>(i, hdr::SIZE_OF_IMAGE, 0); }},
        {"SizeOfHeaders past the file", [](auto& i) { put<uint32_t>(i, hdr::SIZE_OF_HEADERS, 0x7FFFFFFF); }},
        {"SizeOfHeaders below the NT headers", [](auto& i) { put<uint32_t>(i, hdr::SIZE_OF_HEADERS, 0x100); }},
        {"SizeOfHeaders past SizeOfImage",
         [&](auto& i) { put<uint32_t>(i, hdr::SIZE_OF_IMAGE, 0x200); }},
        {"section table past the headers", [](auto& i) { put<uint16_t>(i, hdr::NUMBER_OF_SECTIONS, 0xFFFF); }},
        {"raw data past the file", [](auto& i) { put<uint32_t>(i, hdr::section(0, 20), 0x7FFFFF00); }},
        {"raw data size past the file", [](auto& i) { put<uint32_t>(i, hdr::section(0, 16), 0xFFFFFE00); }},
        {"section past SizeOfImage", [&](auto& i) { put<uint32_t>(i, hdr::section(0, 12), sizeOfImage - 4); }},
        {"entry point past the image", [&](auto& i) { put<uint32_t>(i, hdr::ENTRY, sizeOfImage); }},
        {"relocations past the image", [&](auto& i) { put<uint32_t>(i, hdr::dir(5) + 4, sizeOfImage); }},
        {"relocation block of size 0", [&](auto& i) { put<uint32_t>(i, relocRaw + 4, 0); }},
        {"relocation block past its directory", [&](auto& i) { put<uint32_t>(i, relocRaw + 4, 0x1000); }},
        {"fixup past the image",
         [&](auto& i) {
             put<uint32_t>(i, relocRaw, sizeOfImage - 0x1000);
             put<uint16_t>(i, relocRaw + 8, 0x3FFE);
         }},
        {"import directory at the image's end", [&](auto& i) { put<uint32_t>(i, hdr::dir(1), sizeOfImage - 8); }},
        {"library name past the image", [&](auto& i) { put<uint32_t>(i, importRaw + 12, sizeOfImage + 0x100); }},
        {"library name running off the image", [&](auto& i) { put<uint32_t>(i, importRaw + 12, sizeOfImage - 1); }},
        {"lookup table past the image", [&](auto& i) { put<uint32_t>(i, importRaw + 0, 0xFFFFFFF0); }},
        {"IAT past the image", [&](auto& i) { put<uint32_t>(i, importRaw + 16, sizeOfImage - 2); }},
    };
    for (const auto& [name, damage] : cases) {
        std::vector<uint8_t> image = image_;
        damage(image);
        LoadedModule* m = LoadModuleFromMemory(image.data(), image.size());
        EXPECT_EQ(m, nullptr) << name;
        FreeLoadedModule(m);
        EXPECT_EQ(platform::hostLibraryLoadCount("kernel32.dll"), 0) << name;
    }
    EXPECT_TRUE(calls.empty());
}

TEST_F(DamagedImageTest, DamagedExportTablesGiveNull) {
    const size_t exportRaw = layout_.fileOffset(layout_.exportDirectory);
    const uint32_t sizeOfImage = layout_.sizeOfImage;
    const std::vector<std::pair<const char*, std::function<void(std::vector<uint8_t>&)>>> cases = {
        {"directory past the image", [&](auto& i) { put<uint32_t>(i, hdr::dir(0), sizeOfImage - 20); }},
        {"names past the image", [&](auto& i) { put<uint32_t>(i, exportRaw + 32, sizeOfImage); }},
        {"name past the image", [&](auto& i) { put<uint32_t>(i, layout_.fileOffset(layout_.exportDirectory + 44), sizeOfImage); }},
        {"ordinals past the image", [&](auto& i) { put<uint32_t>(i, exportRaw + 36, 0xFFFFFFFF); }},
        {"functions past the image", [&](auto& i) { put<uint32_t>(i, exportRaw + 28, 0xFFFFFFFE); }},
        {"no names", [&](auto& i) { put<uint32_t>(i, exportRaw + 24, 0); }},
        {"no functions", [&](auto& i) { put<uint32_t>(i, exportRaw + 20, 0); }},
    };
    for (const auto& [name, damage] : cases) {
        std::vector<uint8_t> image = image_;
        damage(image);
        LoadedModule* m = load(image);
        ASSERT_NE(m, nullptr) << name;
        EXPECT_EQ(FindModuleExport(m, "Run"), nullptr) << name;
        FreeLoadedModule(m);
    }
}
