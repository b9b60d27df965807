#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/os/resources.h"

namespace {

std::vector<unsigned char> readFile(const std::string& name) {
    std::ifstream in(std::string(KORAL_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Resources, BytesAndSizeAreExactlyTheFiles) {
    auto expected = readFile("sample.bin");
    ASSERT_FALSE(expected.empty());
    platform::Resource r = platform::findResource("TESTDATA", 7);
    ASSERT_TRUE(r);
    ASSERT_EQ(r.size, expected.size()) << "no terminating byte may be counted";
    EXPECT_EQ(std::vector<unsigned char>(r.data, r.data + r.size), expected) << "NUL, CR and 0xFF bytes survive";
}

TEST(Resources, EmptyFileIsFoundWithSizeZero) {
    platform::Resource r = platform::findResource("TESTDATA", 8);
    EXPECT_TRUE(r);
    EXPECT_EQ(r.size, 0u);
}

TEST(Resources, TypeAndIdBothSelect) {
    EXPECT_EQ(platform::findResource("OTHER", 7).size, 0u);
    EXPECT_NE(platform::findResource("OTHER", 7).data, platform::findResource("TESTDATA", 7).data);
    EXPECT_FALSE(platform::findResource("TESTDATA", 9));
    EXPECT_FALSE(platform::findResource("testdata", 7)) << "type names are exact";
    EXPECT_FALSE(platform::findResource(nullptr, 7));
}

TEST(Resources, PointerStaysTheSameForTheLifeOfTheProcess) {
    EXPECT_EQ(platform::findResource("TESTDATA", 7).data, platform::findResource("TESTDATA", 7).data);
}

}  // namespace
