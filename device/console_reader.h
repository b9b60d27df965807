#pragma once
// The instrument's console, read on a worker thread while the service-mode page is shown: every
// received byte reaches the page's window as one posted WM_CONSOLE_CHAR.
#include <memory>

#include "platform/os/event.h"
#include "platform/os/thread.h"
#include "platform/ui/afxwin.h"

// wParam: the received byte, 0-255; lParam: 0. Nothing to free.
constexpr UINT WM_CONSOLE_CHAR = WM_USER + 1004;

// The console monitor's part of the page that owns it. The thread object and the stop event
// exist only while a reader runs; the page deletes both in StopConsoleReader.
class CConsoleMonitor {
public:
    // `owner` is the window the bytes are posted to.
    explicit CConsoleMonitor(CWnd& owner) : m_wndOwner(owner) {}
    // The wizard stops the reader through OnLeavePage before any page object goes; this only
    // keeps a reader from outliving its page when that did not happen.
    ~CConsoleMonitor() { StopConsoleReader(); }
    CConsoleMonitor(const CConsoleMonitor&) = delete;
    CConsoleMonitor& operator=(const CConsoleMonitor&) = delete;

    // Stop event, then the thread created suspended, then resumed. Nothing starts (and nothing
    // is reported) when either cannot be created.
    void StartConsoleReader();
    // Signals the event and polls the thread's exit code every 10 ms, without a time limit;
    // then closes the event and deletes the thread object. Nothing when no reader runs.
    void StopConsoleReader();

    std::unique_ptr<platform::Thread> m_pReaderThread;
    std::unique_ptr<platform::Event> m_hStopEvent;
    CString m_strPortPath;  // "\\.\COM%d", formatted by the page before it starts the reader
    CWnd& m_wndOwner;
};

// The reader's body: opens m_strPortPath at 9600 8E1, switches to 115200, posts every byte
// until the stop event is set, closes the port. Always 0.
UINT ConsoleReaderThread(CConsoleMonitor* pPage);

// The read loop on an open port, also run by the upload worker: unless `stop` is set already,
// polls for input 1 ms at a time, reads and posts every queued byte to `window` (then sleeps
// 1 ms), and looks at `stop` without waiting after each round.
void ReadConsoleUntilStopped(HWND window, platform::Event& stop);
