#include "wizard/new_wiz_dialog.h"

#include <algorithm>

BEGIN_MESSAGE_MAP(CNewWizDialog, CDialog)
ON_WM_DESTROY()
ON_COMMAND(ID_WIZFINISH, &CNewWizDialog::OnFinishClicked)
ON_COMMAND(ID_WIZBACK, &CNewWizDialog::OnBackClicked)
ON_COMMAND(ID_WIZNEXT, &CNewWizDialog::OnNextClicked)
ON_COMMAND(IDCANCEL, &CNewWizDialog::OnCancel)
END_MESSAGE_MAP()

CNewWizDialog::CNewWizDialog(UINT templateId, CWnd* parent) : CDialog(templateId, parent) {}

void CNewWizDialog::AddPage(CNewWizPage* page, UINT templateId) {
    if (!page) return;
    m_pages.push_back(page);
    page->m_nTemplateID = templateId;
}

void CNewWizDialog::EnableControl(UINT id, BOOL enable) {
    if (CWnd* control = GetDlgItem(int(id))) control->EnableWindow(enable);
}
void CNewWizDialog::EnableBack(BOOL enable) { EnableControl(ID_WIZBACK, enable); }
void CNewWizDialog::EnableNext(BOOL enable) { EnableControl(ID_WIZNEXT, enable); }
void CNewWizDialog::EnableFinish(BOOL enable) { EnableControl(ID_WIZFINISH, enable); }
void CNewWizDialog::SetFinishText(const char* text) {
    if (CWnd* control = GetDlgItem(int(ID_WIZFINISH))) control->SetWindowText(text);
}

CNewWizPage* CNewWizDialog::GetFirstPage() const { return m_pages.empty() ? nullptr : m_pages.front(); }
CNewWizPage* CNewWizDialog::GetLastPage() const { return m_pages.empty() ? nullptr : m_pages.back(); }

CNewWizPage* CNewWizDialog::GetActivePage() const {
    for (CNewWizPage* page : m_pages) {
        if (page->m_bActive) return page;
    }
    return nullptr;
}

CNewWizPage* CNewWizDialog::GetNextPage() const {
    int index = GetActiveIndex();
    if (index < 0) return nullptr;
    return GetPageAt(index + 1);
}

CNewWizPage* CNewWizDialog::FindPageByTemplate(UINT id) const {
    for (CNewWizPage* page : m_pages) {
        if (page->m_nTemplateID == id) return page;
    }
    return nullptr;
}

CNewWizPage* CNewWizDialog::GetPageAt(int index) const {
    return index >= 0 && index < int(m_pages.size()) ? m_pages[size_t(index)] : nullptr;
}

int CNewWizDialog::GetPageIndex(const CNewWizPage* page) const {
    auto it = std::find(m_pages.begin(), m_pages.end(), page);
    return page && it != m_pages.end() ? int(it - m_pages.begin()) : -1;
}

BOOL CNewWizDialog::SetActivePageByTemplate(UINT id) {
    if (!DeactivateActivePage()) return FALSE;
    return ActivatePage(FindPageByTemplate(id));
}

BOOL CNewWizDialog::ActivatePage(CNewWizPage* page) {
    if (!page) return FALSE;
    // Created before the current page is asked to leave, so a page that cannot be created
    // leaves the current one shown.
    if (!page->m_bCreated) {
        page->m_pWizard = this;
        if (!page->Create(page->m_nTemplateID, this)) return FALSE;
        page->m_bCreated = TRUE;
        if (!page->OnPageCreated()) return FALSE;
    }
    if (!DeactivateActivePage()) return FALSE;

    POINT origin{0, 0};
    if (CWnd* placeholder = GetDlgItem(int(m_nPlaceholderID))) {
        RECT r;
        placeholder->GetWindowRect(&r);
        ScreenToClient(&r);
        origin = POINT{r.left, r.top};
    }
    page->SetWindowPos(nullptr, origin.x, origin.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    page->EnableWindow(TRUE);
    page->ShowWindow(SW_SHOW);
    page->Invalidate(TRUE);
    page->UpdateWindow();
    page->OnEnterPage();
    // Only now: during OnEnterPage no page is the active one.
    page->m_bActive = TRUE;
    return TRUE;
}

BOOL CNewWizDialog::DeactivateActivePage() {
    CNewWizPage* active = GetActivePage();
    if (!active) return TRUE;
    if (!active->OnLeavePage()) return FALSE;
    active->ShowWindow(SW_HIDE);
    active->m_bActive = FALSE;
    return TRUE;
}

BOOL CNewWizDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    ModifyStyleEx(0, WS_EX_CONTROLPARENT);
    ActivateFirstPage();
    return TRUE;
}

void CNewWizDialog::ActivateFirstPage() {
    CNewWizPage* first = GetFirstPage();
    if (!DeactivateActivePage()) return;
    // Set before the page is shown, so its OnEnterPage has the last word.
    EnableBack(FALSE);
    EnableNext(m_pages.size() > 1);
    ActivatePage(first);
}

void CNewWizDialog::OnNextClicked() {
    CNewWizPage* active = GetActivePage();
    if (!active) return;
    int r = active->OnNextRequest();
    if (r == -1) return;
    CNewWizPage* target = r == 0 ? GetNextPage() : FindPageByTemplate(UINT(r));
    if (!target || !ActivatePage(target)) return;
    if (target == GetLastPage()) EnableNext(FALSE);
    EnableBack(TRUE);
}

void CNewWizDialog::OnBackClicked() {
    CNewWizPage* active = GetActivePage();
    if (!active) return;
    int r = active->OnBackRequest();
    if (r == -1) return;
    CNewWizPage* target = r == 0 ? GetPageAt(GetPageIndex(active) - 1) : FindPageByTemplate(UINT(r));
    if (!target || !ActivatePage(target)) return;
    if (target == GetFirstPage()) EnableBack(FALSE);
}

void CNewWizDialog::GoNext() {
    CNewWizPage* next = GetNextPage();
    if (next && ActivatePage(next)) EnableBack(TRUE);
}

void CNewWizDialog::OnCancel() {
    for (CNewWizPage* page : m_pages) {
        if (page->m_bCreated && !page->OnQueryCancel()) return;
    }
    CDialog::OnCancel();
}

void CNewWizDialog::OnFinishClicked() {
    if (CNewWizPage* active = GetActivePage(); active && !active->OnLeavePage()) return;
    for (CNewWizPage* page : m_pages) {
        if (page->m_bCreated && !page->OnFinishRequest()) return;
    }
    UpdateData(TRUE);
    EndDialog(int(ID_WIZFINISH));
}

void CNewWizDialog::DestroyPage(CNewWizPage* page) {
    if (!page->m_bCreated) return;
    // A page that refuses keeps its flags; its window goes with the wizard's.
    if (!page->OnLeavePage()) return;
    page->OnPageDestroying();
    page->DestroyWindow();
    page->m_bCreated = FALSE;
    page->m_bActive = FALSE;
}

void CNewWizDialog::OnDestroy() {
    for (CNewWizPage* page : m_pages) DestroyPage(page);
    CDialog::OnDestroy();
}
