#pragma once
// The upload worker: both InfoA readings around the program run, the bridge reset and the console
// phase, on a thread of its own. It reaches the page only through posted messages and the
// toolkit's boxes and file dialog, which wait for the operator's answer.
#include <cstdint>

#include "platform/os/event.h"
#include "platform/ui/afxwin.h"
#include "upload/infoa.h"

constexpr UINT WM_UPLOAD_STARTED = WM_USER + 1001;
constexpr UINT WM_UPLOAD_FINISHED = WM_USER + 1002;
constexpr UINT WM_CONSOLE_OPENED = WM_USER + 1003;

// What one upload works with, all set before the worker starts.
struct UploadJob {
    HWND window = nullptr;  // the page: every message goes here
    DriverSetup driver;     // port option, password texts, where the operator is asked
    CString portPath;       // "\\.\COM%d"
    CString devicePath;     // the bridge's device-list entry, to find it again for the reset
    const char* image = nullptr;
    uint32_t imageSize = 0;
    platform::Event* stopEvent = nullptr;  // ends the console phase
    int* result = nullptr;                 // 0 nothing programmed, 1 programmed
};

// The whole upload. Whatever fails, it ends by posting "\nIt is now safe to remove the USB
// cable.\n" and WM_UPLOAD_FINISHED. Returns 0.
UINT RunUpload(UploadJob& job);

// The thread body; `pParam` is the CUploadPage that started it.
UINT UploadThreadProc(void* pParam);
