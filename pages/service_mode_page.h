#pragma once
// The service-mode page: the operator puts the instrument into programming mode with its On
// switch while the page shows the instrument's console live; Next is enabled once the console
// has said so, or once the operator chose the power-cycling procedure instead.
#include <string>

#include "device/console_reader.h"
#include "platform/ui/afxwin.h"
#include "wizard/new_wiz_page.h"

constexpr UINT IDD_SERVICEMODE = 142;
constexpr int IDC_CONSOLE = 1060;
constexpr int IDC_POWERCYCLING = 1050;

// The console box keeps at most this many characters; beyond it the oldest lines go, leaving
// about CONSOLE_KEEP, so every byte costs the same however long the instrument talks.
constexpr size_t CONSOLE_CAPACITY = 4096;
constexpr size_t CONSOLE_KEEP = 2048;
// Posted by the first console byte of a batch: the bytes that came meanwhile go into the box in
// one update, so a chatty console costs one text change per batch instead of one per byte.
constexpr UINT WM_CONSOLE_FLUSH = WM_USER + 1010;

class CServiceModePage : public CNewWizPage, public CConsoleMonitor {
public:
    CServiceModePage();

    bool m_bModeSeen = false;      // a programming-mode marker arrived since the page was entered
    bool m_bPowerCycling = false;  // the operator ticked the box (kept here, not read back)
    CEdit m_editConsole;
    CButton m_chkPowerCycling;
    std::string m_strPendingConsole;  // bytes not yet in the box
    bool m_bFlushPosted = false;

    void OnEnterPage() override;
    BOOL OnLeavePage() override;
    // 0: the power-cycling page next in the list; else a jump to the upload page (139).
    int OnNextRequest() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    LRESULT OnConsoleChar(WPARAM wParam, LPARAM lParam);
    LRESULT OnConsoleFlush(WPARAM wParam, LPARAM lParam);
    void OnPowerCyclingClicked();

    DECLARE_MESSAGE_MAP()
};

// Drops the oldest lines of `text` once it exceeds CONSOLE_CAPACITY, keeping at least the last
// CONSOLE_KEEP characters and never a marker still arriving at the end.
void trimConsoleText(CString& text);
