#include "pages/connect_usb_page.h"

#include <algorithm>

#include "app/master_dlg.h"
#include "device/cp210x.h"
#include "platform/os/windows_version.h"
#include "wizard/new_wiz_dialog.h"

BEGIN_MESSAGE_MAP(CConnectUSBPage, CNewWizPage)
ON_WM_TIMER()
END_MESSAGE_MAP()

CConnectUSBPage::CConnectUSBPage() : CConnectUSBPage(IDD_CONNECT) {}

CConnectUSBPage::CConnectUSBPage(UINT templateId) : CNewWizPage(templateId), m_bAutoAdvance(true) {}

CConnectUSBPage2::CConnectUSBPage2() : CConnectUSBPage(IDD_CONNECT2) { m_bAutoAdvance = false; }

void CConnectUSBPage::OnEnterPage() {
    m_pWizard->EnableNext(FALSE);
    // Whatever is attached now counts as known: only a bridge plugged in from now on is taken.
    GetDeviceList(m_knownDevices);
    SetTimer(ID_CONNECT_TIMER, CONNECT_TIMER_MS, nullptr);
}

BOOL CConnectUSBPage::OnLeavePage() {
    KillTimer(ID_CONNECT_TIMER);
    return TRUE;
}

void CConnectUSBPage::OnTimer(UINT_PTR) {
    DeviceList devices;
    GetDeviceList(devices);  // a failed listing counts as the entries it got
    auto isKnown = [this](const std::string& d) {
        return std::find(m_knownDevices.begin(), m_knownDevices.end(), d) != m_knownDevices.end();
    };
    auto fresh = std::find_if_not(devices.begin(), devices.end(), isKnown);
    if (fresh == devices.end()) {
        // An unplugged bridge leaves the known list here, so plugging it in again is seen.
        m_knownDevices = devices;
        return;
    }
    // The known list stays as it was: while the page is shown, every tick finds this bridge again.
    CP210x_HANDLE handle = nullptr;
    if (CP210x_Open(uint32_t(fresh - devices.begin()), &handle) != 0) return;
    uint16_t vid = 0, pid = 0;
    if (CP210x_GetDeviceVid(handle, &vid) != 0 || CP210x_GetDevicePid(handle, &pid) != 0) {
        CP210x_Close(handle);
        return;
    }
    char serial[CP210x_SERIAL_BUFFER_SIZE];
    uint8_t length = 0;
    if (CP210x_GetDeviceSerialNumber(handle, serial, &length, 1) != 0) {
        CP210x_Close(handle);
        return;
    }
    // A length beyond the buffer would end the text past it.
    serial[std::min<size_t>(length, sizeof serial - 1)] = 0;
    CP210x_Close(handle);

    // Windows 95/98/Me (top bit set, major version 4) keep the port under another key.
    bool windows9x = (platform::getVersion() & 0x8000000Fu) == 0x80000004u;
    int port = windows9x ? GetPortFromSlabcrEnum(vid, pid, serial) : GetPortFromUsbEnum(vid, pid, serial);

    auto* master = static_cast<CMasterDlg*>(m_pWizard);
    master->m_nComPort = port;
    master->m_strDevicePath = *fresh;
    m_pWizard->EnableNext(TRUE);
    if (m_bAutoAdvance) m_pWizard->GoNext();
}
