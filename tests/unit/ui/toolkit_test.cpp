#include <gtest/gtest.h>

#include "platform/ui/headless.h"

namespace {

constexpr int kTestDialog = 5000;
constexpr int kEdit = 100, kCheck = 101, kProgress = 102, kLabel = 103;

void registerTestDialog(bool withDefault = true) {
    using ui::Kind;
    ui::registerDialogTemplate(ui::DialogTemplate{
        kTestDialog, "Test", 200, 100, WS_POPUP | WS_CAPTION | DS_SETFONT, "MS Sans Serif", 8,
        {{IDOK, Kind::PushButton, "OK", 10, 80, 50, 14, WS_CHILD | WS_VISIBLE | (withDefault ? BS_DEFPUSHBUTTON : 0u), 0},
         {IDCANCEL, Kind::PushButton, "Cancel", 70, 80, 50, 14, WS_CHILD | WS_VISIBLE, 0},
         {kEdit, Kind::Edit, "", 5, 5, 100, 40, WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0},
         {kCheck, Kind::CheckBox, "Tick", 5, 50, 100, 12, WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 0},
         {kProgress, Kind::Progress, "", 110, 5, 80, 10, WS_CHILD | WS_VISIBLE, 0},
         {kLabel, Kind::Static, "label", 110, 20, 80, 10, WS_CHILD | WS_VISIBLE, 0}}});
}

class TestDialog : public CDialog {
public:
    TestDialog() : CDialog(kTestDialog) {}
    CString m_strLabel = "from member";
    CEdit m_edit;
    CButton m_check;
    CProgressCtrl m_progress;
    int clicks = 0;
    int oks = 0;

    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Control(pDX, kEdit, m_edit);
        DDX_Control(pDX, kCheck, m_check);
        DDX_Control(pDX, kProgress, m_progress);
        DDX_Text(pDX, kLabel, m_strLabel);
    }
    void OnOK() override {
        ++oks;
        CDialog::OnOK();
    }
    void OnCheckClicked() { ++clicks; }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialog)
ON_BN_CLICKED(kCheck, &TestDialog::OnCheckClicked)
END_MESSAGE_MAP()

class ToolkitTest : public ::testing::Test {
protected:
    void SetUp() override { registerTestDialog(); }
    ui::HeadlessDriver driver;
};

TEST_F(ToolkitTest, DataExchangeBindsControlsAndMovesTextBothWays) {
    TestDialog dlg;
    ASSERT_TRUE(driver.open(dlg));
    EXPECT_EQ(driver.text(kLabel), "from member");
    ASSERT_NE(dlg.m_edit.m_hWnd, nullptr);

    dlg.GetDlgItem(kLabel)->SetWindowText("typed");
    dlg.UpdateData(TRUE);
    EXPECT_EQ(dlg.m_strLabel, "typed");

    // A second exchange must not rebind or fail on controls already bound.
    dlg.UpdateData(FALSE);
    EXPECT_EQ(ui::window(dlg.m_edit.m_hWnd)->object, &dlg.m_edit);
}

TEST_F(ToolkitTest, ControlsKeepTheirState) {
    TestDialog dlg;
    ASSERT_TRUE(driver.open(dlg));

    dlg.m_edit.SetWindowText("one\r\ntwo\r\nthree");
    EXPECT_EQ(dlg.m_edit.GetLineCount(), 3);
    dlg.m_edit.LineScroll(dlg.m_edit.GetLineCount());
    EXPECT_EQ(dlg.m_edit.GetFirstVisibleLine(), 2);  // never past the last line
    dlg.m_edit.LineScroll(-10);
    EXPECT_EQ(dlg.m_edit.GetFirstVisibleLine(), 0);

    // Text ends at a NUL, as Win32's SetWindowText reads it.
    std::string withNul("ab");
    withNul.push_back('\0');
    withNul += "cd";
    dlg.m_edit.SetWindowText(withNul.c_str());
    EXPECT_EQ(driver.text(kEdit), "ab");

    dlg.m_progress.SetRange32(0, 500);
    EXPECT_EQ(dlg.m_progress.SetPos(200), 0);
    int lo = -1, hi = -1;
    dlg.m_progress.GetRange(lo, hi);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 500);
    dlg.m_progress.SetPos(900);
    EXPECT_EQ(dlg.m_progress.GetPos(), 500);
    dlg.m_progress.SetRange32(0, 1);  // shrinking the range pulls the position in
    EXPECT_EQ(dlg.m_progress.GetPos(), 1);
}

TEST_F(ToolkitTest, ClickingTogglesAutoCheckBoxAndReachesMessageMap) {
    TestDialog dlg;
    ASSERT_TRUE(driver.open(dlg));
    EXPECT_TRUE(driver.click(kCheck));
    EXPECT_TRUE(driver.checked(kCheck));
    EXPECT_EQ(dlg.m_check.GetCheck(), BST_CHECKED);
    EXPECT_TRUE(driver.click(kCheck));
    EXPECT_FALSE(driver.checked(kCheck));
    EXPECT_EQ(dlg.clicks, 2);

    dlg.m_check.EnableWindow(FALSE);
    EXPECT_FALSE(driver.click(kCheck));
    EXPECT_EQ(dlg.clicks, 2);
    EXPECT_FALSE(driver.click(kLabel));  // statics are not clickable
}

TEST_F(ToolkitTest, DialogManagerTurnsEscapeAndCloseIntoCancel) {
    {
        TestDialog dlg;
        ASSERT_TRUE(driver.open(dlg));
        driver.pressEscape();
        EXPECT_FALSE(driver.isOpen());
        EXPECT_EQ(driver.result(), IDCANCEL);
    }
    {
        TestDialog dlg;
        ASSERT_TRUE(driver.open(dlg));
        driver.closeWindow();
        EXPECT_EQ(driver.result(), IDCANCEL);
    }
    {
        TestDialog dlg;
        ASSERT_TRUE(driver.open(dlg));
        dlg.GetDlgItem(IDCANCEL)->EnableWindow(FALSE);
        driver.pressEscape();
        driver.closeWindow();
        EXPECT_TRUE(driver.isOpen());
        EXPECT_EQ(driver.beeps().size(), 2u);
        dlg.GetDlgItem(IDCANCEL)->EnableWindow(TRUE);
        driver.closeWindow();
        EXPECT_FALSE(driver.isOpen());
    }
}

TEST_F(ToolkitTest, EnterPressesTheDefaultButtonUnlessDisabled) {
    TestDialog dlg;
    ASSERT_TRUE(driver.open(dlg));
    dlg.GetDlgItem(IDOK)->EnableWindow(FALSE);
    driver.pressEnter();
    EXPECT_TRUE(driver.isOpen());
    EXPECT_EQ(driver.beeps().size(), 1u);
    EXPECT_EQ(dlg.oks, 0);
    dlg.GetDlgItem(IDOK)->EnableWindow(TRUE);
    driver.pressEnter();
    EXPECT_EQ(dlg.oks, 1);
    EXPECT_EQ(driver.result(), IDOK);

    registerTestDialog(false);
    TestDialog plain;
    ASSERT_TRUE(driver.open(plain));
    driver.pressEnter();  // without a default button Enter means IDOK
    EXPECT_EQ(plain.oks, 1);
}

TEST_F(ToolkitTest, DoModalRunsScriptAndEndsWhenNothingCanHappen) {
    TestDialog dlg;
    driver.setScript([&](ui::HeadlessDriver& d) {
        EXPECT_EQ(d.text(kLabel), "from member");
        d.click(kCheck);
        d.click(IDOK);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.clicks, 1);
    EXPECT_EQ(dlg.m_hWnd, nullptr);
    EXPECT_EQ(dlg.m_edit.m_hWnd, nullptr);  // bound controls are released with the window

    TestDialog idle;
    EXPECT_EQ(idle.DoModal(), -1);
    EXPECT_EQ(CDialog(4999).DoModal(), -1);  // no such template
}

TEST_F(ToolkitTest, TimersTickOnTheVirtualClock) {
    TestDialog dlg;
    ASSERT_TRUE(driver.open(dlg));
    struct Ticker : CWnd {
        int ticks = 0;
        LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
            if (m == WM_TIMER && w == 7) ++ticks;
            return CWnd::WindowProc(m, w, l);
        }
    } ticker;
    ASSERT_TRUE(ticker.SubclassWindow(dlg.GetDlgItem(kLabel)->m_hWnd));
    ticker.SetTimer(7, 250, nullptr);
    driver.advance(249);
    EXPECT_EQ(ticker.ticks, 0);
    driver.advance(1);
    EXPECT_EQ(ticker.ticks, 1);
    driver.advance(1000);
    EXPECT_EQ(ticker.ticks, 5);
    ticker.SetTimer(7, 100, nullptr);  // same id: replaced, not doubled
    driver.advance(300);
    EXPECT_EQ(ticker.ticks, 8);
    EXPECT_TRUE(ticker.KillTimer(7));
    driver.advance(1000);
    EXPECT_EQ(ticker.ticks, 8);
    EXPECT_FALSE(ticker.KillTimer(7));

    ticker.SetTimer(7, 100, nullptr);
    ticker.UnsubclassWindow();
    dlg.EndDialog(IDOK);
    driver.pump();
    EXPECT_EQ(ui::nextTimerDueUs(), UINT64_MAX);  // the window's timers died with it
}

TEST_F(ToolkitTest, MessageBoxesTakeAppNameAndDefaultIcons) {
    CWinApp app("KoralLoader");
    EXPECT_EQ(AfxMessageBox("plain"), IDOK);
    driver.queueMessageBoxAnswer(IDNO);
    EXPECT_EQ(AfxMessageBox("ask", MB_YESNO), IDNO);
    AfxMessageBox("own icon", MB_OKCANCEL | MB_ICONHAND);
    ASSERT_EQ(driver.messageBoxes().size(), 3u);
    EXPECT_EQ(driver.messageBoxes()[0].caption, "KoralLoader");
    EXPECT_EQ(driver.messageBoxes()[0].type, MB_OK | MB_ICONEXCLAMATION);
    EXPECT_EQ(driver.messageBoxes()[1].type, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(driver.messageBoxes()[2].type, MB_OKCANCEL | MB_ICONHAND);
}

TEST_F(ToolkitTest, FileDialogAnswersAndCancels) {
    driver.queueFileDialogAnswer(std::string("backups/KORLDR_INFOA_1.TXT"));
    driver.queueFileDialogAnswer(std::nullopt);
    CFileDialog chosen(TRUE, "TXT", nullptr, OFN_FILEMUSTEXIST, "Text files|*.TXT||");
    EXPECT_EQ(chosen.DoModal(), IDOK);
    EXPECT_EQ(chosen.GetPathName(), "backups/KORLDR_INFOA_1.TXT");
    EXPECT_EQ(chosen.GetFileName(), "KORLDR_INFOA_1.TXT");
    CFileDialog cancelled(TRUE);
    EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
    ASSERT_EQ(driver.fileDialogs().size(), 2u);
    EXPECT_EQ(driver.fileDialogs()[0].request.filter, "Text files|*.TXT||");
    EXPECT_FALSE(driver.fileDialogs()[1].chosen);
}

TEST_F(ToolkitTest, FileDialogCarriesEveryOptionAndItsOwner) {
    const std::string dir = "/tmp/";
    CFileDialog dialog(TRUE, ".TXT", nullptr, OFN_HIDEREADONLY | OFN_NOCHANGEDIR, "Saved InfoA Files|KORLDR_INFOA*.TXT||",
                       nullptr);
    EXPECT_EQ(dialog.m_ofn.hwndOwner, nullptr);
    EXPECT_EQ(std::string(dialog.m_ofn.lpstrFilter, 37), std::string("Saved InfoA Files\0KORLDR_INFOA*.TXT\0", 37));
    dialog.m_ofn.lpstrTitle = "Find a saved InfoA file";
    dialog.m_ofn.lpstrInitialDir = dir.c_str();
    dialog.m_ofn.Flags |= OFN_FILEMUSTEXIST;
    dialog.DoModal();
    ASSERT_EQ(driver.fileDialogs().size(), 1u);
    const ui::FileDialogRequest& r = driver.fileDialogs()[0].request;
    EXPECT_EQ(r.title, "Find a saved InfoA file");
    EXPECT_EQ(r.initialDir, dir);
    EXPECT_EQ(r.defaultExt, "TXT");  // Win32 takes it without the dot
    EXPECT_EQ(r.filter, "Saved InfoA Files|KORLDR_INFOA*.TXT||");
    EXPECT_EQ(r.flags, DWORD(OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST));
    EXPECT_EQ(r.owner, nullptr);

    TestDialog dlg;
    ASSERT_TRUE(driver.open(dlg));
    CFileDialog owned(TRUE, nullptr, nullptr, 0, nullptr, &dlg);
    static const char winFilter[] = "Text\0*.TXT\0All\0*.*\0";
    owned.m_ofn.lpstrFilter = winFilter;  // set in Win32's form
    driver.whileNextBoxShown([&](ui::HeadlessDriver&) { EXPECT_FALSE(dlg.IsWindowEnabled()); });
    owned.DoModal();
    EXPECT_EQ(driver.fileDialogs()[1].request.owner, dlg.m_hWnd);
    EXPECT_EQ(driver.fileDialogs()[1].request.filter, "Text|*.TXT|All|*.*||");
    EXPECT_TRUE(dlg.IsWindowEnabled());
}

TEST(CommandLineTest, FlagsLoseTheirLeadingCharacter) {
    struct Recorder : CCommandLineInfo {
        std::vector<std::string> seen;
        void ParseParam(const char* p, BOOL flag, BOOL last) override {
            seen.push_back(std::string(flag ? "F:" : "P:") + p + (last ? "!" : ""));
            CCommandLineInfo::ParseParam(p, flag, last);
        }
    } info;
    const char* argv[] = {"prog", "/skipservice", "-X", "file.txt", "other"};
    AfxSetCommandLine(5, argv);
    CWinApp app;
    app.ParseCommandLine(info);
    EXPECT_EQ(info.seen, (std::vector<std::string>{"F:skipservice", "F:X", "P:file.txt", "P:other!"}));
    EXPECT_EQ(info.m_strFileName, "file.txt");
    AfxSetCommandLine(0, nullptr);
}

TEST(CStringTest, FormatAndEdit) {
    CString s;
    s.Format("%d%% complete", 42);
    EXPECT_EQ(s, "42% complete");
    CString t = "a\nb\n";
    EXPECT_EQ(t.Replace("\n", "\r\n"), 2);
    EXPECT_EQ(t, "a\r\nb\r\n");
    EXPECT_EQ(t.Remove('\r'), 2);
    EXPECT_EQ(t.Find("b"), 2);
    CString longer;
    longer.Format("%s", std::string(3000, 'x').c_str());
    EXPECT_EQ(longer.GetLength(), 3000);
}

}  // namespace
