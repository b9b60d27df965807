#include <gtest/gtest.h>

#include "tools/koralbsl/input_files.h"
#include "tools/koralbsl/options.h"

namespace {

TEST(TiTxtCheck, WellFormedTextsPassWithCrLfLineEnds) {
    std::string crlf, error;
    std::vector<TiTxtSection> sections;
    ASSERT_TRUE(checkTiTxt("@2100\n01 02 03\nAA BB \n\n@ffe0\n00\nq\n", false, crlf, sections, error)) << error;
    EXPECT_EQ(crlf, "@2100\r\n01 02 03\r\nAA BB \r\n\r\n@ffe0\r\n00\r\nq\r\n");
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].address, 0x2100u);
    EXPECT_EQ(sections[0].size, 5u);
    EXPECT_EQ(sections[1].address, 0xFFE0u);
    ASSERT_TRUE(checkTiTxt("@10000\r\n01\r\nq", true, crlf, sections, error)) << error;
    EXPECT_EQ(crlf, "@10000\r\n01\r\nq") << "CR LF text is handed on as it is";
}

TEST(TiTxtCheck, MalformedTextsNameTheirLine) {
    const std::string sixteen = "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F";
    const struct {
        std::string text, error;
    } cases[] = {
        {"@2100\n" + sixteen + " 10\nq\n", "line 2: more than 16 values"},
        {"@2100\n1 2 3\nq\n", "line 2: \"1 2 3\" is not a line"},
        {"@2100\n01  02\nq\n", "line 2: \"01  02\" is not"},
        {"@2100\n01 02  \nq\n", "line 2:"},
        {"@2100\n01\t02\nq\n", "line 2:"},
        {"@2100\n0G\nq\n", "line 2:"},
        {"01 02\n@2100\nq\n", "line 1: data before the first address line"},
        {"@21G0\nq\n", "line 1: \"@21G0\" is not an address line"},
        {"@10000\n01\nq\n", "line 1: address 0x10000 does not fit 16 bits"},
        {"@FFFF\n01 02\nq\n", "line 2: data run past 0xFFFF"},
        {"@2100\n01\n", "no final \"q\" line"},
        {"@2100\n01\nq\n@3000\n", "line 4: text after the final \"q\""},
        {"@2100\r01\r\nq\n", "line 1: a CR without LF"},
        {std::string("@2100\n01\0\nq\n", 13), "line 2:"},
    };
    for (const auto& c : cases) {
        std::string crlf, error;
        std::vector<TiTxtSection> sections;
        EXPECT_FALSE(checkTiTxt(c.text, false, crlf, sections, error)) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
}

TEST(TiTxtCheck, PasswordIsExactlyTheThirtyTwoBytesAtFFE0) {
    std::string error;
    EXPECT_TRUE(checkPasswordSections({{0xFFE0, 32}}, error));
    for (const std::vector<TiTxtSection>& bad : std::vector<std::vector<TiTxtSection>>{
             {{0xFFE0, 16}}, {{0xFFE0, 16}, {0xFFF0, 16}}, {{0xFFC0, 32}}, {}, {{0xFFE0, 33}}})
        EXPECT_FALSE(checkPasswordSections(bad, error));
}

TEST(ToolOptions, OwnOptionsAreTakenOutAndTheRestKeepsItsOrder) {
    const char* argv[] = {"koralbsl", "-cCOM2", "--simulate", "+ep", "--sim-bsl-version=0x0130", "--sim-fault=nak-frame=3",
                          "--sim-fault=blank-infoa", "img.txt"};
    ToolOptions o;
    std::string error;
    ASSERT_TRUE(parseToolOptions(8, argv, o, error)) << error;
    EXPECT_TRUE(o.simulate);
    EXPECT_EQ(o.sim.bslVersion, 0x0130);
    EXPECT_EQ(o.sim.faults, "nak-frame=3,blank-infoa");
    EXPECT_EQ(o.driverArgs, (std::vector<std::string>{"-cCOM2", "+ep", "img.txt"}));
}

TEST(ToolOptions, BadOwnOptionsAreRefused) {
    for (const char* bad : {"--simulat", "--sim-infoa=12", "--sim-bsl-version=xyz", "--sim-bsl-version=0x12345", "--transcript="}) {
        const char* argv[] = {"koralbsl", "--simulate", bad};
        ToolOptions o;
        std::string error;
        EXPECT_FALSE(parseToolOptions(3, argv, o, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    const char* argv[] = {"koralbsl", "--sim-fault=blank-infoa"};
    ToolOptions o;
    std::string error;
    EXPECT_FALSE(parseToolOptions(2, argv, o, error)) << "simulator settings without --simulate are a mistake";
}

}  // namespace
