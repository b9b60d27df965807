#include "upload/upload_thread.h"

#include <algorithm>
#include <cstdio>

#include "app/master_dlg.h"
#include "bsl/bsl.h"
#include "device/console_reader.h"
#include "device/cp210x.h"
#include "device/discovery.h"
#include "platform/os/clock.h"
#include "platform/ui/model.h"
#include "upload/engine_window_output.h"
#include "upload/upload_page.h"

namespace {

constexpr int BRIDGE_POLLS = 41;
constexpr uint32_t BRIDGE_POLL_MS = 250;
constexpr uint32_t SETTLE_MS = 1000;
constexpr uint32_t ANSWER_TIMEOUT_MS = 300;
constexpr uint32_t ANSWER_FACTOR = 4;
constexpr uint32_t CONSOLE_BAUD = 115200;

void post(const UploadJob& job, UINT message) { ui::postMessage(job.window, message, 0, 0); }
void postText(const UploadJob& job, const char* text) {
    ui::postMessage(job.window, WM_ENGINE_TEXT, 0, reinterpret_cast<LPARAM>(text));
}

bool listed(const DeviceList& list, const CString& path, size_t* index = nullptr) {
    auto at = std::find(list.begin(), list.end(), path);
    if (index) *index = size_t(at - list.begin());
    return at != list.end();
}

// Resets the instrument's bridge and waits until it is back.
bool resetBridge(const UploadJob& job) {
    DeviceList devices;
    GetDeviceList(devices);
    size_t index = 0;
    if (!listed(devices, job.devicePath, &index)) {
        TellOperator("Cound not find device to reset");
        return false;
    }
    CP210x_HANDLE handle = nullptr;
    if (CP210x_Open(uint32_t(index), &handle) != 0) {
        TellOperator("Could not open device");
        return false;
    }
    postText(job, "Resetting device...\n");
    if (CP210x_Reset(handle) != 0) {
        TellOperator("Could not reset device");
        CP210x_Close(handle);
        return false;
    }
    CP210x_Close(handle);
    postText(job, "Waiting for device...\n");
    for (int poll = 0; poll < BRIDGE_POLLS; ++poll) {
        platform::sleepMs(BRIDGE_POLL_MS);
        GetDeviceList(devices);
        if (listed(devices, job.devicePath)) return true;
    }
    TellOperator("Timeout waiting for device after reset");
    return false;
}

// The instrument's start-up text, byte by byte, until the page sets the stop event.
void readConsole(const UploadJob& job) {
    platform::sleepMs(SETTLE_MS);
    postText(job,
             "\n\nFirmware has been uploaded.\n\nPlease flip the switch to the On position (down)...\n"
             "(Hit Cancel if nothing happens)\n");
    if (openSerialPort(job.portPath.c_str(), ANSWER_TIMEOUT_MS, ANSWER_FACTOR) != BSL_OK) {
        TellOperator("Open of COM Port failed\n");
        return;
    }
    if (setBaudRate(CONSOLE_BAUD) != BSL_OK) {
        TellOperator("Could not change baud rate to 115200\n");
    } else {
        post(job, WM_CONSOLE_OPENED);
        ReadConsoleUntilStopped(job.window, *job.stopEvent);
    }
    closeSerialPort();
}

// Every failure returns at once; the caller's end step follows.
void uploadSteps(UploadJob& job) {
    // The engine keeps the loader identity and the patch flags from run to run. An earlier upload
    // (another instrument, or a cut-short identity read that left a patch demanded which the
    // program does not carry) must not decide this one: each upload starts as a fresh program.
    bslResetState();
    bool useBlankKey = true;
    CString firstPath, firstText;
    if (!ReadAndSaveInfoA(job.driver, firstPath, firstText, useBlankKey)) return;
    if (!AgreesWithKeptCalibrations(job.driver, firstPath, firstText, useBlankKey)) return;

    if (RunDriver(job.driver, useBlankKey, {"-m3", "+aepvr", "firmware.txt"}, job.image, job.imageSize) != 0) return;
    *job.result = 1;

    CString secondPath, secondText;
    if (!ReadAndSaveInfoA(job.driver, secondPath, secondText, useBlankKey)) return;
    DeleteOwnBackup(secondPath);
    if (secondText != firstText) {
        TellOperator("Programming unsuccessful - InfoA has changed");
        return;
    }
    // The firmware is in place and InfoA read back unchanged: no copy of it is needed any more,
    // neither this reading's nor one kept from an earlier, cut upload of this instrument.
    DeleteOwnBackup(firstPath);
    DeleteBackupsOf(firstText);

    if (!resetBridge(job)) return;
    readConsole(job);
}

}  // namespace

UINT RunUpload(UploadJob& job) {
    post(job, WM_UPLOAD_STARTED);
    *job.result = 0;
    try {
        uploadSteps(job);
    } catch (...) {
        // Out of memory or a file facility failing: the end step all the same, port closed.
        if (serialPortOpen()) closeSerialPort();
    }
    postText(job, "\nIt is now safe to remove the USB cable.\n");
    post(job, WM_UPLOAD_FINISHED);
    return 0;
}

UINT UploadThreadProc(void* pParam) {
    auto* page = static_cast<CUploadPage*>(pParam);
    auto* wizard = dynamic_cast<CMasterDlg*>(page->m_pWizard);
    UploadJob job;
    job.window = page->GetSafeHwnd();
    job.driver.portOption = "-c" + page->m_strPortPath;
    job.driver.blankKey = reinterpret_cast<const char*>(page->m_pBlankKey);
    job.driver.blankKeySize = page->m_nBlankKeySize;
    job.driver.modelKey = reinterpret_cast<const char*>(page->m_pModelKey);
    job.driver.modelKeySize = page->m_nModelKeySize;
    job.portPath = page->m_strPortPath;
    if (wizard) job.devicePath = wizard->m_strDevicePath;
    job.image = reinterpret_cast<const char*>(page->m_pImage);
    job.imageSize = page->m_nImageSize;
    job.stopEvent = page->m_hStopEvent.get();
    job.result = &page->m_nResult;
    return RunUpload(job);
}
