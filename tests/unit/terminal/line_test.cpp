#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/ui/terminal/line_backend.h"

namespace {

void setText(HWND h, const char* text) { ui::sendMessage(h, WM_SETTEXT, 0, LPARAM(text)); }

TEST(LineModeTest, PrintsPagesTheGrowingLogPercentStepsTheResultAndBoxes) {
    char* buf = nullptr;
    size_t len = 0;
    std::FILE* out = open_memstream(&buf, &len);
    ui::term::LineBackend line(out, -1, false);
    ui::setBackend(&line);
    HWND frame = ui::createDialogFromTemplate(131, nullptr, false);
    setText(frame, "Zantir KORAL Firmware Upload Wizard - X");
    HWND page = ui::createDialogFromTemplate(139, frame, true);
    ui::setVisible(page, true);
    HWND log = ui::findChild(page, 1061), percent = ui::findChild(page, 1047), tick = ui::findChild(page, 1062);
    setText(log, "Reading InfoA\r\n");
    setText(log, "Reading InfoA\r\nProgramming\r\nBOOT");
    for (const char* p : {"3% complete", "7% complete", "12% complete", "100% complete"}) setText(percent, p);
    ui::setVisible(tick, false);
    ui::setVisible(tick, true);
    EXPECT_EQ(line.messageBox({"InfoA is blank! You need to restore it from file", "KoralLoader",
                               MB_OK | MB_ICONEXCLAMATION}),
              IDOK);
    ui::FileDialogRequest file;
    file.filter = "Saved InfoA Files|KORLDR_INFOA*.TXT||";
    EXPECT_FALSE(line.fileDialog(file));
    ui::destroyWindow(frame);
    ui::setBackend(nullptr);
    std::fclose(out);
    std::string text(buf, len);
    std::free(buf);

    EXPECT_NE(text.find("== Zantir KORAL Firmware Upload Wizard - X\n"), std::string::npos);
    EXPECT_NE(text.find("\nFirmware Image Transfer\n"), std::string::npos);
    EXPECT_NE(text.find("Reading InfoA\nProgramming\nBOOT"), std::string::npos);  // each part once
    EXPECT_EQ(text.find("Reading InfoA"), text.rfind("Reading InfoA"));
    EXPECT_NE(text.find("\n3% complete\n"), std::string::npos);
    EXPECT_EQ(text.find("7% complete"), std::string::npos);  // same step of ten as 3%
    EXPECT_NE(text.find("\n12% complete\n"), std::string::npos);
    EXPECT_NE(text.find("\n100% complete\n"), std::string::npos);
    EXPECT_NE(text.find("Result: done (green tick)"), std::string::npos);
    EXPECT_NE(text.find("[KoralLoader] InfoA is blank! You need to restore it from file\n  -> OK"), std::string::npos);
    EXPECT_NE(text.find("[Open] Saved InfoA Files|KORLDR_INFOA*.TXT\n  -> Cancel"), std::string::npos);
}

}  // namespace

namespace {

// The file prompt shows its folder and the filter's files newest first; a number picks one, a
// missing name asks again.
TEST(LineModeTest, FilePromptListsTheFolderNewestFirstAndTakesANumberOrAName) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("koral_prompt_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    auto now = fs::file_time_type::clock::now();
    int age = 3;
    for (const char* name : {"KORLDR_INFOA_260101_120000.TXT", "KORLDR_INFOA_260102_120000.TXT", "KORLDR_INFOA_250101_120000.TXT"}) {
        std::ofstream(dir / name) << "q\n";
        fs::last_write_time(dir / name, now - std::chrono::hours(age--));
    }
    std::ofstream(dir / "other.txt") << "q\n";
    int in[2];
    ASSERT_EQ(pipe(in), 0);
    std::string answers = "KORLDR_INFOA_missing\n2\n";
    ASSERT_EQ(write(in[1], answers.data(), answers.size()), ssize_t(answers.size()));
    close(in[1]);
    char* buf = nullptr;
    size_t len = 0;
    std::FILE* out = open_memstream(&buf, &len);
    ui::term::LineBackend line(out, in[0], true);
    ui::FileDialogRequest file;
    file.filter = "Saved InfoA Files|KORLDR_INFOA*.TXT||";
    file.title = "Find a saved InfoA file";
    file.initialDir = dir.string();
    file.defaultExt = "TXT";
    file.flags = OFN_FILEMUSTEXIST;
    EXPECT_TRUE(line.fileDialog(file));
    EXPECT_EQ(file.result, (dir / "KORLDR_INFOA_260102_120000.TXT").string());
    std::fclose(out);
    std::string text(buf, len);
    std::free(buf);
    close(in[0]);
    fs::remove_all(dir);
    EXPECT_NE(text.find("[Find a saved InfoA file] Saved InfoA Files (KORLDR_INFOA*.TXT)\n"
                        "  folder: " + dir.string() + "\n"
                        "  1) KORLDR_INFOA_250101_120000.TXT\n"
                        "  2) KORLDR_INFOA_260102_120000.TXT\n"
                        "  3) KORLDR_INFOA_260101_120000.TXT\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("other.txt"), std::string::npos);
    EXPECT_NE(text.find("no such file: " + (dir / "KORLDR_INFOA_missing.TXT").string()), std::string::npos);
}

}  // namespace
