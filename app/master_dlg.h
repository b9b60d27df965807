#pragma once
// The wizard frame of the program: Back, Next and Close, the version label, the place of the
// pages, and what one page finds out for the later ones.
#include "platform/ui/afxwin.h"
#include "wizard/new_wiz_dialog.h"

constexpr UINT IDD_MASTER = 131;
constexpr int IDC_PLACEHOLDER = 1010;
constexpr int IDC_VERSION = 1052;
constexpr int IDI_MAINFRAME = 128;

class CMasterDlg : public CNewWizDialog {
public:
    explicit CMasterDlg(CWnd* parent = nullptr);

    int m_nComPort = -1;  // set by a connect page; -1 stands for "not found"
    CString m_strDevicePath;
    CString m_strVersion;
    HICON m_hIcon;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // Only the Close path ends the wizard.
    void OnOK() override {}
    void OnClose();

    DECLARE_MESSAGE_MAP()
};

// "Version a.b.c (Build d)\n" and the copyright line, from the version block of the program
// file at `path`; empty when it has none. Tries 11 times, 20 ms apart.
CString readVersionLabel(const char* path);
