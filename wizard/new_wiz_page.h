#pragma once
// One page of a CNewWizDialog: a modeless child dialog the wizard creates, shows and hides, and
// asks through the hooks below whether and where to go.
#include "platform/ui/afxwin.h"

class CNewWizDialog;

class CNewWizPage : public CDialog {
public:
    explicit CNewWizPage(UINT templateId = 0, CWnd* parent = nullptr);

    // FALSE aborts the activation; the window stays created and hidden.
    virtual BOOL OnPageCreated() { return TRUE; }
    virtual void OnPageDestroying() {}
    // FALSE keeps the page; also asked before Finish and before the window is destroyed.
    virtual BOOL OnLeavePage() { return TRUE; }
    virtual void OnEnterPage() {}
    virtual BOOL OnQueryCancel() { return TRUE; }
    // 0: neighbour in the list; -1: stay; anything else: the template id of the page to show.
    virtual int OnBackRequest() { return 0; }
    virtual int OnNextRequest() { return 0; }
    virtual BOOL OnFinishRequest() { return TRUE; }

    BOOL OnInitDialog() override;
    // Enter and Escape never end a page's own dialog.
    void OnOK() override {}
    void OnCancel() override {}

    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);

    CNewWizDialog* m_pWizard = nullptr;
    BOOL m_bCreated = FALSE;
    BOOL m_bActive = FALSE;
    UINT m_nTemplateID;
    CBrush m_brushBackground;

    DECLARE_MESSAGE_MAP()
};
