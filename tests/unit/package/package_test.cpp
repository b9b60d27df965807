#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "bsl/engine.h"
#include "sim/instrument.h"
#include "upload/firmware_package.h"

namespace fs = std::filesystem;

namespace {

std::string text(int id) {
    platform::Resource r = firmwareResource(id);
    return r ? std::string(reinterpret_cast<const char*>(r.data), r.size) : std::string();
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

MemoryImage decode(const std::string& s) {
    MemoryImage image;
    EXPECT_TRUE(decodeTiTxtImage(reinterpret_cast<const unsigned char*>(s.data()), s.size(), image)) << s.substr(0, 40);
    return image;
}

TEST(FirmwarePackage, MembersHaveTheirExactSizesAndNoTerminatingZero) {
    EXPECT_EQ(text(ID_FIRMWARE_IMAGE).size(), 178410u);
    EXPECT_EQ(text(ID_FIRMWARE_IDENTITY), std::string("ZantirKORAL-VKT-1.0.3 \r\n"));
    EXPECT_EQ(text(ID_FIRMWARE_BLANK_KEY).size(), 108u);
    EXPECT_EQ(text(ID_FIRMWARE_MODEL_KEY).size(), 108u);
    EXPECT_EQ(text(ID_FIRMWARE_BLANK_INFOA).size(), 206u);
    for (int id = 1; id <= 5; ++id) EXPECT_NE(text(id).back(), '\0') << id;
    EXPECT_FALSE(firmwareResource(6)) << "the vendor library is a DLL resource, not FIRMWARE";
}

TEST(FirmwarePackage, ImageIsOneSectionOfCrLfLinesWithABlankAfterEveryValue) {
    const std::string image = text(ID_FIRMWARE_IMAGE);
    ASSERT_EQ(image.substr(0, 7), "@2100\r\n");
    ASSERT_EQ(image.substr(image.size() - 3), "q\r\n");
    size_t lines = 0;
    for (size_t pos = 7; pos + 3 < image.size(); pos += 50, ++lines) {
        const std::string line = image.substr(pos, 50);
        for (int v = 0; v < 16; ++v) {
            for (int d = 0; d < 2; ++d) {
                char c = line[size_t(v * 3 + d)];
                ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << "line " << lines << ": " << line;
            }
            ASSERT_EQ(line[size_t(v * 3 + 2)], ' ') << "line " << lines;
        }
        ASSERT_EQ(line.substr(48), "\r\n") << "line " << lines;
    }
    EXPECT_EQ(lines, 3568u);

    MemoryImage flash = decode(image);
    EXPECT_EQ(flash.address, 0x2100u);
    ASSERT_EQ(flash.bytes.size(), 57088u);
    EXPECT_EQ(embeddedFirmwareImage().bytes, flash.bytes);
}

TEST(FirmwarePackage, ImageLooksLikeFirmware) {
    MemoryImage flash = decode(text(ID_FIRMWARE_IMAGE));
    ASSERT_EQ(flash.bytes.size(), 57088u);
    auto word = [&](uint32_t a) { return uint32_t(flash.bytes[a - 0x2100] | flash.bytes[a + 1 - 0x2100] << 8); };
    EXPECT_EQ(word(0xFFFE), 0x2100u) << "reset vector at the start of the code";
    for (uint32_t v = 0xFFE0; v < 0x10000; v += 2) {
        EXPECT_GE(word(v), 0x2100u) << std::hex << v;
        EXPECT_LT(word(v), 0xFFE0u) << std::hex << v;
        EXPECT_EQ(word(v) % 2, 0u) << std::hex << v;
    }
    for (size_t i = 1; i < flash.bytes.size(); ++i)
        ASSERT_FALSE(flash.bytes[i] == 0xFF && flash.bytes[i - 1] == 0xFF) << "blank run at " << std::hex << 0x2100 + i;
}

// The blank password is tried first on every InfoA reading, also right after programming: with
// any other security key a loader from 2.00 on would erase the instrument, calibration included.
TEST(FirmwarePackage, SecurityKeyKeepsTheFlashOnAWrongPassword) {
    MemoryImage flash = decode(text(ID_FIRMWARE_IMAGE));
    ASSERT_EQ(flash.bytes.size(), 57088u);
    EXPECT_EQ(flash.bytes[0xFFDE - 0x2100], 0x00);
    EXPECT_EQ(flash.bytes[0xFFDF - 0x2100], 0x00);
}

TEST(FirmwarePackage, KeysAndBlankInfoAHaveTheWriterForm) {
    const std::string ff16 = "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF\r\n";
    EXPECT_EQ(text(ID_FIRMWARE_BLANK_KEY), "@FFE0\r\n" + ff16 + ff16 + "q\r\n");
    EXPECT_EQ(text(ID_FIRMWARE_BLANK_INFOA), "@10C0\r\n" + ff16 + ff16 + ff16 + ff16 + "q\r\n");

    const std::string model = text(ID_FIRMWARE_MODEL_KEY);
    EXPECT_EQ(model.substr(0, 7), "@FFE0\r\n");
    EXPECT_EQ(model[7 + 47], '\r') << "no blank at the end of a key line";
    MemoryImage key = decode(model);
    MemoryImage flash = decode(text(ID_FIRMWARE_IMAGE));
    EXPECT_EQ(key.address, 0xFFE0u);
    ASSERT_EQ(key.bytes.size(), 32u);
    EXPECT_TRUE(std::equal(key.bytes.begin(), key.bytes.end(), flash.bytes.end() - 32))
        << "the model key must be the image's interrupt vectors, or every run after programming is refused";
}

TEST(TiTxtImage, GapsReadAsErasedAndMalformedTextIsRefused) {
    MemoryImage image = decode("@1000\r\n01 02\r\n@1004\r\n05\r\nq\r\n");
    EXPECT_EQ(image.address, 0x1000u);
    EXPECT_EQ(image.bytes, (std::vector<uint8_t>{1, 2, 0xFF, 0xFF, 5}));

    MemoryImage bad;
    const std::string cases[] = {"01 02\r\nq\r\n", "@1000\r\n0G\r\nq\r\n", "@1000\r\n01\r\n", "@1004\r\n01\r\n@1000\r\n02\r\nq\r\n"};
    for (const std::string& s : cases)
        EXPECT_FALSE(decodeTiTxtImage(reinterpret_cast<const unsigned char*>(s.data()), s.size(), bad)) << s;
}

class Generator : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("koral_pkggen_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    int run(const std::string& args) { return std::system((std::string(KORAL_PKGGEN) + " " + args + " >/dev/null 2>&1").c_str()); }
    std::filesystem::path dir_;
};

TEST_F(Generator, RemakesTheCommittedSampleReleaseByteForByte) {
    ASSERT_EQ(run("--sample " + dir_.string()), 0);
    for (const char* name : {"image.txt", "identity.txt", "blank_key.txt", "model_key.txt", "blank_infoa.txt"})
        EXPECT_EQ(readFile(dir_ / name), readFile(std::filesystem::path(KORAL_PACKAGE_DIR) / name)) << name;
}

TEST_F(Generator, ANewImageBringsItsOwnModelKey) {
    std::string binary(57088, '\x11');
    for (int i = 0; i < 32; ++i) binary[binary.size() - 32 + size_t(i)] = char(0xA0 + i);
    binary[0xFFDE - 0x2100] = binary[0xFFDF - 0x2100] = '\0';
    std::ofstream(dir_ / "fw.bin", std::ios::binary) << binary;
    ASSERT_EQ(run("--image " + (dir_ / "fw.bin").string() + " " + dir_.string()), 0);
    std::string key = readFile(dir_ / "model_key.txt");
    EXPECT_EQ(key.substr(7, 49), "A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF\r\n");
    EXPECT_EQ(readFile(dir_ / "image.txt").size(), 178410u);

    std::ofstream(dir_ / "short.bin", std::ios::binary) << "abc";
    EXPECT_NE(run("--image " + (dir_ / "short.bin").string() + " " + dir_.string()), 0) << "an image that does not end at 0xFFFF is refused";
    EXPECT_NE(run(dir_.string()), 0) << "no source given";
}

TEST_F(Generator, ImageWhoseSecurityKeyLetsAWrongPasswordEraseIsRefused) {
    std::string binary(57088, '\x11');
    std::ofstream(dir_ / "fw.bin", std::ios::binary) << binary;
    std::string log = (dir_ / "log.txt").string();
    EXPECT_NE(std::system((std::string(KORAL_PKGGEN) + " --image " + (dir_ / "fw.bin").string() + " " + dir_.string() +
                           " >" + log + " 2>&1")
                              .c_str()),
              0);
    EXPECT_NE(readFile(log).find("0xFFDE is 0x1111, not 0x0000"), std::string::npos) << readFile(log);
    EXPECT_FALSE(fs::exists(dir_ / "image.txt"));

    // The build's check refuses such a release too.
    const fs::path release = dir_ / "release";
    fs::create_directories(release);
    for (const char* name : {"image.txt", "identity.txt", "blank_key.txt", "model_key.txt", "blank_infoa.txt"})
        fs::copy_file(fs::path(KORAL_PACKAGE_DIR) / name, release / name);
    std::string check = std::string(KORAL_CMAKE) + " -DDIR=" + release.string() + " -P " + KORAL_CHECK_PACKAGE + " >" + log + " 2>&1";
    ASSERT_EQ(std::system(check.c_str()), 0) << readFile(log);
    std::string image = readFile(release / "image.txt");
    size_t line = 7 + size_t((0xFFD0 - 0x2100) / 16) * 50;
    ASSERT_EQ(image.substr(line + 42, 6), "00 00 ");
    image.replace(line + 42, 6, "7F BB ");
    std::ofstream(release / "image.txt", std::ios::binary) << image;
    EXPECT_NE(std::system(check.c_str()), 0);
    EXPECT_NE(readFile(log).find("0xFFDE is not 0x0000"), std::string::npos) << readFile(log);
}

}  // namespace

namespace {

TEST(FirmwarePackage, BlankInfoAIsExactlyWhatTheReadOutWriterProduces) {
    fs::path file = fs::temp_directory_path() / ("koral_blank_infoa_" + std::to_string(::getpid()) + ".txt");
    const std::vector<uint8_t> erased(64, 0xFF);
    openTiTxtOutput(file.string().c_str());
    writeTiTxtWords(0x10C0, 32, erased.data());
    closeTiTxtOutput();
    EXPECT_EQ(readFile(file), text(ID_FIRMWARE_BLANK_INFOA)) << "the blank test compares a backup byte for byte";
    fs::remove(file);
}

TEST(FirmwarePackage, SimulatedInstrumentBootsOnlyTheEmbeddedImage) {
    MemoryImage flash = embeddedFirmwareImage();
    sim::InstrumentConfig config;
    config.firmwareImage = {sim::Section{flash.address, flash.bytes}};
    sim::Instrument instrument(config);
    EXPECT_FALSE(instrument.holdsFirmware());
    instrument.load(flash.address, flash.bytes);
    EXPECT_TRUE(instrument.holdsFirmware());
    instrument.load(0x8000, {uint8_t(flash.bytes[0x8000 - flash.address] ^ 0x01)});
    EXPECT_FALSE(instrument.holdsFirmware()) << "one wrong bit is not the release";
}

}  // namespace
