#include "upload/upload_page.h"

#include "app/master_dlg.h"
#include "device/console_reader.h"
#include "pages/connect_usb_page.h"
#include "pages/welcome_page.h"
#include "platform/os/clock.h"
#include "upload/engine_window_output.h"
#include "upload/firmware_package.h"
#include "upload/upload_thread.h"
#include "wizard/new_wiz_dialog.h"

namespace {

constexpr uint32_t STOP_POLL_MS = 10;
constexpr uint32_t STOP_DELAY_MS = 1000;
constexpr const char IDENTITY_WORD[] = "ZantirKORAL";

}  // namespace

BEGIN_MESSAGE_MAP(CUploadPage, CNewWizPage)
ON_MESSAGE(WM_UPLOAD_STARTED, &CUploadPage::OnUploadStarted)
ON_MESSAGE(WM_UPLOAD_FINISHED, &CUploadPage::OnUploadFinished)
ON_MESSAGE(WM_CONSOLE_OPENED, &CUploadPage::OnConsoleOpened)
ON_MESSAGE(WM_CONSOLE_CHAR, &CUploadPage::OnConsoleChar)
ON_MESSAGE(WM_UPLOAD_CONSOLE_FLUSH, &CUploadPage::OnConsoleFlush)
ON_MESSAGE(WM_ENGINE_TEXT, &CUploadPage::OnEngineText)
ON_MESSAGE(WM_ENGINE_PROGRESS, &CUploadPage::OnEngineProgress)
ON_WM_TIMER()
ON_BN_CLICKED(IDC_UPLOAD_CANCEL, &CUploadPage::OnCancelClicked)
END_MESSAGE_MAP()

CUploadPage::CUploadPage(const unsigned char* pImage, uint32_t nImageSize, const unsigned char* pModelKey,
                         uint32_t nModelKeySize, const unsigned char* pBlankKey, uint32_t nBlankKeySize)
    : CNewWizPage(IDD_UPLOAD),
      m_pImage(pImage),
      m_nImageSize(nImageSize),
      m_pModelKey(pModelKey),
      m_nModelKeySize(nModelKeySize),
      m_pBlankKey(pBlankKey),
      m_nBlankKeySize(nBlankKeySize) {}

CUploadPage::CUploadPage()
    : CUploadPage(firmwareResource(ID_FIRMWARE_IMAGE).data, firmwareResource(ID_FIRMWARE_IMAGE).size,
                  firmwareResource(ID_FIRMWARE_MODEL_KEY).data, firmwareResource(ID_FIRMWARE_MODEL_KEY).size,
                  firmwareResource(ID_FIRMWARE_BLANK_KEY).data, firmwareResource(ID_FIRMWARE_BLANK_KEY).size) {}

// The wizard stops the worker through OnLeavePage before the page goes; this only keeps a worker
// from outliving its page when that did not happen.
CUploadPage::~CUploadPage() { StopUploadThread(); }

void CUploadPage::DoDataExchange(CDataExchange* pDX) {
    CNewWizPage::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_UPLOAD_PROGRESS, m_progress);
    DDX_Control(pDX, IDC_UPLOAD_PERCENT, m_staticPercent);
    DDX_Control(pDX, IDC_UPLOAD_TITLE, m_staticTitle);
    DDX_Control(pDX, IDC_UPLOAD_LOG, m_editLog);
    DDX_Control(pDX, IDC_ICON_BUSY, m_iconBusy);
    DDX_Control(pDX, IDC_ICON_DONE, m_iconDone);
    DDX_Control(pDX, IDC_ICON_UNSURE, m_iconUnsure);
    DDX_Control(pDX, IDC_ICON_FAILED, m_iconFailed);
    DDX_Control(pDX, IDC_UPLOAD_CANCEL, m_btnCancel);
}

BOOL CUploadPage::OnInitDialog() {
    CNewWizPage::OnInitDialog();
    m_staticTitle.GetWindowText(m_strTitle);
    return TRUE;
}

BOOL CUploadPage::OnLeavePage() {
    StopUploadThread();
    return TRUE;
}

void CUploadPage::OnEnterPage() {
    m_editLog.SetWindowText("");
    m_strPendingConsole.clear();
    m_progress.SetRange32(0, 1);
    m_progress.SetPos(0);
    m_staticPercent.SetWindowText("");
    m_staticTitle.SetWindowText(m_strTitle.c_str());
    m_iconBusy.ShowWindow(SW_SHOW);
    m_iconDone.ShowWindow(SW_HIDE);
    m_iconUnsure.ShowWindow(SW_HIDE);
    m_iconFailed.ShowWindow(SW_HIDE);
    m_btnCancel.EnableWindow(FALSE);
    auto* wizard = dynamic_cast<CMasterDlg*>(m_pWizard);
    m_strPortPath.Format("\\\\.\\COM%d", wizard ? wizard->m_nComPort : -1);

    StopUploadThread();  // a worker left from an entry that was never left would be lost
    m_hStopEvent = platform::createManualResetEvent(false);
    if (!m_hStopEvent) return;
    setEngineOutputWindow(m_hWnd);
    std::unique_ptr<platform::Thread> thread = platform::createSuspendedThread([this] { return UploadThreadProc(this); });
    if (!thread) {
        m_hStopEvent.reset();
        return;
    }
    // Nothing may leave the page or close the wizard from here on until the worker has finished.
    m_bUploading = true;
    EnableWizardButtons(FALSE);
    m_pUploadThread = std::move(thread);
    if (!m_pUploadThread->resume()) {
        // Never started, so it would answer STILL_ACTIVE for ever: let it go unstopped.
        m_pUploadThread.reset();
        m_hStopEvent.reset();
        m_bUploading = false;
        EnableWizardButtons(TRUE);
    }
}

int CUploadPage::OnBackRequest() {
    if (m_bUploading) return -1;
    // Without the welcome page (started at the power-cycling page) Back did nothing, although the
    // wizard's boxes say "Hit Back to try again": the power-cycling page is where that list begins.
    if (m_pWizard && !m_pWizard->FindPageByTemplate(IDD_WELCOME)) return int(IDD_CONNECT2);
    return int(IDD_WELCOME);
}

void CUploadPage::StopUploadThread() {
    if (!m_pUploadThread) return;
    m_hStopEvent->set();
    do {
        platform::sleepMs(STOP_POLL_MS);
    } while (m_pUploadThread->exitCode() == platform::THREAD_STILL_ACTIVE);
    m_hStopEvent.reset();
    m_pUploadThread.reset();
}

void CUploadPage::EnableWizardButtons(BOOL enable) {
    if (!m_pWizard) return;
    m_pWizard->EnableBack(enable);
    if (CWnd* close = m_pWizard->GetDlgItem(IDCANCEL)) close->EnableWindow(enable);
}

LRESULT CUploadPage::OnUploadStarted(WPARAM, LPARAM) {
    EnableWizardButtons(FALSE);
    return 0;
}

LRESULT CUploadPage::OnConsoleOpened(WPARAM, LPARAM) {
    m_btnCancel.EnableWindow(TRUE);
    return 0;
}

void CUploadPage::OnCancelClicked() {
    m_btnCancel.EnableWindow(FALSE);
    StopUploadThread();
}

LRESULT CUploadPage::OnEngineText(WPARAM wParam, LPARAM lParam) {
    FlushConsole();
    char* text = reinterpret_cast<char*>(lParam);
    CString part(text ? text : "");
    if (wParam != 0) freeEngineText(text);
    part.Replace("\n", "\r\n");
    AppendToLog(part);
    return 0;
}

LRESULT CUploadPage::OnConsoleChar(WPARAM wParam, LPARAM) {
    // A NUL ends the text as the box would take it, so it leaves no trace.
    if (char(wParam) != '\0') m_strPendingConsole += char(wParam);
    if (!m_bFlushPosted) {
        m_bFlushPosted = PostMessage(WM_UPLOAD_CONSOLE_FLUSH, 0, 0) != 0;
        if (!m_bFlushPosted) FlushConsole();
    }
    return 0;
}

LRESULT CUploadPage::OnConsoleFlush(WPARAM, LPARAM) {
    m_bFlushPosted = false;
    FlushConsole();
    return 0;
}

void CUploadPage::FlushConsole() {
    if (m_strPendingConsole.empty()) return;
    CString log;
    m_editLog.GetWindowText(log);
    // The word may have begun in the last batch.
    size_t from = log.size() < sizeof IDENTITY_WORD ? 0 : log.size() - (sizeof IDENTITY_WORD - 2);
    log += m_strPendingConsole;
    m_strPendingConsole.clear();
    m_editLog.SetWindowText(log.c_str());
    m_editLog.LineScroll(m_editLog.GetLineCount());
    if (log.find(IDENTITY_WORD, from) != std::string::npos) {
        PostMessage(WM_ENGINE_PROGRESS, 100, 100);
        SetTimer(ID_STOP_TIMER, STOP_DELAY_MS, nullptr);
        m_nResult = 2;
    }
}

void CUploadPage::OnTimer(UINT_PTR) {
    KillTimer(ID_STOP_TIMER);
    StopUploadThread();
}

LRESULT CUploadPage::OnEngineProgress(WPARAM wParam, LPARAM lParam) {
    uint32_t done = uint32_t(wParam);
    uint32_t total = uint32_t(lParam);
    if (total == 0) return 0;  // nothing to show a share of
    int lower = 0, upper = 0;
    m_progress.GetRange(lower, upper);
    if (uint32_t(upper) != total) m_progress.SetRange32(0, int(total));
    uint32_t percent = done * 100u / total;
    CString text;
    text.Format("%d%% complete", int(percent));
    m_staticPercent.SetWindowText(text.c_str());
    m_progress.SetPos(int(done));
    return 0;
}

LRESULT CUploadPage::OnUploadFinished(WPARAM, LPARAM) {
    FlushConsole();
    m_btnCancel.EnableWindow(FALSE);
    m_iconBusy.ShowWindow(SW_HIDE);
    m_progress.SetPos(0);
    switch (m_nResult) {
    case 0: m_iconFailed.ShowWindow(SW_SHOW); break;
    case 1: m_iconUnsure.ShowWindow(SW_SHOW); break;
    case 2: m_iconDone.ShowWindow(SW_SHOW); break;
    default: break;
    }
    m_bUploading = false;
    EnableWizardButtons(TRUE);
    return 0;
}

void CUploadPage::AppendToLog(const CString& part) {
    CString log;
    m_editLog.GetWindowText(log);
    log += part;
    m_editLog.SetWindowText(log.c_str());
    m_editLog.LineScroll(m_editLog.GetLineCount());
}
