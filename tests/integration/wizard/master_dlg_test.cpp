#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/master_dlg.h"
#include "pages/welcome_page.h"
#include "platform/os/tempdir.h"
#include "platform/ui/headless.h"
#include "res/version/version.h"

namespace {

// Stands in for the later pages: a last page whose Back jumps to the welcome page.
class LaterPage : public CNewWizPage {
public:
    LaterPage() : CNewWizPage(139) {}
    int OnBackRequest() override { return int(IDD_WELCOME); }
    void OnEnterPage() override { m_pWizard->EnableNext(FALSE); }
};

std::string selfPath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

class MasterDlgTest : public ::testing::Test {
protected:
    void run(const std::string& programFile) {
        program = programFile;
        const char* argv[] = {program.c_str()};
        AfxSetCommandLine(1, argv);
        wizard.AddPage(&welcome, IDD_WELCOME);
        wizard.AddPage(&middle, 141);
        wizard.AddPage(&later, 139);
        uint64_t before = driver.clock().nowUs();
        ASSERT_TRUE(driver.open(wizard));
        initUs = driver.clock().nowUs() - before;
    }
    void TearDown() override { AfxSetCommandLine(0, nullptr); }

    ui::HeadlessDriver driver;
    std::string program;
    uint64_t initUs = 0;
    CMasterDlg wizard;
    CWelcomePage welcome;
    CNewWizPage middle{141};
    LaterPage later;
};

TEST_F(MasterDlgTest, CaptionEndsInTheFirmwareIdentityWithoutLineBreak) {
    run(selfPath());
    ui::Window* frame = ui::window(wizard.m_hWnd);
    EXPECT_EQ(frame->text, "Zantir KORAL Firmware Upload Wizard - ZantirKORAL-VKT-1.0.3 ");
    EXPECT_EQ(frame->text.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(AfxIconId(frame->bigIcon), IDI_MAINFRAME);
    EXPECT_EQ(AfxIconId(frame->smallIcon), IDI_MAINFRAME);
}

TEST_F(MasterDlgTest, VersionLabelShowsTheProgramFilesVersionAndCopyright) {
    run(selfPath());
    std::string label = driver.text(IDC_VERSION);
    ASSERT_NE(label.find('\n'), std::string::npos);
    char first[64];
    std::snprintf(first, sizeof first, "Version %d.%d.%d (Build %d)", KORAL_VERSION_MAJOR, KORAL_VERSION_MINOR,
                  KORAL_VERSION_PATCH, KORAL_VERSION_BUILD);
    EXPECT_EQ(label.substr(0, label.find('\n')), first);
    EXPECT_EQ(label.substr(label.find('\n') + 1).rfind("Copyright", 0), 0u);
    EXPECT_EQ(wizard.m_strVersion, label);
    EXPECT_LT(initUs, 100000u);  // found at the first attempt
}

TEST_F(MasterDlgTest, ProgramFileWithoutVersionBlockGivesEmptyLabelAfterElevenAttempts) {
    std::string file = platform::tempPath();
    if (!file.empty() && file.back() != '/') file += '/';
    file += "koral_no_version_block.bin";
    {
        std::ofstream out(file, std::ios::binary);
        out << "\x7f" "ELF not really a program";
    }
    run(file);
    std::filesystem::remove(file);
    EXPECT_EQ(driver.text(IDC_VERSION), "");
    EXPECT_GE(initUs, 220000u);
    EXPECT_LT(initUs, 260000u);
    // The wizard opens normally all the same.
    EXPECT_TRUE(driver.visible(IDC_TITLE));
}

TEST_F(MasterDlgTest, MissingProgramFileAlsoGivesEmptyLabel) {
    run("");
    EXPECT_EQ(driver.text(IDC_VERSION), "");
    EXPECT_TRUE(driver.isOpen());
}

TEST_F(MasterDlgTest, WelcomePageShowsBoldTitleBackDisabledNextEnabled) {
    run(selfPath());
    EXPECT_EQ(driver.text(IDC_TITLE), "Welcome to the Zantir KORAL Firmware Upload Wizard");
    const ui::FontInfo* font = CFont::FromHandle(driver.control(IDC_TITLE)->font);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->weight, FW_BOLD);
    EXPECT_EQ(font->height, -12);
    EXPECT_EQ(font->face, "MS Sans Serif");
    EXPECT_FALSE(driver.enabled(ID_WIZBACK));
    EXPECT_TRUE(driver.enabled(ID_WIZNEXT));
}

TEST_F(MasterDlgTest, WelcomePageReachedAgainFromALaterPage) {
    run(selfPath());
    HWND firstWindow = welcome.m_hWnd;
    driver.click(ID_WIZNEXT);
    driver.click(ID_WIZNEXT);
    ASSERT_EQ(wizard.GetActivePage(), &later);
    EXPECT_FALSE(driver.enabled(ID_WIZNEXT));

    driver.click(ID_WIZBACK);  // jumps to the welcome page
    EXPECT_EQ(wizard.GetActivePage(), &welcome);
    EXPECT_EQ(welcome.m_hWnd, firstWindow);  // shown again, not made anew
    EXPECT_FALSE(driver.enabled(ID_WIZBACK));
    EXPECT_TRUE(driver.enabled(ID_WIZNEXT));
    EXPECT_EQ(CFont::FromHandle(driver.control(IDC_TITLE)->font)->weight, FW_BOLD);
}

TEST_F(MasterDlgTest, CloseEndsAtOnceUnlessDisabledThenTheCloseBoxBeeps) {
    run(selfPath());
    driver.pressEnter();  // Enter is Next; OnOK never ends the wizard
    EXPECT_EQ(wizard.GetActivePage(), &middle);
    wizard.GetDlgItem(IDCANCEL)->EnableWindow(FALSE);
    driver.closeWindow();
    EXPECT_TRUE(driver.isOpen());
    EXPECT_EQ(driver.beeps().size(), 1u);
    wizard.GetDlgItem(IDCANCEL)->EnableWindow(TRUE);
    driver.closeWindow();
    EXPECT_FALSE(driver.isOpen());
    EXPECT_EQ(driver.result(), IDCANCEL);
    EXPECT_TRUE(driver.messageBoxes().empty());
}

}  // namespace
