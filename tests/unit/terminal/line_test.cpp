#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

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
