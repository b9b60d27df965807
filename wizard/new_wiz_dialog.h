#pragma once
// A modal dialog that shows one of an ordered list of pages at a time, at the place of a
// placeholder control, and moves between them with Back, Next, Close and Finish.
#include <vector>

#include "platform/ui/afxwin.h"
#include "wizard/new_wiz_page.h"

constexpr UINT ID_WIZBACK = 12323;
constexpr UINT ID_WIZNEXT = 12324;
constexpr UINT ID_WIZFINISH = 12325;

class CNewWizDialog : public CDialog {
public:
    explicit CNewWizDialog(UINT templateId, CWnd* parent = nullptr);

    void SetPlaceholderID(UINT id) { m_nPlaceholderID = id; }
    // The wizard does not own the page; it creates and destroys only the page's window.
    void AddPage(CNewWizPage* page, UINT templateId);

    void EnableBack(BOOL enable);
    void EnableNext(BOOL enable);
    void EnableFinish(BOOL enable);
    void SetFinishText(const char* text);

    CNewWizPage* GetFirstPage() const;
    CNewWizPage* GetLastPage() const;
    CNewWizPage* GetActivePage() const;
    CNewWizPage* GetNextPage() const;
    CNewWizPage* FindPageByTemplate(UINT id) const;
    int GetPageCount() const { return int(m_pages.size()); }
    CNewWizPage* GetPageAt(int index) const;
    int GetPageIndex(const CNewWizPage* page) const;
    int GetActiveIndex() const { return GetPageIndex(GetActivePage()); }

    BOOL ActivatePage(CNewWizPage* page);
    BOOL DeactivateActivePage();
    BOOL SetActivePage(CNewWizPage* page) { return ActivatePage(page); }
    BOOL SetActivePage(int index) { return ActivatePage(GetPageAt(index)); }
    BOOL SetActivePageByTemplate(UINT id);
    // Moves on without asking the active page's OnNextRequest.
    void GoNext();

protected:
    BOOL OnInitDialog() override;
    void OnCancel() override;
    void OnDestroy();
    void OnFinishClicked();
    void OnBackClicked();
    void OnNextClicked();

    std::vector<CNewWizPage*> m_pages;
    UINT m_nPlaceholderID = 0;

    DECLARE_MESSAGE_MAP()

private:
    void ActivateFirstPage();
    void DestroyPage(CNewWizPage* page);
    void EnableControl(UINT id, BOOL enable);
};
