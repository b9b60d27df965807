#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/headless.h"
#include "wizard/new_wiz_dialog.h"

namespace {

using Log = std::vector<std::string>;

class TestPage : public CNewWizPage {
public:
    TestPage(std::string name, Log& log) : CNewWizPage(0), name_(std::move(name)), log_(log) {}

    int next = 0, back = 0;
    BOOL leave = TRUE, query = TRUE, finish = TRUE, created = TRUE;
    bool disableNextOnEnter = false;
    bool sawActivePageOnEnter = false;

    BOOL OnPageCreated() override { return note("created"), created; }
    void OnPageDestroying() override { note("destroying"); }
    BOOL OnLeavePage() override { return note("leave"), leave; }
    void OnEnterPage() override {
        note("enter");
        if (m_pWizard->GetActivePage()) sawActivePageOnEnter = true;
        if (disableNextOnEnter) m_pWizard->EnableNext(FALSE);
    }
    BOOL OnQueryCancel() override { return note("query"), query; }
    int OnBackRequest() override { return note("back?"), back; }
    int OnNextRequest() override { return note("next?"), next; }
    BOOL OnFinishRequest() override { return note("finish?"), finish; }

    int count(const std::string& what) const {
        int n = 0;
        for (const auto& e : log_) n += e == name_ + ":" + what;
        return n;
    }

private:
    void note(const char* what) { log_.push_back(name_ + ":" + what); }
    std::string name_;
    Log& log_;
};

class TestWizard : public CNewWizDialog {
public:
    explicit TestWizard(UINT templateId = 131) : CNewWizDialog(templateId) {}
    int saves = 0;
    void DoDataExchange(CDataExchange* pDX) override { saves += pDX->m_bSaveAndValidate ? 1 : 0; }
    BOOL OnInitDialog() override {
        SetPlaceholderID(1010);
        return CNewWizDialog::OnInitDialog();
    }
};

// Page templates of the program, used here only as distinct windows.
constexpr UINT kTemplates[] = {136, 141, 142, 143, 139};

class WizardTest : public ::testing::Test {
protected:
    // Adds n pages named A, B, C, ... with the templates above.
    void addPages(int n) {
        for (int i = 0; i < n; ++i) {
            pages.push_back(std::make_unique<TestPage>(std::string(1, char('A' + i)), log));
            wizard.AddPage(pages.back().get(), kTemplates[i]);
        }
    }
    TestPage& page(int i) { return *pages[size_t(i)]; }
    bool back() const { return driver.enabled(ID_WIZBACK); }
    bool next() const { return driver.enabled(ID_WIZNEXT); }
    // The page whose window is shown, checked against the flags.
    int shown() const {
        int found = -1;
        for (size_t i = 0; i < pages.size(); ++i) {
            ui::Window* w = ui::window(pages[i]->m_hWnd);
            if (w && w->visible()) {
                EXPECT_EQ(found, -1) << "two pages shown";
                found = int(i);
            }
            EXPECT_EQ(bool(pages[i]->m_bActive), w && w->visible());
        }
        return found;
    }

    ui::HeadlessDriver driver;
    Log log;
    TestWizard wizard;
    std::vector<std::unique_ptr<TestPage>> pages;
};

TEST_F(WizardTest, StartButtonsDependOnPageCount) {
    addPages(1);
    ASSERT_TRUE(driver.open(wizard));
    EXPECT_EQ(shown(), 0);
    EXPECT_FALSE(back());
    EXPECT_FALSE(next());
    EXPECT_EQ(wizard.GetExStyle() & WS_EX_CONTROLPARENT, WS_EX_CONTROLPARENT);
    EXPECT_EQ(page(0).m_pWizard, &wizard);
}

TEST_F(WizardTest, SeveralPagesStartWithNextUnlessFirstPageDisablesIt) {
    addPages(3);
    ASSERT_TRUE(driver.open(wizard));
    EXPECT_FALSE(back());
    EXPECT_TRUE(next());
    EXPECT_EQ(page(1).m_pWizard, nullptr);  // not activated yet
    EXPECT_FALSE(page(1).m_bCreated);
    driver.pressEscape();

    TestWizard second;
    TestPage first("X", log), other("Y", log);
    first.disableNextOnEnter = true;
    second.AddPage(&first, 136);
    second.AddPage(&other, 141);
    ASSERT_TRUE(driver.open(second));
    EXPECT_FALSE(driver.enabled(ID_WIZNEXT));
}

TEST_F(WizardTest, NextInListOrderOntoLastPageDisablesNext) {
    addPages(3);
    ASSERT_TRUE(driver.open(wizard));
    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    EXPECT_EQ(shown(), 1);
    EXPECT_TRUE(back());
    EXPECT_TRUE(next());
    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    EXPECT_EQ(shown(), 2);
    EXPECT_TRUE(back());
    EXPECT_FALSE(next());
    EXPECT_FALSE(driver.click(ID_WIZNEXT));  // a disabled button cannot be pressed
}

TEST_F(WizardTest, BackOntoFirstPageDisablesBackAndLeavesNext) {
    addPages(3);
    ASSERT_TRUE(driver.open(wizard));
    driver.click(ID_WIZNEXT);
    driver.click(ID_WIZNEXT);
    ASSERT_FALSE(next());
    driver.click(ID_WIZBACK);
    EXPECT_EQ(shown(), 1);
    EXPECT_TRUE(back());
    EXPECT_FALSE(next());  // Back never touches Next
    driver.click(ID_WIZBACK);
    EXPECT_EQ(shown(), 0);
    EXPECT_FALSE(back());
    EXPECT_FALSE(next());
}

TEST_F(WizardTest, JumpSkipsPagesAndBackGoesToTheTargetsNeighbour) {
    addPages(4);
    page(1).next = 143;  // template of page D, the last
    ASSERT_TRUE(driver.open(wizard));
    driver.click(ID_WIZNEXT);
    driver.click(ID_WIZNEXT);
    EXPECT_EQ(shown(), 3);
    EXPECT_FALSE(page(2).m_bCreated);  // passed over, never created
    EXPECT_FALSE(next());  // landing on the last page by a jump disables Next too
    EXPECT_TRUE(back());
    driver.click(ID_WIZBACK);
    EXPECT_EQ(shown(), 2);
    EXPECT_EQ(page(2).count("created"), 1);
    EXPECT_TRUE(back());
}

TEST_F(WizardTest, MinusOneAndUnknownTargetsKeepPageAndButtons) {
    addPages(3);
    ASSERT_TRUE(driver.open(wizard));
    driver.click(ID_WIZNEXT);
    page(1).next = -1;
    page(1).back = -1;
    log.clear();
    driver.click(ID_WIZNEXT);
    driver.click(ID_WIZBACK);
    page(1).next = 4242;  // names no page
    driver.click(ID_WIZNEXT);
    EXPECT_EQ(shown(), 1);
    EXPECT_TRUE(back());
    EXPECT_TRUE(next());
    EXPECT_EQ(log, (Log{"B:next?", "B:back?", "B:next?"}));  // nobody was asked to leave
}

TEST_F(WizardTest, PageThatRefusesToLeaveKeepsWizardWhereItIs) {
    addPages(3);
    ASSERT_TRUE(driver.open(wizard));
    driver.click(ID_WIZNEXT);
    page(1).leave = FALSE;
    driver.click(ID_WIZNEXT);
    EXPECT_EQ(shown(), 1);
    EXPECT_TRUE(next());
    driver.click(ID_WIZBACK);
    EXPECT_EQ(shown(), 1);
    EXPECT_TRUE(back());
    EXPECT_EQ(page(2).count("enter"), 0);
    // The target's window was made before the current page was asked.
    EXPECT_TRUE(page(2).m_bCreated);
}

TEST_F(WizardTest, FailedCreationLeavesTheCurrentPageShown) {
    addPages(2);
    TestPage broken("Z", log);
    wizard.AddPage(&broken, 4242);  // no such template
    page(1).created = FALSE;
    ASSERT_TRUE(driver.open(wizard));

    driver.click(ID_WIZNEXT);  // B's OnPageCreated refuses
    EXPECT_EQ(shown(), 0);
    EXPECT_TRUE(page(1).m_bCreated);
    EXPECT_FALSE(back());
    EXPECT_EQ(page(0).count("leave"), 0);

    driver.click(ID_WIZNEXT);  // its window exists now, so it is shown
    EXPECT_EQ(shown(), 1);
    EXPECT_EQ(page(1).count("created"), 1);

    driver.click(ID_WIZNEXT);
    EXPECT_EQ(shown(), 1);
    EXPECT_FALSE(broken.m_bCreated);
    EXPECT_TRUE(next());
}

TEST_F(WizardTest, PageShownAgainIsEnteredAgainButCreatedOnce) {
    addPages(3);
    ASSERT_TRUE(driver.open(wizard));
    driver.click(ID_WIZNEXT);
    driver.click(ID_WIZBACK);
    driver.click(ID_WIZNEXT);
    EXPECT_EQ(page(1).count("created"), 1);
    EXPECT_EQ(page(1).count("enter"), 2);
    EXPECT_EQ(page(0).count("created"), 1);
    EXPECT_EQ(page(0).count("enter"), 2);
    EXPECT_EQ(page(0).count("leave"), 2);
    // Hidden pages keep their window, enabled.
    EXPECT_TRUE(ui::window(page(0).m_hWnd)->enabled());
}

TEST_F(WizardTest, NoPageIsActiveDuringOnEnterPage) {
    addPages(2);
    ASSERT_TRUE(driver.open(wizard));
    driver.click(ID_WIZNEXT);
    driver.click(ID_WIZBACK);
    EXPECT_FALSE(page(0).sawActivePageOnEnter);
    EXPECT_FALSE(page(1).sawActivePageOnEnter);
    EXPECT_EQ(wizard.GetActivePage(), &page(0));
}

TEST_F(WizardTest, GoNextMovesOnWithoutAskingAndLeavesNextAlone) {
    addPages(3);
    ASSERT_TRUE(driver.open(wizard));
    driver.click(ID_WIZNEXT);
    log.clear();
    wizard.GoNext();
    EXPECT_EQ(shown(), 2);
    EXPECT_TRUE(next());  // even on the last page
    EXPECT_TRUE(back());
    EXPECT_EQ(page(1).count("next?"), 0);
    EXPECT_EQ(page(1).count("leave"), 1);
    wizard.GoNext();  // no next page: nothing happens
    EXPECT_EQ(shown(), 2);
    EXPECT_EQ(wizard.GetNextPage(), nullptr);
}

TEST_F(WizardTest, HiddenPageObjectingToCancelKeepsWizardOpen) {
    addPages(4);
    ASSERT_TRUE(driver.open(wizard));
    driver.click(ID_WIZNEXT);
    driver.click(ID_WIZNEXT);  // A, B, C created; D never
    page(1).query = FALSE;
    log.clear();
    driver.click(IDCANCEL);
    EXPECT_TRUE(driver.isOpen());
    EXPECT_EQ(log, (Log{"A:query", "B:query"}));

    page(1).query = TRUE;
    log.clear();
    driver.pressEscape();
    EXPECT_FALSE(driver.isOpen());
    EXPECT_EQ(driver.result(), IDCANCEL);
    // Every created page is asked to leave and then destroyed; the never-created one is not.
    EXPECT_EQ(log, (Log{"A:query", "B:query", "C:query", "A:leave", "A:destroying", "B:leave", "B:destroying",
                        "C:leave", "C:destroying"}));
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(page(i).m_bCreated);
        EXPECT_FALSE(page(i).m_bActive);
        EXPECT_EQ(page(i).m_hWnd, nullptr);
    }
}

TEST_F(WizardTest, DisabledCloseBlocksEscapeAndTheCloseBox) {
    addPages(2);
    ASSERT_TRUE(driver.open(wizard));
    wizard.GetDlgItem(IDCANCEL)->EnableWindow(FALSE);
    driver.pressEscape();
    driver.closeWindow();
    EXPECT_TRUE(driver.isOpen());
    EXPECT_EQ(driver.beeps().size(), 2u);
    EXPECT_EQ(page(0).count("query"), 0);
    driver.pressEnter();  // Next is the default button
    EXPECT_EQ(shown(), 1);
}

TEST_F(WizardTest, FinishAsksActivePageThenEveryCreatedPage) {
    addPages(3);
    ASSERT_TRUE(driver.open(wizard));
    driver.click(ID_WIZNEXT);
    auto finish = [&] {
        wizard.SendMessage(WM_COMMAND, MAKEWPARAM(ID_WIZFINISH, BN_CLICKED), 0);
        driver.pump();
    };
    page(1).leave = FALSE;
    log.clear();
    finish();
    EXPECT_TRUE(driver.isOpen());
    EXPECT_EQ(log, (Log{"B:leave"}));

    page(1).leave = TRUE;
    page(0).finish = FALSE;
    log.clear();
    finish();
    EXPECT_TRUE(driver.isOpen());
    EXPECT_EQ(log, (Log{"B:leave", "A:finish?"}));
    EXPECT_EQ(shown(), 1);  // nothing was hidden

    page(0).finish = TRUE;
    log.clear();
    finish();
    EXPECT_FALSE(driver.isOpen());
    EXPECT_EQ(driver.result(), int(ID_WIZFINISH));
    EXPECT_EQ(wizard.saves, 1);
    EXPECT_EQ(page(2).count("finish?"), 0);
}

TEST_F(WizardTest, PageRefusingToLeaveAtDestructionIsNotDestroyingItself) {
    addPages(2);
    ASSERT_TRUE(driver.open(wizard));
    driver.click(ID_WIZNEXT);
    page(1).leave = FALSE;
    driver.pressEscape();
    EXPECT_FALSE(driver.isOpen());
    EXPECT_EQ(page(1).count("destroying"), 0);
    EXPECT_TRUE(page(1).m_bCreated);
    EXPECT_EQ(page(1).m_hWnd, nullptr);  // the window went with the wizard's
    EXPECT_EQ(page(0).count("destroying"), 1);
}

TEST_F(WizardTest, PagesArePlacedAtThePlaceholderWithTheirOwnSize) {
    ui::DialogTemplate frame = *ui::findDialogTemplate(131);
    frame.id = 6131;
    for (auto& c : frame.controls) {
        if (c.id == 1010) c.x = 12, c.y = 7;
    }
    ui::registerDialogTemplate(frame);
    TestWizard moved(6131);
    TestPage p("P", log);
    moved.AddPage(&p, 136);
    ASSERT_TRUE(driver.open(moved));
    RECT r = ui::window(p.m_hWnd)->rect;
    EXPECT_EQ(r.left, 12);
    EXPECT_EQ(r.top, 7);
    EXPECT_EQ(r.right - r.left, 321);
    EXPECT_EQ(r.bottom - r.top, 193);
}

TEST_F(WizardTest, PagesPaintTheirControlsBlackOnWhite) {
    addPages(1);
    ASSERT_TRUE(driver.open(wizard));
    CDC dc;
    HBRUSH brush = AfxQueryCtlColor(page(0).GetDlgItem(1018)->m_hWnd, dc);
    ASSERT_NE(brush, nullptr);
    EXPECT_EQ(*CBrush::ColorOf(brush), RGB(255, 255, 255));
    EXPECT_EQ(dc.GetTextColor(), RGB(0, 0, 0));
    EXPECT_EQ(dc.GetBkColor(), RGB(255, 255, 255));

    CDC untouched;
    EXPECT_EQ(AfxQueryCtlColor(page(0).m_hWnd, untouched), brush);
    EXPECT_FALSE(untouched.touched());
}

TEST_F(WizardTest, PageOwnEnterAndEscapeDoNothing) {
    addPages(2);
    ASSERT_TRUE(driver.open(wizard));
    page(0).SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    page(0).SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    driver.pump();
    EXPECT_TRUE(driver.isOpen());
    EXPECT_EQ(shown(), 0);
}

}  // namespace

namespace {

TEST_F(WizardTest, KeyboardReachesTheShownPagesControlsOnlyEnterIsNext) {
    addPages(3);  // welcome 136 (no tab stop), connect 141, service mode 142 (check box 1050)
    ASSERT_TRUE(driver.open(wizard));
    EXPECT_FALSE(driver.press(ui::Key::Tab));  // the wizard's buttons are no tab stops
    driver.pressEnter();
    driver.pressEnter();
    ASSERT_EQ(shown(), 2);
    EXPECT_TRUE(driver.press(ui::Key::Tab));
    EXPECT_EQ(driver.focusedId(), 1050);
    EXPECT_TRUE(driver.press(ui::Key::Space));
    EXPECT_TRUE(driver.checked(1050));
    driver.click(ID_WIZBACK);
    EXPECT_EQ(driver.focusedId(), 0);  // the hidden page's box has lost the keyboard
    EXPECT_FALSE(driver.press(ui::Key::Space));
}

}  // namespace
