#pragma once
// The first page: names the wizard and says what is about to happen.
#include "platform/ui/afxwin.h"
#include "wizard/new_wiz_page.h"

constexpr UINT IDD_WELCOME = 136;
constexpr int IDC_TITLE = 1018;

class CWelcomePage : public CNewWizPage {
public:
    CWelcomePage();

    CStatic m_staticTitle;
    CFont m_fontTitle;  // lives as long as the page object, so the title never loses it

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnEnterPage() override;
};
