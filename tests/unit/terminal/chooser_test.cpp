#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/ui/terminal/chooser.h"

namespace {

namespace fs = std::filesystem;
using namespace ui::term;

class ChooserTest : public testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("koral_chooser_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir / "sub");
        for (const char* name : {"KORLDR_INFOA_1.TXT", "korldr_infoa_2.txt", "other.txt", "sub/KORLDR_INFOA_3.TXT"}) {
            std::ofstream(dir / name) << "x";
        }
    }
    void TearDown() override { fs::remove_all(dir); }

    FileChooser make() {
        return FileChooser({"Find a saved InfoA file", "Saved InfoA Files|KORLDR_INFOA*.TXT||", dir.string(), "TXT"});
    }
    static void type(FileChooser& c, const std::string& text) {
        for (char ch : text) c.handle(InputEvent{Key::Char, wchar_t(ch)});
    }

    fs::path dir;
};

TEST(WildcardTest, MatchesLikeTheWindowsFileDialog) {
    EXPECT_TRUE(wildcardMatch("KORLDR_INFOA*.TXT", "KORLDR_INFOA_261207_221530.TXT"));
    EXPECT_TRUE(wildcardMatch("KORLDR_INFOA*.TXT", "korldr_infoa.txt"));
    EXPECT_FALSE(wildcardMatch("KORLDR_INFOA*.TXT", "KORLDR_INFOA_1.TXT.bak"));
    EXPECT_TRUE(wildcardMatch("a?c*", "abcdef"));
    EXPECT_FALSE(wildcardMatch("a?c", "ac"));
}

TEST_F(ChooserTest, ListsFoldersAndFilteredFilesAndOpensByKeys) {
    FileChooser c = make();
    std::vector<std::string> names;
    for (const auto& e : c.entries()) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"..", "sub", "KORLDR_INFOA_1.TXT", "korldr_infoa_2.txt"}));
    c.handle({Key::Down});
    c.handle({Key::Down});
    EXPECT_EQ(c.typed(), "sub/");
    c.handle({Key::Enter});
    EXPECT_EQ(c.directory(), (dir / "sub").string());
    c.handle({Key::End});
    EXPECT_EQ(c.handle({Key::Enter}), FileChooser::State::Chosen);
    EXPECT_EQ(c.result(), (dir / "sub" / "KORLDR_INFOA_3.TXT").string());
}

TEST_F(ChooserTest, TypedPathGetsTheDefaultExtensionAndAMissingFileKeepsItOpen) {
    FileChooser c = make();
    type(c, "nothere");
    EXPECT_EQ(c.handle({Key::Enter}), FileChooser::State::Open);
    Canvas canvas(120, 36);
    c.draw(canvas);
    EXPECT_NE(canvas.text().find("File not found: nothere.TXT"), std::string::npos);
    EXPECT_NE(canvas.text().find("Saved InfoA Files (KORLDR_INFOA*.TXT)"), std::string::npos);
    for (int i = 0; i < 7; ++i) c.handle({Key::Backspace});
    type(c, dir.string() + "/sub/../KORLDR_INFOA_1");
    EXPECT_EQ(c.handle({Key::Enter}), FileChooser::State::Chosen);
    EXPECT_EQ(c.result(), (dir / "KORLDR_INFOA_1.TXT").string());
}

TEST_F(ChooserTest, EscapeCancelsAndClicksChooseAndOpen) {
    FileChooser c = make();
    Canvas canvas(120, 36);
    c.draw(canvas);
    int row = -1, col = -1;
    for (int y = 0; y < canvas.rows() && row < 0; ++y) {
        size_t at = canvas.rowText(y).find(L"KORLDR_INFOA_1.TXT");
        if (at != std::wstring::npos) row = y, col = int(at);
    }
    ASSERT_GE(row, 0);
    c.handle({Key::Click, 0, col, row});
    EXPECT_EQ(c.typed(), "KORLDR_INFOA_1.TXT");
    EXPECT_EQ(c.handle({Key::Click, 0, col, row}), FileChooser::State::Chosen);
    FileChooser d = make();
    EXPECT_EQ(d.handle({Key::Escape}), FileChooser::State::Cancelled);
}

}  // namespace
