#pragma once
// The connect pages: they wait for a CP210x bridge to be plugged in while they are shown, then
// store its COM port and path in the wizard and enable Next; the first one also moves on by
// itself. CConnectUSBPage2 belongs to the power-cycling procedure and only enables Next.
#include "device/discovery.h"
#include "platform/ui/afxwin.h"
#include "wizard/new_wiz_page.h"

constexpr UINT IDD_CONNECT = 141;
constexpr UINT IDD_CONNECT2 = 143;
constexpr UINT_PTR ID_CONNECT_TIMER = 1;
constexpr UINT CONNECT_TIMER_MS = 250;

class CConnectUSBPage : public CNewWizPage {
public:
    CConnectUSBPage();
    explicit CConnectUSBPage(UINT templateId);

    DeviceList m_knownDevices;  // bridges that count as already attached
    bool m_bAutoAdvance;        // move to the next page as soon as the bridge is found

    void OnEnterPage() override;
    BOOL OnLeavePage() override;
    // The new-device check, on every tick whatever its id.
    void OnTimer(UINT_PTR nIDEvent);

    DECLARE_MESSAGE_MAP()
};

class CConnectUSBPage2 : public CConnectUSBPage {
public:
    CConnectUSBPage2();
};
