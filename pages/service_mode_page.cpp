#include "pages/service_mode_page.h"

#include <cstring>

#include "app/master_dlg.h"
#include "wizard/new_wiz_dialog.h"

namespace {
constexpr int UPLOAD_PAGE = 139;
constexpr const char* MARKERS[] = {"PROGRAMMING MODE", "BSL ZantirKORAL"};
constexpr size_t LONGEST_MARKER = 16;
}  // namespace

BEGIN_MESSAGE_MAP(CServiceModePage, CNewWizPage)
ON_MESSAGE(WM_CONSOLE_CHAR, &CServiceModePage::OnConsoleChar)
ON_MESSAGE(WM_CONSOLE_FLUSH, &CServiceModePage::OnConsoleFlush)
ON_BN_CLICKED(IDC_POWERCYCLING, &CServiceModePage::OnPowerCyclingClicked)
END_MESSAGE_MAP()

CServiceModePage::CServiceModePage() : CNewWizPage(IDD_SERVICEMODE), CConsoleMonitor(static_cast<CWnd&>(*this)) {}

void CServiceModePage::DoDataExchange(CDataExchange* pDX) {
    CNewWizPage::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_CONSOLE, m_editConsole);
    DDX_Control(pDX, IDC_POWERCYCLING, m_chkPowerCycling);
}

void CServiceModePage::OnEnterPage() {
    m_pWizard->EnableNext(FALSE);
    m_editConsole.SetWindowText("");
    m_strPendingConsole.clear();
    m_bModeSeen = false;
    m_bPowerCycling = false;
    m_chkPowerCycling.SetCheck(BST_UNCHECKED);
    m_strPortPath.Format("\\\\.\\COM%d", static_cast<CMasterDlg*>(m_pWizard)->m_nComPort);
    StartConsoleReader();
}

BOOL CServiceModePage::OnLeavePage() {
    StopConsoleReader();
    return TRUE;
}

int CServiceModePage::OnNextRequest() { return m_bPowerCycling ? 0 : UPLOAD_PAGE; }

LRESULT CServiceModePage::OnConsoleChar(WPARAM wParam, LPARAM) {
    // Bytes a stopped reader left queued belong to a visit that is over; on another page they
    // would enable its Next.
    if (!m_pReaderThread) return 0;
    // A NUL ends the text as the box would take it, so it leaves no trace.
    if (char(wParam) != '\0') m_strPendingConsole += char(wParam);
    if (!m_bFlushPosted) {
        m_bFlushPosted = PostMessage(WM_CONSOLE_FLUSH, 0, 0) != 0;
        if (!m_bFlushPosted) OnConsoleFlush(0, 0);
    }
    return 0;
}

LRESULT CServiceModePage::OnConsoleFlush(WPARAM, LPARAM) {
    m_bFlushPosted = false;
    std::string bytes = std::move(m_strPendingConsole);
    m_strPendingConsole.clear();
    if (!m_pReaderThread || bytes.empty()) return 0;
    CString text;
    m_editConsole.GetWindowText(text);
    text += bytes;
    // Searched before trimming: a batch may carry a marker past the part the box keeps.
    bool found = text.find(MARKERS[0]) != std::string::npos || text.find(MARKERS[1]) != std::string::npos;
    trimConsoleText(text);
    m_editConsole.SetWindowText(text.c_str());
    m_editConsole.LineScroll(m_editConsole.GetLineCount(), 0);
    // Seen stays seen, also once the trimming has dropped the marker from the box.
    if (found || m_bModeSeen) {
        m_pWizard->EnableNext(TRUE);
        m_bModeSeen = true;
    }
    return 0;
}

void CServiceModePage::OnPowerCyclingClicked() {
    m_bPowerCycling = !m_bPowerCycling;
    m_pWizard->EnableNext(m_bPowerCycling || m_bModeSeen);
}

void trimConsoleText(CString& text) {
    if (text.size() <= CONSOLE_CAPACITY) return;
    size_t cut = text.size() - CONSOLE_KEEP;
    size_t lineStart = text.find('\n', cut);
    if (lineStart != std::string::npos && lineStart + 1 + LONGEST_MARKER <= text.size()) cut = lineStart + 1;
    text.erase(0, cut);
}
