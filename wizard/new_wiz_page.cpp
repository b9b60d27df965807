#include "wizard/new_wiz_page.h"

BEGIN_MESSAGE_MAP(CNewWizPage, CDialog)
ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

CNewWizPage::CNewWizPage(UINT templateId, CWnd* parent) : CDialog(templateId, parent), m_nTemplateID(templateId) {}

BOOL CNewWizPage::OnInitDialog() {
    CDialog::OnInitDialog();
    if (!HBRUSH(m_brushBackground)) m_brushBackground.CreateSolidBrush(RGB(255, 255, 255));
    return TRUE;
}

HBRUSH CNewWizPage::OnCtlColor(CDC* dc, CWnd*, UINT ctlColor) {
    switch (ctlColor) {
    case CTLCOLOR_EDIT:
    case CTLCOLOR_LISTBOX:
    case CTLCOLOR_BTN:
    case CTLCOLOR_SCROLLBAR:
    case CTLCOLOR_STATIC:
        dc->SetTextColor(RGB(0, 0, 0));
        dc->SetBkColor(RGB(255, 255, 255));
        break;
    default: break;
    }
    return m_brushBackground;
}
