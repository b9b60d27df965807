// Everything that shows the version agrees with res/version/VERSION: the Linux version section the
// label reads, --version of both programs, the Windows version block and the package's name.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/os/version.h"

namespace {

std::string readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Version {
    unsigned part[4] = {};
    std::string text;  // as written: major.minor.patch.build
    uint32_t ms() const { return part[0] << 16 | part[1]; }
    uint32_t ls() const { return part[2] << 16 | part[3]; }
};

Version writtenVersion() {
    Version v;
    std::string file = readFile(KORAL_VERSION_FILE);
    v.text = file.substr(0, file.find('\n'));
    char end = 0;
    EXPECT_EQ(std::sscanf(v.text.c_str(), "%u.%u.%u.%u%c", &v.part[0], &v.part[1], &v.part[2], &v.part[3], &end), 4)
        << v.text;
    return v;
}

std::string firstLineOf(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    char line[256] = "";
    if (!std::fgets(line, sizeof line, pipe)) line[0] = 0;
    pclose(pipe);
    return std::string(line);
}

TEST(Version, ProgramsShowTheWrittenVersion) {
    const Version v = writtenVersion();
    char expected[64];
    std::snprintf(expected, sizeof expected, "%u.%u.%u (build %u)\n", v.part[0], v.part[1], v.part[2], v.part[3]);
    EXPECT_EQ(firstLineOf(KORAL_PROGRAM " --version"), std::string("koralloader ") + expected);
    EXPECT_EQ(firstLineOf(KORAL_TOOL " --version"), std::string("koralbsl ") + expected);

    // What the wizard's label is made of.
    uint32_t size = platform::fileVersionInfoSize(KORAL_PROGRAM);
    ASSERT_NE(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(platform::fileVersionInfo(KORAL_PROGRAM, size, block.data()));
    platform::FixedFileInfo info{};
    ASSERT_TRUE(platform::queryFixedFileInfo(block.data(), size, info));
    EXPECT_EQ(info.fileVersionMS, v.ms());
    EXPECT_EQ(info.fileVersionLS, v.ls());
    EXPECT_EQ(info.productVersionMS, v.ms());
    EXPECT_EQ(info.productVersionLS, v.ls());
}

TEST(Version, WindowsBlockAndPackageNameCarryTheWrittenVersion) {
    const Version v = writtenVersion();
    std::string res = *KORAL_VERSION_RES ? readFile(KORAL_VERSION_RES) : std::string();
    if (*KORAL_VERSION_RES) {
        size_t fixed = res.find("\xBD\x04\xEF\xFE", 0, 4);
        ASSERT_NE(fixed, std::string::npos);
        uint32_t words[4];
        ASSERT_LE(fixed + 8 + sizeof words, res.size());
        std::memcpy(words, res.data() + fixed + 8, sizeof words);  // file version, product version
        EXPECT_EQ(words[0], v.ms());
        EXPECT_EQ(words[1], v.ls());
        EXPECT_EQ(words[2], v.ms());
        EXPECT_EQ(words[3], v.ls());
        EXPECT_NE(res.find("F\0i\0l\0e\0V\0e\0r\0s\0i\0o\0n\0\0\0", 0, 24), std::string::npos);
        std::string wide;
        for (char c : v.text) wide += c, wide += '\0';
        EXPECT_NE(res.find(wide), std::string::npos) << "the version as text in the string table";
    }
    std::string cpack = readFile(KORAL_CPACK_CONFIG);
    EXPECT_NE(cpack.find("set(CPACK_PACKAGE_VERSION \"" + v.text + "\")"), std::string::npos);
    EXPECT_NE(cpack.find("set(CPACK_DEBIAN_FILE_NAME \"koralloader_" + v.text + "_"), std::string::npos);
}

}  // namespace
