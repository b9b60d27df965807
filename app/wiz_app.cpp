#include "app/wiz_app.h"

#include <cctype>
#include <cstdio>
#include <memory>

#include "app/master_dlg.h"
#include "device/cp210x.h"
#include "device/module_loader.h"
#include "pages/connect_usb_page.h"
#include "pages/service_mode_page.h"
#include "pages/welcome_page.h"
#include "platform/os/resources.h"
#include "upload/firmware_package.h"
#include "upload/upload_page.h"
#include "vendor/file_bridges.h"
#include "vendor/sim_bridges.h"

namespace {

bool equalsIgnoringCase(const char* a, const char* b) {
    while (*a && std::toupper(static_cast<unsigned char>(*a)) == std::toupper(static_cast<unsigned char>(*b))) ++a, ++b;
    return *a == *b;
}

}  // namespace

void CWizAppCommandLineInfo::ParseParam(const char* param, BOOL isFlag, BOOL isLast) {
    if (isFlag && equalsIgnoringCase(param, "SKIPSERVICE")) {
        m_bSkipService = TRUE;
        return;
    }
    if (isFlag && equalsIgnoringCase(param, "SIMULATE")) {
        m_bSimulate = TRUE;
        return;
    }
    if (isFlag && std::string(param).rfind("-bridge-list=", 0) == 0) {
        m_strBridgeList = std::string(param).substr(13);
        return;
    }
    // "--sim-..." arrives as "-sim-..." with its first dash taken as the flag; one we do not
    // know is ignored like any other switch.
    if (isFlag && std::string(param).rfind("-sim-", 0) == 0) {
        std::string error;
        switch (parseSimulationOption(std::string("-") + param, m_simulation, error)) {
            case sim::OptionParse::Taken: return;
            case sim::OptionParse::Malformed:
                if (m_strSimulationError.empty()) m_strSimulationError = error;
                return;
            case sim::OptionParse::NotOurs: break;
        }
    }
    CCommandLineInfo::ParseParam(param, isFlag, isLast);
}

int ExitStatusForResult(int result) {
    switch (result) {
        case 2: return EXIT_STARTED;
        case 1: return EXIT_UNCONFIRMED;
        default: return EXIT_NOT_PROGRAMMED;
    }
}

BOOL CWizApp::InitInstance() {
    CMasterDlg wizard;
    CWelcomePage welcome;
    CConnectUSBPage connect;
    CServiceModePage serviceMode;
    CConnectUSBPage2 powerCycling;
    const platform::Resource image = firmwareResource(ID_FIRMWARE_IMAGE);
    const platform::Resource modelKey = firmwareResource(ID_FIRMWARE_MODEL_KEY);
    const platform::Resource blankKey = firmwareResource(ID_FIRMWARE_BLANK_KEY);
    CUploadPage upload(image.data, image.size, modelKey.data, modelKey.size, blankKey.data, blankKey.size);

    m_pMainWnd = &wizard;
    m_pszAppName = "KoralLoader";
    SetRegistryKey("Zantir");
    ParseCommandLine(m_cmdInfo);

    std::unique_ptr<Simulation> simulation;
    std::string simulationError = m_cmdInfo.m_strSimulationError;
    if (m_cmdInfo.m_bSimulate && simulationError.empty()) simulation = Simulation::create(m_cmdInfo.m_simulation, simulationError);
    {
        std::lock_guard lock(m_simulationLock);
        m_pSimulation = simulation.get();
    }

    vendor::FileBridges bridgeList(m_cmdInfo.m_strBridgeList);
    const platform::Resource dll = platform::findResource("DLL", 6);
    g_pVendorModule = LoadModuleFromMemory(dll.data, dll.size);
    if (!g_pVendorModule) {
        AfxMessageBox("Could not load CP210xManufacturing.dll from memory", MB_OK | MB_ICONEXCLAMATION);
        m_nExitStatus = EXIT_NO_START;
    } else if (m_cmdInfo.m_bSimulate && !simulation) {
        AfxMessageBox(("SIMULATE: " + simulationError).c_str(), MB_OK | MB_ICONEXCLAMATION);
        m_nExitStatus = EXIT_NO_START;
    } else if (simulation && !simulation->attachVendor()) {
        AfxMessageBox("SIMULATE needs the built-in CP210x library; this program carries another one.",
                      MB_OK | MB_ICONEXCLAMATION);
        m_nExitStatus = EXIT_NO_START;
    } else if (!simulation && !m_cmdInfo.m_strBridgeList.empty() && !vendor::installBackend(bridgeList.backend())) {
        AfxMessageBox("--bridge-list needs the built-in CP210x library; this program carries another one.",
                      MB_OK | MB_ICONEXCLAMATION);
        m_nExitStatus = EXIT_NO_START;
    } else {
        if (!m_cmdInfo.m_bSkipService) {
            wizard.AddPage(&welcome, IDD_WELCOME);
            wizard.AddPage(&connect, IDD_CONNECT);
            wizard.AddPage(&serviceMode, IDD_SERVICEMODE);
        }
        wizard.AddPage(&powerCycling, IDD_CONNECT2);
        wizard.AddPage(&upload, IDD_UPLOAD);
        if (simulation) simulation->startOperator(wizard);
        wizard.DoModal();
        m_nExitStatus = ExitStatusForResult(upload.m_nResult);
    }
    std::string saveError;
    if (simulation && !simulation->save(saveError)) {
        std::fprintf(stderr, "KoralLoader: %s\n", saveError.c_str());
        if (m_nExitStatus != EXIT_NO_START) m_nExitStatus = EXIT_NOT_SAVED;
    }
    {
        std::lock_guard lock(m_simulationLock);
        m_pSimulation = nullptr;
    }
    // The simulation hands the library back its own bridges before the library goes.
    simulation.reset();
    if (!m_cmdInfo.m_strBridgeList.empty() && g_pVendorModule) vendor::installBackend(nullptr);
    FreeLoadedModule(g_pVendorModule);
    g_pVendorModule = nullptr;  // nothing may reach the freed library through it
    m_pMainWnd = nullptr;  // the wizard is a local that ends here
    return FALSE;
}
