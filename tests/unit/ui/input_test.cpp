#include <gtest/gtest.h>

#include "platform/ui/headless.h"

namespace {

constexpr int kDialog = 5100, kPage = 5101;
constexpr int kEdit = 100, kRadioA = 101, kRadioB = 102, kRadioC = 103, kCheck = 104, kApply = 105, kBar = 106;
constexpr int kPageCheck = 200, kPageButton = 201;

void registerTemplates() {
    using ui::Kind;
    constexpr DWORD child = WS_CHILD | WS_VISIBLE;
    ui::registerDialogTemplate(ui::DialogTemplate{
        kDialog, "Input", 200, 120, WS_POPUP | WS_CAPTION, "MS Sans Serif", 8,
        {{kEdit, Kind::Edit, "", 5, 5, 100, 12, child | WS_TABSTOP, 0},
         {kRadioA, Kind::CheckBox, "A", 5, 20, 40, 10, child | WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, 0},
         {kRadioB, Kind::CheckBox, "B", 5, 30, 40, 10, child | BS_AUTORADIOBUTTON, 0},
         {kRadioC, Kind::CheckBox, "C", 5, 40, 40, 10, child | WS_GROUP | BS_AUTORADIOBUTTON, 0},
         {kCheck, Kind::CheckBox, "Tick", 5, 50, 40, 10, child | WS_TABSTOP | BS_AUTOCHECKBOX, 0},
         {kApply, Kind::PushButton, "Apply", 5, 80, 40, 14, child | WS_TABSTOP, 0},
         {IDOK, Kind::PushButton, "OK", 50, 80, 40, 14, child | WS_TABSTOP | BS_DEFPUSHBUTTON, 0},
         {IDCANCEL, Kind::PushButton, "Cancel", 95, 80, 40, 14, child, 0},
         {kBar, Kind::Progress, "", 110, 5, 80, 10, child, 0}}});
    ui::registerDialogTemplate(ui::DialogTemplate{
        kPage, "", 100, 40, WS_CHILD, "MS Sans Serif", 8,
        {{kPageCheck, Kind::CheckBox, "Page tick", 5, 5, 60, 10, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0},
         {kPageButton, Kind::PushButton, "Go", 5, 20, 40, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0}}});
}

class InputDialog : public CDialog {
public:
    InputDialog() : CDialog(kDialog) {}
    std::vector<int> commands;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
        commands.push_back(LOWORD(wParam));
        return CDialog::OnCommand(wParam, lParam);
    }
};

class Page : public CDialog {
public:
    Page() : CDialog(kPage) {}
    std::vector<int> commands;
    BOOL OnCommand(WPARAM wParam, LPARAM) override {
        commands.push_back(LOWORD(wParam));
        return TRUE;
    }
};

class InputTest : public ::testing::Test {
protected:
    void SetUp() override {
        registerTemplates();
        ASSERT_TRUE(driver.open(dlg));
    }
    ui::HeadlessDriver driver;
    InputDialog dlg;
};

TEST_F(InputTest, TabVisitsReachableTabStopsInTemplateOrderAndWraps) {
    EXPECT_EQ(driver.focusedId(), kEdit);  // the first tab stop starts with the focus
    std::vector<int> seen;
    for (int i = 0; i < 6; ++i) {
        driver.press(ui::Key::Tab);
        seen.push_back(driver.focusedId());
    }
    EXPECT_EQ(seen, (std::vector<int>{kRadioA, kCheck, kApply, IDOK, kEdit, kRadioA}));
    driver.press(ui::Key::BackTab);
    driver.press(ui::Key::BackTab);
    EXPECT_EQ(driver.focusedId(), IDOK);

    // Disabled and hidden stops are passed over.
    dlg.GetDlgItem(kCheck)->EnableWindow(FALSE);
    dlg.GetDlgItem(kApply)->ShowWindow(SW_HIDE);
    driver.press(ui::Key::Tab);
    driver.press(ui::Key::Tab);
    EXPECT_EQ(driver.focusedId(), kRadioA);
    driver.press(ui::Key::Tab);
    EXPECT_EQ(driver.focusedId(), IDOK);

    // A child dialog's stops count only when a control parent lets the keyboard in.
    Page page;
    ASSERT_TRUE(page.Create(kPage, &dlg));
    page.ShowWindow(SW_SHOW);
    EXPECT_EQ(ui::tabOrder(dlg.m_hWnd).size(), 3u);
    dlg.ModifyStyleEx(0, WS_EX_CONTROLPARENT);
    std::vector<HWND> stops = ui::tabOrder(dlg.m_hWnd);
    ASSERT_EQ(stops.size(), 5u);
    EXPECT_EQ(stops.back(), page.GetDlgItem(kPageButton)->m_hWnd);
    page.ShowWindow(SW_HIDE);
    EXPECT_EQ(ui::tabOrder(dlg.m_hWnd).size(), 3u);
}

TEST_F(InputTest, EnterPressesTheFocusedButtonElseTheDefaultSpaceClicksTheFocusedOne) {
    ASSERT_TRUE(ui::setFocus(dlg.GetDlgItem(kApply)->m_hWnd));
    EXPECT_EQ(ui::defaultButton(dlg.m_hWnd), dlg.GetDlgItem(kApply)->m_hWnd);
    driver.pressEnter();
    EXPECT_EQ(dlg.commands, std::vector<int>{kApply});
    EXPECT_TRUE(driver.isOpen());

    ASSERT_TRUE(ui::setFocus(dlg.GetDlgItem(kCheck)->m_hWnd));
    EXPECT_TRUE(driver.press(ui::Key::Space));
    EXPECT_TRUE(driver.checked(kCheck));
    ASSERT_TRUE(ui::setFocus(dlg.GetDlgItem(kEdit)->m_hWnd));
    EXPECT_FALSE(driver.press(ui::Key::Space));  // an edit box is no button

    driver.pressEnter();  // focus on no push button: the default one
    EXPECT_EQ(dlg.commands, (std::vector<int>{kApply, kCheck, IDOK}));
    EXPECT_FALSE(driver.isOpen());
    EXPECT_EQ(driver.result(), IDOK);
}

TEST_F(InputTest, EscapeSendsCancelWhateverHasTheFocus) {
    ASSERT_TRUE(ui::setFocus(dlg.GetDlgItem(kApply)->m_hWnd));
    driver.pressEscape();
    EXPECT_EQ(dlg.commands, std::vector<int>{IDCANCEL});
    EXPECT_EQ(driver.result(), IDCANCEL);
    EXPECT_TRUE(driver.beeps().empty());
}

TEST_F(InputTest, ClicksReachOnlyShownEnabledButtonsInShownDialogs) {
    CWnd* check = dlg.GetDlgItem(kCheck);
    check->EnableWindow(FALSE);
    EXPECT_FALSE(driver.click(kCheck));
    check->EnableWindow(TRUE);
    check->ShowWindow(SW_HIDE);
    EXPECT_FALSE(driver.click(kCheck));
    check->ShowWindow(SW_SHOW);
    EXPECT_FALSE(driver.click(kEdit));  // not a button

    Page page;
    ASSERT_TRUE(page.Create(kPage, &dlg));  // created hidden
    HWND inHidden = page.GetDlgItem(kPageButton)->m_hWnd;
    EXPECT_FALSE(ui::canTakeInput(inHidden));
    EXPECT_FALSE(ui::click(inHidden));
    page.ShowWindow(SW_SHOW);
    dlg.EnableWindow(FALSE);  // a disabled dialog takes no input anywhere inside
    EXPECT_FALSE(ui::click(inHidden));
    EXPECT_FALSE(driver.press(ui::Key::Enter));
    dlg.EnableWindow(TRUE);
    EXPECT_TRUE(ui::click(inHidden));
    EXPECT_EQ(page.commands, std::vector<int>{kPageButton});  // to the control's own parent
    EXPECT_TRUE(dlg.commands.empty());
}

TEST_F(InputTest, RadioButtonsCheckOnlyThemselvesWithinTheirGroup) {
    EXPECT_TRUE(driver.click(kRadioC));
    EXPECT_TRUE(driver.click(kRadioA));
    EXPECT_TRUE(driver.checked(kRadioA));
    EXPECT_TRUE(driver.checked(kRadioC));  // another group
    EXPECT_TRUE(driver.click(kRadioB));
    EXPECT_FALSE(driver.checked(kRadioA));
    EXPECT_TRUE(driver.checked(kRadioB));
    EXPECT_TRUE(driver.click(kRadioB));  // clicking the checked one keeps it
    EXPECT_TRUE(driver.checked(kRadioB));
    EXPECT_EQ(dlg.commands, (std::vector<int>{kRadioC, kRadioA, kRadioB, kRadioB}));
}

// Records change notices; everything else goes to the driver.
struct NoticeRecorder : ui::Backend {
    explicit NoticeRecorder(ui::HeadlessDriver& d) : driver(d) { ui::setBackend(this); }
    ~NoticeRecorder() override { ui::setBackend(&driver); }
    void windowChanged(HWND h, unsigned what) override { notices.emplace_back(h, what); }
    int messageBox(const ui::MessageBoxRequest& r) override { return driver.messageBox(r); }
    bool fileDialog(ui::FileDialogRequest& r) override { return driver.fileDialog(r); }
    void beep(UINT type) override { driver.beep(type); }
    bool waitForInput(HWND h) override { return driver.waitForInput(h); }
    // What the notices for `h` said since the last call.
    unsigned take(HWND h) {
        unsigned all = 0;
        for (auto [w, what] : notices) all |= w == h ? what : 0;
        notices.clear();
        return all;
    }
    ui::HeadlessDriver& driver;
    std::vector<std::pair<HWND, unsigned>> notices;
};

TEST_F(InputTest, ChangeNoticesSayWhatChanged) {
    NoticeRecorder rec(driver);
    CWnd* edit = dlg.GetDlgItem(kEdit);
    HWND h = edit->m_hWnd;
    edit->SetWindowText("x");
    EXPECT_EQ(rec.take(h), ui::change::Text);
    edit->EnableWindow(FALSE);
    EXPECT_EQ(rec.take(h), ui::change::Enabled);
    edit->EnableWindow(FALSE);  // no change, no notice
    EXPECT_EQ(rec.take(h), 0u);
    edit->ShowWindow(SW_HIDE);
    EXPECT_EQ(rec.take(h), ui::change::Visible);
    edit->SetWindowPos(nullptr, 1, 2, 0, 0, SWP_NOSIZE);
    EXPECT_EQ(rec.take(h), ui::change::Rect);
    driver.click(kCheck);
    EXPECT_EQ(rec.take(dlg.GetDlgItem(kCheck)->m_hWnd), ui::change::Checked | ui::change::Focus);

    CProgressCtrl bar;
    ASSERT_TRUE(bar.SubclassWindow(dlg.GetDlgItem(kBar)->m_hWnd));
    bar.SetRange32(0, 10);
    EXPECT_EQ(rec.take(bar.m_hWnd), ui::change::Range | ui::change::Position);
    bar.SetPos(3);
    EXPECT_EQ(rec.take(bar.m_hWnd), ui::change::Position);
    bar.UnsubclassWindow();
}

}  // namespace
