#pragma once
// The wizard's last page: starts the upload worker on every entry and shows what it and the
// driver post (log, progress, the instrument's console, the result), and ends the console phase
// by its Cancel button, one second after the instrument's identity word, or when it is left.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/os/event.h"
#include "platform/os/thread.h"
#include "platform/ui/afxwin.h"
#include "wizard/new_wiz_page.h"

constexpr UINT IDD_UPLOAD = 139;
constexpr int IDC_UPLOAD_PROGRESS = 1046;
constexpr int IDC_UPLOAD_PERCENT = 1047;
constexpr int IDC_UPLOAD_TITLE = 1049;
constexpr int IDC_UPLOAD_LOG = 1061;
constexpr int IDC_ICON_DONE = 1062;
constexpr int IDC_ICON_FAILED = 1063;
constexpr int IDC_ICON_UNSURE = 1064;
constexpr int IDC_UPLOAD_CANCEL = 1065;
constexpr int IDC_ICON_BUSY = 1066;
constexpr UINT_PTR ID_STOP_TIMER = 1;
// Posted by the first console byte of a batch: the bytes that came meanwhile go into the log in
// one update, so a chatty console costs one text change per batch instead of one per byte.
constexpr UINT WM_UPLOAD_CONSOLE_FLUSH = WM_USER + 1011;

class CUploadPage : public CNewWizPage {
public:
    // The package members the upload hands the driver; read-only for the life of the process.
    CUploadPage(const unsigned char* pImage, uint32_t nImageSize, const unsigned char* pModelKey,
                uint32_t nModelKeySize, const unsigned char* pBlankKey, uint32_t nBlankKeySize);
    // The same members, taken from the embedded package.
    CUploadPage();
    ~CUploadPage() override;

    // Stops and releases the worker: the stop event, then its exit code polled every 10 ms.
    // Nothing when no worker exists.
    void StopUploadThread();

    CString m_strPortPath;
    std::unique_ptr<platform::Thread> m_pUploadThread;
    std::unique_ptr<platform::Event> m_hStopEvent;
    int m_nResult = 0;  // 0 nothing programmed, 1 programmed, 2 the instrument showed its identity
    const unsigned char* m_pImage = nullptr;
    uint32_t m_nImageSize = 0;
    const unsigned char* m_pModelKey = nullptr;
    uint32_t m_nModelKeySize = 0;
    const unsigned char* m_pBlankKey = nullptr;
    uint32_t m_nBlankKeySize = 0;
    CProgressCtrl m_progress;
    CStatic m_staticPercent;
    CStatic m_staticTitle;
    CString m_strTitle;
    CEdit m_editLog;
    CStatic m_iconBusy;
    CStatic m_iconDone;
    CStatic m_iconUnsure;
    CStatic m_iconFailed;
    CButton m_btnCancel;

    BOOL OnLeavePage() override;
    void OnEnterPage() override;
    BOOL OnQueryCancel() override { return TRUE; }
    int OnBackRequest() override;

    LRESULT OnUploadStarted(WPARAM, LPARAM);
    LRESULT OnUploadFinished(WPARAM, LPARAM);
    LRESULT OnConsoleOpened(WPARAM, LPARAM);
    LRESULT OnConsoleChar(WPARAM wParam, LPARAM);
    LRESULT OnConsoleFlush(WPARAM, LPARAM);
    LRESULT OnEngineText(WPARAM wParam, LPARAM lParam);
    LRESULT OnEngineProgress(WPARAM wParam, LPARAM lParam);
    void OnTimer(UINT_PTR id);
    void OnCancelClicked();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    DECLARE_MESSAGE_MAP()

private:
    void AppendToLog(const CString& part);
    // Every other message of the worker comes after the console bytes posted before it: the
    // pending ones go into the log first.
    void FlushConsole();
    std::string m_strPendingConsole;
    bool m_bFlushPosted = false;
    void EnableWizardButtons(BOOL enable);
    // From the worker's start until WM_UPLOAD_FINISHED: Back is refused even in the moment after
    // entry in which the wizard has enabled it again.
    bool m_bUploading = false;
};
