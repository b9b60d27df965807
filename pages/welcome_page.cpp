#include "pages/welcome_page.h"

#include "wizard/new_wiz_dialog.h"

CWelcomePage::CWelcomePage() : CNewWizPage(IDD_WELCOME) {}

void CWelcomePage::DoDataExchange(CDataExchange* pDX) {
    CNewWizPage::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_TITLE, m_staticTitle);
}

BOOL CWelcomePage::OnInitDialog() {
    CNewWizPage::OnInitDialog();
    if (!HFONT(m_fontTitle)) {
        m_fontTitle.CreateFont(-12, 0, 0, 0, FW_BOLD, FALSE, FALSE, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "MS Sans Serif");
    }
    m_staticTitle.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(HFONT(m_fontTitle)), TRUE);
    return TRUE;
}

void CWelcomePage::OnEnterPage() { m_pWizard->EnableNext(TRUE); }
